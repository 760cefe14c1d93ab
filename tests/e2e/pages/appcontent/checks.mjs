// Each check answers a line for the log, within a few seconds.
function within(promise) {
  return Promise.race([promise, new Promise(function (resolve) { setTimeout(function () { resolve('timed out'); }, 5000); })]);
}
function refusedOr(promise) { return promise.catch(function (e) { return 'refused'; }); }

export function fetchText(url) {
  return within(refusedOr(fetch(url).then(function (r) { return r.text(); }).then(function (t) { return t.trim(); })));
}
export function xhrText(url) {
  return within(new Promise(function (resolve) {
    var xhr = new XMLHttpRequest();
    xhr.onload = function () { resolve(xhr.responseText.trim()); };
    xhr.onerror = function () { resolve('refused'); };
    try { xhr.open('GET', url); xhr.send(); } catch (e) { resolve('refused'); }
  }));
}
export function workerAnswer(url, options) {
  return within(refusedOr(new Promise(function (resolve, reject) {
    var worker = new Worker(url, options);
    worker.onmessage = function (e) { resolve(String(e.data)); };
    worker.onerror = function () { reject(new Error('worker failed')); };
    worker.postMessage(21);
  })));
}
export function wasmAnswer(url) {
  return within(refusedOr(fetch(url).then(function (r) { return r.arrayBuffer(); })
    .then(function (bytes) { return WebAssembly.instantiate(bytes); })
    .then(function (m) { return String(m.instance.exports.add(40, 2)); })));
}
