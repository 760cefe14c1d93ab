/*
 * The page library as an ES module:
 *
 *   import { file, device, nativeReady } from '/_webhost/webhost.mjs';
 *   await nativeReady;
 *   const entry = await file.getFile('whfile://localhost/persistent/', 'notes.txt', { create: true });
 *   await file.write(file.urlOf(entry), 'hello');
 *
 * The classic scripts beside it are the implementation: imported here for their effect, they
 * install `webhost` on the global object once (a page that loaded them itself shares the same
 * one), and the exports are what they installed. A worker may import it too, for what needs no
 * host (`file.urlOf`): only pages have the bridge, so its calls there fail with 'NO_BRIDGE'.
 * Types: webhost.d.mts.
 */
import './webhost.js';
import './file.js';
import './app.js';

const webhost = globalThis.webhost;

export const exec = webhost.require('webhost/exec');
export const file = webhost.require('webhost/file');
export const device = webhost.require('webhost/device');
export const app = webhost.require('webhost/app');
export const inAppBrowser = webhost.require('webhost/inappbrowser');

// Resolves once the host has said it is ready, also when it said so before this module loaded.
export const nativeReady = new Promise((resolve) => {
  webhost.require('webhost/channel').onNativeReady.subscribe(() => resolve());
});
