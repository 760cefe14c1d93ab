(async () => {
  const root = await navigator.storage.getDirectory();
  const access = await (await root.getFileHandle('kept.txt', { create: true })).createSyncAccessHandle();
  const size = access.getSize();
  if (size === 0) {
    access.write(new TextEncoder().encode('kept across runs'), { at: 0 });
    access.flush();
    access.close();
    postMessage('opfs written');
    return;
  }
  const bytes = new Uint8Array(size);
  access.read(bytes, { at: 0 });
  access.close();
  postMessage('opfs read: ' + new TextDecoder().decode(bytes));
})().catch((err) => postMessage('opfs failed: ' + err));
