// Watches a frame of another origin than the main frame's document for the user's trusted input
// and calls `report` on each. Installed before the page's own script, on the window in the capture
// phase, so it runs before any handler of the page (which could navigate the main frame or open a
// file chooser in response).
(function (report) {
  function on(e) { if (e.isTrusted) report(); }
  ['pointerdown', 'mousedown', 'touchstart', 'keydown', 'click'].forEach(function (t) {
    addEventListener(t, on, true);
  });
})
