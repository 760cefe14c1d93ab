// The page library imported in a worker: what needs no host works, a call fails for want of the bridge.
import(self.location.protocol === 'file:' ? 'whfile://localhost/_webhost/webhost.mjs' : '/_webhost/webhost.mjs')
  .then((m) => m.file.readAsText(m.file.urlOf({ filesystemName: 'persistent', fullPath: '/small.txt' })))
  .then(() => postMessage('answered'), (e) => postMessage(e.code || String(e)));
