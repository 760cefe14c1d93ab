import { twice } from './lib.mjs';
import { fetchText, xhrText, workerAnswer, wasmAnswer } from './checks.mjs';

console.log('module: ' + twice(21));
console.log('fetch: ' + await fetchText('data.json'));
console.log('xhr: ' + await xhrText('data.json'));
console.log('classic worker: ' + await workerAnswer('w.js'));
console.log('module worker: ' + await workerAnswer('mw.mjs', { type: 'module' }));
console.log('wasm: ' + await wasmAnswer('add.wasm'));
location.href = '../outside.html';
