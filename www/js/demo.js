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

  var exec = webhost.require('webhost/exec');
  show('bridge-state', window.hostbridge ? 'present' : 'absent (opened outside the host)');

  webhost.require('webhost/channel').onNativeReady.subscribe(function () {
    show('native-status', 'The host is ready.');
    // A real call: the device plugin describes the machine. Builds whose config.xml maps no
    // Device service never answer, which the page says after a moment.
    var answered = false;
    var started = performance.now();
    exec.promise('Device', 'getDeviceInfo', []).then(function (info) {
      answered = true;
      var ms = (performance.now() - started).toFixed(1);
      show('device', [info.model, info.platform, info.version].filter(Boolean).join(', ') + ' (answered in ' + ms + ' ms)');
    }, function (error) {
      answered = true;
      show('device', 'the host declined: ' + error);
    });
    setTimeout(function () { if (!answered) show('device', 'no Device service in this build'); }, 1000);
  });
})();
