// A Vite plugin for apps that import the page library from the path the host serves it at,
// `/_webhost/webhost.mjs`: the dev server serves this folder there, and a build leaves those
// imports as they are, for the host to serve in the app.
//
//   import webhost from 'webhost/vite';
//   export default { plugins: [webhost()] };
import { fileURLToPath } from 'node:url';
import path from 'node:path';

const PREFIX = '/_webhost/';
const folder = path.dirname(fileURLToPath(import.meta.url));

export default function webhost() {
  let serving = false;
  return {
    name: 'webhost',
    enforce: 'pre',
    configResolved(config) {
      serving = config.command === 'serve';
    },
    resolveId(id) {
      if (!id.startsWith(PREFIX))
        return null;
      if (!serving)
        return { id, external: true };
      // Only this folder's own files, whatever the path says.
      const file = path.resolve(folder, id.slice(PREFIX.length));
      return file.startsWith(folder + path.sep) ? file : null;
    },
  };
}
