// The engine has no synchronous access handles (createSyncAccessHandle rejects as not supported):
// workers write through a writable stream.
(async () => {
  const root = await navigator.storage.getDirectory();
  const handle = await root.getFileHandle('kept.txt', { create: true });
  const file = await handle.getFile();
  if (file.size) {
    postMessage('opfs read: ' + await file.text());
    return;
  }
  const writable = await handle.createWritable();
  await writable.write('kept across runs');
  await writable.close();
  postMessage('opfs written');
})().catch((err) => postMessage('opfs failed: ' + err));
