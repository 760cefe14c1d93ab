// The demo's notes panel: keeps its text in the "persistent" file system, lists the files kept
// there and shows a picture stored there through its whfile URL.
(function () {
  'use strict';
  var file = webhost.file;
  var DIR = 'whfile://localhost/persistent/';
  var NOTES = DIR + 'notes.txt', PICTURE = DIR + 'picture.png';

  var panel = document.createElement('section');
  panel.className = 'card';
  panel.id = 'notes';
  panel.innerHTML = '<h2>Notes</h2><textarea id="notes-text" rows="5" cols="40"></textarea>' +
    '<p><button id="notes-save">Save</button> <span id="notes-status"></span></p>' +
    '<p>Kept here: <span id="notes-files"></span></p><img id="notes-picture" alt="" width="64" height="64">';
  (document.querySelector('main') || document.body).appendChild(panel);
  var text = panel.querySelector('#notes-text'), status = panel.querySelector('#notes-status');

  function say(message) { status.textContent = message; }
  function listFiles() {
    return file.readEntries(DIR).then(function (entries) {
      panel.querySelector('#notes-files').textContent = entries.map(function (e) { return e.name; }).sort().join(', ');
    });
  }
  // A small picture drawn once and kept as a PNG file.
  function ensurePicture() {
    return file.getFile(DIR, 'picture.png', null).catch(function () {
      var canvas = document.createElement('canvas');
      canvas.width = canvas.height = 64;
      var g = canvas.getContext('2d');
      g.fillStyle = '#36c'; g.fillRect(0, 0, 64, 64);
      g.fillStyle = '#fff'; g.font = 'bold 40px sans-serif'; g.fillText('P', 18, 48);
      return new Promise(function (resolve) { canvas.toBlob(resolve, 'image/png'); })
        .then(function (blob) { return blob.arrayBuffer(); })
        .then(function (bytes) {
          return file.getFile(DIR, 'picture.png', { create: true }).then(function () { return file.write(PICTURE, bytes, 0); });
        });
    });
  }

  panel.querySelector('#notes-save').addEventListener('click', function () {
    file.getFile(DIR, 'notes.txt', { create: true })
      .then(function () { return file.write(NOTES, text.value, 0); })
      .then(function (n) { say('saved ' + n + ' bytes'); return listFiles(); })
      .catch(function (e) { say('not saved (error ' + e + ')'); });
  });

  webhost.require('webhost/channel').onNativeReady.subscribe(function () {
    file.readAsText(NOTES).then(function (t) { text.value = t; }, function () { text.value = ''; })
      .then(ensurePicture)
      .then(function () { panel.querySelector('#notes-picture').src = PICTURE; return listFiles(); })
      .catch(function (e) { say('the file system is not available (' + e + ')'); });
  });
})();
