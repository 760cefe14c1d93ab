#pragma once

namespace penwick::channel {

// The engine's own message by which the UI process tells a page's web process, before each
// main-frame navigation goes out, which file: URLs the coming document may reach: a GVariant of
// kFileReachType, (navigation URL, folders). The folders are the web content folder and the file
// plugin's folders for the app's own pages, "/" alone when the app reaches the whole disk, none
// when the engine's own rules suffice.
inline constexpr const char* kFileReachMessage = "penwick-file-reach";
inline constexpr const char* kFileReachType = "(sas)";

} // namespace penwick::channel
