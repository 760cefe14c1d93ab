// A module worker counts primes off the page's thread.
import { show } from './view.mjs';

export const workerReady = new Promise((resolve) => {
  const started = performance.now();
  try {
    const worker = new Worker(new URL('./primes.worker.mjs', import.meta.url), { type: 'module' });
    worker.onmessage = (event) => {
      show('worker-primes', event.data.toLocaleString('en'));
      show('worker-time', `in ${Math.round(performance.now() - started)} ms, while the page stayed responsive`);
      console.log(`demo: a worker counted ${event.data} primes below a million`);
      worker.terminate();
      resolve();
    };
    worker.onerror = () => {
      show('worker-primes', 'no worker');
      resolve();
    };
    worker.postMessage(1000000);
  } catch (error) {
    show('worker-primes', 'no worker');
    resolve();
  }
});
