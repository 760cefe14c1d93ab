// Runs named steps one after another once the host is ready; each logs "<name> ok <value>" or
// "<name> fail <message>", or "<name> TIMEOUT" when no answer came. "DONE" ends the run.
var F = webhost.file;
var P = 'whfile://localhost/persistent', T = 'whfile://localhost/temporary';
var steps = [];
function step(name, fn) { steps.push([name, fn]); }
function show(v) { return v instanceof ArrayBuffer ? 'bytes ' + new Uint8Array(v).join(',') : JSON.stringify(v); }
// A failing call's file error code or message, as a resolved value, so that a step can check several.
function failure(promise) { return promise.then((v) => 'ok ' + show(v), (e) => typeof e.code === 'number' ? e.code : e.message); }
function run() {
  var i = 0;
  (function next() {
    if (i >= steps.length) { console.log('DONE'); return; }
    var s = steps[i++];
    var timer = setTimeout(function () { console.log(s[0] + ' TIMEOUT'); next(); }, 30000);
    Promise.resolve().then(s[1]).then((v) => s[0] + ' ok ' + show(v),
      (e) => s[0] + ' fail ' + show(e && typeof e.code === 'number' ? e.code : e && e.message ? e.message : e))
      .then((line) => { clearTimeout(timer); console.log(line); next(); });
  })();
}
webhost.require('webhost/channel').onNativeReady.subscribe(run);
