// Keeps a frame without the bridge from reading the clipboard through script: the engine asks the
// host on behalf of the main frame's document, so an app page's frame of another origin would read
// with the app's right. Evaluated before the frame's own script, which can reach no original.
(function () {
  var refuse = function () { return Promise.reject(new DOMException('only the app reads the clipboard', 'NotAllowedError')); };
  if (typeof Clipboard === 'function') {
    Clipboard.prototype.read = refuse;
    Clipboard.prototype.readText = refuse;
  }
  var execCommand = Document.prototype.execCommand;
  Document.prototype.execCommand = function (command) {
    return String(command).toLowerCase() === 'paste' ? false : execCommand.apply(this, arguments);
  };
})();
