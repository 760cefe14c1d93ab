/// <reference types="webhost/ambient" />
// An app that installed the page library with npm, using every export as its types allow; each
// call marked @ts-expect-error is a wrong one the types must refuse.
import { app, device, exec, file, inAppBrowser, nativeReady } from 'webhost';
import { exec as served } from '/_webhost/webhost.mjs';
import type { DeviceInfo, DirectoryEntry, FileError, FileErrorCode, Metadata, WebhostError } from 'webhost';

const P = 'whfile://localhost/persistent';

await nativeReady;
const entry = await file.getFile(P + '/', 'notes.txt', { create: true });
const url = file.urlOf(entry);
const written: number = await file.write(url, new Uint8Array([104, 105]));
const text: string = await file.readAsText(url, 'UTF-8', 0, -1);
const bytes: ArrayBuffer = await file.readAsArrayBuffer(url, 0, written);
const metadata: Metadata = await file.getFileMetadata(url);
const folders: DirectoryEntry[] = (await file.readEntries(P + '/')).filter((e) => e.isDirectory);
const fileSystem = await file.requestFileSystem(file.PERSISTENT);
const copy = await file.copyTo(url, fileSystem.root.nativeURL, 'copy.txt');
try {
  await file.remove(P + '/none.txt');
} catch (e) {
  const error = e as FileError;
  const known: boolean = error.code === file.errors.NOT_FOUND_ERR || error.code === 'NO_BRIDGE';
  console.log(known, error.message);
}
const info: DeviceInfo = await device.getDeviceInfo();
const saved: string | null = await app.saveAs('report', 'png', new Uint8Array(bytes));
await app.saveAs('notes', 'txt', text);
await app.openUrl(new URL('https://example.org/'), '_blank');
inAppBrowser.open('https://example.org/', '_system', () => console.log('opened'), (why) => console.log(why));
const echoed = await exec.promise<number[]>('Echo', 'echo', [1, bytes]).catch((e: WebhostError) => [e.code]);
exec((message) => console.log(message), null, 'Echo', 'echo', []);
console.log(metadata.size, folders.length, copy.fullPath, info.uuid, info.serial?.length, saved ?? 'cancelled', echoed,
  exec.pendingCallbacks());

// @ts-expect-error: a number is neither text nor bytes
await file.write(url, 42);
// @ts-expect-error: bytes only for the binary export types
await app.saveAs('notes', 'txt', new Uint8Array(1));
// @ts-expect-error: a cancelled save answers null
const path: string = await app.saveAs('notes', 'txt', text);
// @ts-expect-error: no such target
await app.openUrl('https://example.org/', '_top');
// @ts-expect-error: 2 is no file error code
const code: FileErrorCode = 2;
// @ts-expect-error: device facts have no battery
console.log(info.battery, path, code);
// @ts-expect-error: a directory entry is no file entry
const notAFile: typeof entry = fileSystem.root;
// @ts-expect-error: readiness carries no value
const ready: boolean = await nativeReady;
console.log(notAFile, ready);

// The host's path is the same module; a streamed call is typed and cancelled; the capture waits.
const ticks = served.stream<number>('Clock', 'ticks', [10], (n) => console.log(n.toFixed()), (e) => console.log(e.code, e.status));
ticks.cancel();
exec<string>((message) => console.log(message.length), (failure) => console.log(failure), 'Echo', 'echo', []);
window.penwickCaptureReady = Promise.resolve();
// @ts-expect-error: an answer typed as a number has no length
served.stream<number>('Clock', 'ticks', [], (n) => n.length);
