// Keeps a frame without the bridge from what the engine asks the host for on behalf of the main
// frame's document: an app page's frame of another origin would get it with the app's right.
// Evaluated before the frame's own script, which can reach no original left behind.
(function () {
  // The clipboard through script (what the user pastes into a field or copies from it still
  // goes). The engine asks no one before a write: a frame would replace what the user copied.
  var refuse = function () { return Promise.reject(new DOMException('only the app uses the clipboard', 'NotAllowedError')); };
  if (typeof Clipboard === 'function') {
    Clipboard.prototype.read = refuse;
    Clipboard.prototype.readText = refuse;
    Clipboard.prototype.write = refuse;
    Clipboard.prototype.writeText = refuse;
  }
  var execCommand = Document.prototype.execCommand;
  Document.prototype.execCommand = function (command) {
    return String(command).toLowerCase() === 'paste' ? false : execCommand.apply(this, arguments);
  };
  // Pointer lock: refused as the engine refuses it, with the document's error event.
  Element.prototype.requestPointerLock = function () {
    var document = this.ownerDocument;
    setTimeout(function () { document.dispatchEvent(new Event('pointerlockerror')); }, 0);
  };
})();
