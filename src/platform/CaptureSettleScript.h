#pragma once

namespace penwick::platform {

// Settles once the page has: its load event, its fonts, two animation frames, and the promise the
// page may put in `window.penwickCaptureReady` (a page that draws after loading data says so).
inline constexpr const char* kCaptureSettleScript = "return new Promise(function (resolve) {"
                                                     "  function frames() {"
                                                     "    requestAnimationFrame(function () { requestAnimationFrame(function () { resolve(true); }); });"
                                                     "  }"
                                                     "  function loaded() {"
                                                     "    var fonts = document.fonts && document.fonts.ready ? document.fonts.ready : null;"
                                                     "    Promise.all([fonts, window.penwickCaptureReady]).then(frames, frames);"
                                                     "  }"
                                                     "  if (document.readyState === 'complete') loaded();"
                                                     "  else window.addEventListener('load', loaded, { once: true });"
                                                     "});";

} // namespace penwick::platform
