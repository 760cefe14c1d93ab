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

  function show(id, text) { document.getElementById(id).textContent = text; }

  show('bridge-state', window.hostbridge ? 'present' : 'absent (opened outside the host)');

  webhost.require('webhost/channel').onNativeReady.subscribe(function () {
    show('native-status', 'The host is ready.');
    // The plugins (device, files, export) arrive with later builds; until then the page only
    // shows that the native side found it.
    var count = document.getElementById('ready-count');
    count.textContent = String(parseInt(count.textContent, 10) + 1);
  });
})();
