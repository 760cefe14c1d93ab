// Reads the app's data from a worker, then meets the page in a shared buffer.
onmessage = async (e) => {
  const r = await fetch('data.json');
  const cells = e.data;
  Atomics.store(cells, 1, 42);
  postMessage([r.status, r.ok, r.headers.get('content-type'), typeof SharedArrayBuffer, 'read', cells[0]].join(' '));
};
