// The demo's machine panel: what the host says about this machine, an export of a drawing and
// of a note through the save dialog, and a link to the product web site in the user's browser.
(function () {
  'use strict';
  var device = webhost.require('webhost/device');
  var app = webhost.require('webhost/app');

  var section = document.createElement('section');
  section.className = 'card';
  section.id = 'machine';
  section.innerHTML = '<h2>About this machine</h2><dl id="machine-facts"><dd>Waiting for the host…</dd></dl>'
    + '<canvas id="export-canvas" width="160" height="60"></canvas>'
    + '<p><button id="export-png">Export PNG</button> <button id="export-text">Export text</button> '
    + '<a href="#" id="website-link">Visit the web site</a></p>';
  document.querySelector('main').appendChild(section);

  var canvas = document.getElementById('export-canvas');
  var ctx = canvas.getContext('2d');
  ctx.fillStyle = '#7bdef2';
  ctx.fillRect(0, 0, canvas.width, canvas.height);
  ctx.fillStyle = '#123';
  ctx.font = '20px sans-serif';
  ctx.fillText('Penwick', 30, 38);

  function showFacts(info) {
    var list = document.getElementById('machine-facts');
    list.textContent = '';
    ['platform', 'version', 'model', 'manufacturer', 'isVirtual', 'uuid', 'webhost'].forEach(function (key) {
      if (!(key in info)) return;
      var term = document.createElement('dt');
      term.textContent = key;
      var value = document.createElement('dd');
      value.textContent = String(info[key]);
      list.appendChild(term);
      list.appendChild(value);
    });
  }

  webhost.require('webhost/channel').onNativeReady.subscribe(function () {
    device.getDeviceInfo().then(showFacts, function (e) {
      document.getElementById('machine-facts').textContent = 'Not available: ' + e;
    });
  });

  document.getElementById('export-png').addEventListener('click', function () {
    app.saveAs('drawing', 'png', canvas.toDataURL('image/png').split(',')[1]);
  });
  document.getElementById('export-text').addEventListener('click', function () {
    app.saveAs('note', 'txt', 'Exported from the Penwick demo on ' + new Date().toISOString() + '\n');
  });
  document.getElementById('website-link').addEventListener('click', function (event) {
    event.preventDefault();
    app.openUrl('https://www.penwick.example/', '_system');
  });
})();
