// The demo's entry module: it imports its helpers, reads and writes local storage, draws with
// WebGL, hands a small job to a module worker and waits for the host's native-ready event.
import { show, increment } from './view.mjs';

show('started', new Date().toLocaleString());

try {
  var visits = parseInt(localStorage.getItem('demo.visits') || '0', 10) + 1;
  localStorage.setItem('demo.visits', String(visits));
  show('visits', String(visits));
} catch (e) {
  show('visits', 'unavailable');
}

var gl = document.getElementById('glcanvas').getContext('webgl');
show('webgl', gl ? 'available' : 'not available');
if (gl) {
  gl.clearColor(0.48, 0.87, 0.95, 1.0);
  gl.clear(gl.COLOR_BUFFER_BIT);
}

try {
  var worker = new Worker(new URL('./primes.worker.mjs', import.meta.url), { type: 'module' });
  worker.onmessage = function (event) {
    show('primes', event.data.toLocaleString());
    console.log('demo: a worker counted ' + event.data + ' primes below a million');
  };
  worker.onerror = function () { show('primes', 'no worker'); };
  worker.postMessage(1000000);
} catch (e) {
  show('primes', 'no worker');
}

webhost.require('webhost/channel').onNativeReady.subscribe(function () {
  show('native-status', 'The host is ready.');
  // The plugins (device, files, export) arrive with later builds; until then the page only
  // shows that the native side found it.
  increment('ready-count');
});
