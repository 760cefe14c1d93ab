import { twice } from './lib.mjs';
import { within, fetchText, xhrText, workerAnswer, wasmAnswer } from './checks.mjs';

console.log('module: ' + twice(21));
console.log('fetch: ' + await fetchText('data.json'));
console.log('xhr: ' + await xhrText('data.json'));
console.log('classic worker: ' + await workerAnswer('w.js'));
console.log('module worker: ' + await workerAnswer('mw.mjs', { type: 'module' }));
console.log('wasm: ' + await wasmAnswer('add.wasm'));
// Files outside the folder: refused, unless the app reaches the whole disk.
console.log('fetch outside www: ' + await fetchText('../secret.txt'));
console.log('encoded fetch outside www: ' + await fetchText('..%2fsecret.txt'));
console.log('import outside www: ' + await within(import('../outside.mjs').then((m) => String(m.answer))));
console.log('worker fetch outside www: ' + await workerAnswer('reach.js', undefined, '../secret.txt'));
const frame = document.body.appendChild(document.createElement('iframe'));
await within(new Promise((resolve) => { frame.onload = resolve; frame.src = '../secret.txt'; }));
let framed = '';
try { framed = frame.contentDocument.body.textContent.trim(); } catch (e) { }
console.log('frame outside www: ' + (framed || 'refused'));
