// Served from the app origin: answers like a web server, isolated, with the bridge; then a web page
// tries to reach the same files.
import { within, xhrText, workerAnswer } from './checks.mjs';

const log = (name, value) => console.log(name + ': ' + value);
const answer = (r) => [r.status, r.ok, r.headers.get('content-type'), r.headers.get('content-length')].join(' ');
const fetched = (url, init) => within(fetch(url, init).then(answer));
const status = (url) => within(fetch(url).then((r) => r.status));

log('origin', [location.origin, typeof SharedArrayBuffer, typeof hostbridge].join(' '));
log('fetch', await fetched('data.json'));
log('xhr', await xhrText('data.json', (xhr) => [xhr.status, xhr.getResponseHeader('content-type'), xhr.response.length].join(' ')));
// A range, one past the end, and the headers that go with them, under this scheme's own rules.
log('range', await within(fetch('data.json', { headers: { Range: 'bytes=2-7' } })
  .then(async (r) => [r.status, r.headers.get('content-range'), await r.text(), r.headers.get('accept-ranges'),
    r.headers.get('cache-control')].join(' '))));
log('beyond', await status(new Request('data.json', { headers: { Range: 'bytes=99-' } })));
log('types', (await Promise.all(['index.html', 'main.mjs', 'w.js', 'add.wasm', 'pic.svg', 'secret.bin']
  .map((f) => within(fetch(f).then((r) => r.headers.get('content-type')))))).join(' '));
log('escapes', (await Promise.all(['missing.txt', 'sub', 'sub/', '../secret.txt', '%2e%2e/secret.txt', 'sub/..%2f..%2fsecret.txt',
  'link.txt', 'sub/link/secret.txt', '/_webhost/nothing.js'].map(status))).join(' '));
log('wasm streaming', await within(WebAssembly.instantiateStreaming(fetch('add.wasm'))
  .then((m) => m.instance.exports.add(40, 2))));
// One buffer, two threads: each sees what the other wrote.
const cells = new Int32Array(new SharedArrayBuffer(8));
cells[0] = 7;
log('shared', await workerAnswer('ow.js', undefined, cells) + ' ' + Atomics.load(cells, 1));
log('bridge', await within(webhost.require('webhost/exec').promise('Echo', 'echo', ['hi'])));
// A web frame in the app's page.
document.body.append(Object.assign(document.createElement('iframe'), { src: '@WEB@' }));
