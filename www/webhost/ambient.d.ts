// The page library at the path the host serves it from, for apps that import it as
// `import { file } from '/_webhost/webhost.mjs'`. Referenced once, from a .d.ts of the app or its
// tsconfig's "types": ["webhost/ambient"]; with the Vite plugin (webhost/vite) the same import
// works in the dev server, and a build leaves it for the host to serve.
// TypeScript takes a name beginning with '/' for a file path, which an ambient declaration cannot
// name; the pattern matches that one path (and any path ending in it).
declare module '*/_webhost/webhost.mjs' {
  export * from 'webhost';
}

interface Window {
  /**
   * Set by a page that needs time after loading before a capture (--screenshot, --dump-dom):
   * the capture waits until it settles.
   */
  penwickCaptureReady?: Promise<unknown>;
}
