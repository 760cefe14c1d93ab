// Watches a frame of another origin than the main frame's document for the user's first trusted
// input and calls `report` once. Installed before the page's own script, on the window in the
// capture phase, so it runs before any handler of the page (which could navigate the main frame in
// response).
(function (report) {
  var seen = false;
  function on(e) { if (!seen && e.isTrusted) { seen = true; report(); } }
  ['pointerdown', 'mousedown', 'touchstart', 'keydown', 'click'].forEach(function (t) {
    addEventListener(t, on, true);
  });
})
