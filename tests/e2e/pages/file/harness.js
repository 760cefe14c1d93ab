// Runs named steps one after another once the host is ready; each logs "<name> ok <value>" or
// "<name> fail <message>", or "<name> TIMEOUT" when no answer came. "DONE" ends the run.
var F = webhost.file;
var P = 'whfile://localhost/persistent', T = 'whfile://localhost/temporary';
var steps = [];
function step(name, fn) { steps.push([name, fn]); }
function show(v) { return v instanceof ArrayBuffer ? 'bytes ' + new Uint8Array(v).join(',') : JSON.stringify(v); }
// A failing call's file error code or message, as a resolved value, so that a step can check several.
function failure(promise) { return promise.then((v) => 'ok ' + show(v), (e) => typeof e.code === 'number' ? e.code : e.message); }
function run(i = 0) {
  if (i >= steps.length) return console.log('DONE');
  const [name, fn] = steps[i], timer = setTimeout(() => { console.log(name + ' TIMEOUT'); run(i + 1); }, 30000);
  Promise.resolve().then(fn).then((v) => name + ' ok ' + show(v),
    (e) => name + ' fail ' + show(e && typeof e.code === 'number' ? e.code : e && e.message ? e.message : e))
    .then((line) => { clearTimeout(timer); console.log(line); run(i + 1); });
}
webhost.require('webhost/channel').onNativeReady.subscribe(() => run());
