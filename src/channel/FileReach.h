#pragma once

namespace penwick::channel {

// The engine's own message by which the UI process tells a page's web process, before each
// main-frame navigation goes out, which file: URLs the coming document may reach: a GVariant of
// kFileReachType, (navigation URL, folder). The folder is the web content folder for the app's own
// pages, "/" when the app reaches the whole disk, "" when the engine's own rules suffice.
inline constexpr const char* kFileReachMessage = "penwick-file-reach";
inline constexpr const char* kFileReachType = "(ss)";

} // namespace penwick::channel
