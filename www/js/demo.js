(function () {
  'use strict';
  document.getElementById('started').textContent = new Date().toLocaleString();

  try {
    var visits = parseInt(localStorage.getItem('demo.visits') || '0', 10) + 1;
    localStorage.setItem('demo.visits', String(visits));
    document.getElementById('visits').textContent = String(visits);
  } catch (e) {
    document.getElementById('visits').textContent = 'unavailable';
  }

  var canvas = document.getElementById('glcanvas');
  var gl = canvas.getContext('webgl');
  document.getElementById('webgl').textContent = gl ? 'available' : 'not available';
  if (gl) {
    gl.clearColor(0.48, 0.87, 0.95, 1.0);
    gl.clear(gl.COLOR_BUFFER_BIT);
  }

  window.onNativeReadyForDemo = function () {
    document.getElementById('native-status').textContent = 'The host is ready.';
  };
  if (window._nativeReady) window.onNativeReadyForDemo();
})();
