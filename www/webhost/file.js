/*
 * The page's file system: promise-returning wrappers of the File plugin's actions. Load after
 * webhost.js; the plugin must be mapped as "File" in config.xml.
 *
 *   var file = webhost.file, url = 'whfile://localhost/persistent/notes.txt';
 *   file.getFile('whfile://localhost/persistent/', 'notes.txt', { create: true })
 *     .then(function () { return file.write(url, 'hello', 0); })
 *     .then(function () { return file.readAsText(url); })
 *     .then(function (text) { ... });
 *
 * A failure rejects with an Error: its `code` is a file error code (1 NOT_FOUND_ERR ... 12
 * PATH_EXISTS_ERR, see webhost.file.errors) and its `message` that code's name, or, for a failure
 * the plugin describes in words, the result's status name and that text.
 */
(function (global) {
  'use strict';
  var webhost = global.webhost;
  if (!webhost || webhost.file) return;

  webhost.define('webhost/file', function (require, exports) {
    var exec = require('webhost/exec');

    function call(action, args) {
      return exec.promise('File', action, args).catch(function (error) {
        for (var name in exports.errors) {
          // A message in words (a copy that left entries out says how many) is kept.
          if (exports.errors[name] === error.code && error.message === 'error ' + error.code) error.message = name;
        }
        throw error;
      });
    }

    // File system type numbers of requestFileSystem with the default setting.
    exports.TEMPORARY = 0;
    exports.PERSISTENT = 1;
    exports.errors = {
      NOT_FOUND_ERR: 1, ABORT_ERR: 3, NOT_READABLE_ERR: 4, ENCODING_ERR: 5,
      NO_MODIFICATION_ALLOWED_ERR: 6, SYNTAX_ERR: 8, INVALID_MODIFICATION_ERR: 9,
      QUOTA_EXCEEDED_ERR: 10, TYPE_MISMATCH_ERR: 11, PATH_EXISTS_ERR: 12
    };

    // "whfile://localhost/<name>" + full path: the URL of an entry the plugin answered. A "#" is
    // part of a name (encodeURI keeps it, and the URL would name what precedes it).
    exports.urlOf = function (entry) {
      return 'whfile://localhost/' + entry.filesystemName + encodeURI(entry.fullPath).replace(/#/g, '%23');
    };

    // File systems and paths.
    exports.requestFileSystem = function (type, size) { return call('requestFileSystem', [type, size || 0]); };
    exports.requestAllFileSystems = function () { return call('requestAllFileSystems', []); };
    exports.requestAllPaths = function () { return call('requestAllPaths', []); };
    exports.resolveLocalFileSystemURI = function (url) { return call('resolveLocalFileSystemURI', [url]); };
    exports.getLocalFilesystemPath = function (url) { return call('_getLocalFilesystemPath', [url]); };

    // Entries.
    exports.getFile = function (dirURL, path, options) { return call('getFile', [dirURL, path, options || null]); };
    exports.getDirectory = function (dirURL, path, options) { return call('getDirectory', [dirURL, path, options || null]); };
    exports.getParent = function (url) { return call('getParent', [url]); };
    exports.setMetadata = function (url, metadata) { return call('setMetadata', [url, metadata || null]); };
    exports.remove = function (url) { return call('remove', [url]); };
    exports.removeRecursively = function (url) { return call('removeRecursively', [url]); };
    exports.getFileMetadata = function (url) { return call('getFileMetadata', [url]); };
    // The host sends a big folder's entries in a lean form, the parts they share once; they are
    // expanded here into the same objects (the same keys in the same order, the same values).
    function expandEntries(list) {
      if (!list || typeof list !== 'object' || !Array.isArray(list.items)) return list;
      var fs = list.filesystemName, folder = list.folder, base = list.base, items = list.items, out = [];
      for (var i = 0; i < items.length; i++) {
        var item = items[i], name = item, dir = false, url = null;
        if (typeof item !== 'string') {
          name = item[0];
          dir = item[1] === 1;
          url = item[2];
        }
        var tail = dir ? name + '/' : name;
        out.push({
          filesystemName: fs, fullPath: folder + tail, isDirectory: dir, isFile: !dir, name: name,
          nativeURL: url === null ? base + tail : url
        });
      }
      return out;
    }
    exports.readEntries = function (url) { return call('readEntries', [url, { lean: true }]).then(expandEntries); };
    // Without a new name the entry keeps its own.
    exports.copyTo = function (url, dirURL, newName) {
      return call('copyTo', arguments.length > 2 ? [url, dirURL, newName] : [url, dirURL]);
    };
    exports.moveTo = function (url, dirURL, newName) {
      return call('moveTo', arguments.length > 2 ? [url, dirURL, newName] : [url, dirURL]);
    };

    // Reading: a byte range [start, end); an end below 0 reads to the end of the file.
    function range(start, end) { return [start || 0, end === undefined || end === null ? -1 : end]; }
    exports.readAsText = function (url, encoding, start, end) {
      return call('readAsText', [url, encoding || 'UTF-8'].concat(range(start, end)));
    };
    exports.readAsDataURL = function (url, start, end) { return call('readAsDataURL', [url].concat(range(start, end))); };
    exports.readAsArrayBuffer = function (url, start, end) { return call('readAsArrayBuffer', [url].concat(range(start, end))); };
    exports.readAsBinaryString = function (url, start, end) { return call('readAsBinaryString', [url].concat(range(start, end))); };

    // Writing: replaces everything from `position` on with `data` (a string, an ArrayBuffer or a
    // typed array); the answer is the number of bytes written.
    // A position or length that is no number (NaN, a text) is refused before the call: the host
    // would read it as 0 and cut the file to nothing.
    function at(value) {
      if (value === undefined || value === null) return 0;
      return typeof value === 'number' && isFinite(value) ? value : null;
    }
    function refused() {
      var error = new Error('INVALID_MODIFICATION_ERR');
      error.code = exports.errors.INVALID_MODIFICATION_ERR;
      return Promise.reject(error);
    }
    exports.write = function (url, data, position) {
      var from = at(position);
      return from === null ? refused() : call('write', [url, data, from]);
    };
    exports.truncate = function (url, length) {
      var to = at(length);
      return to === null ? refused() : call('truncate', [url, to]);
    };

    // Queries on local paths.
    exports.testFileExists = function (path) { return call('testFileExists', [path]); };
    exports.testDirectoryExists = function (path) { return call('testDirectoryExists', [path]); };
    exports.getFreeDiskSpace = function () { return call('getFreeDiskSpace', []); };
  });

  webhost.file = webhost.require('webhost/file');

  // The engine's media player does not load whfile URLs. An audio or video element (or its
  // source) given one plays the file through its local path instead; the host gives a path only
  // for a file inside a registered file system, so nothing else becomes reachable. The element
  // never sees the whfile URL, so it never fails on it.
  var file = webhost.file;
  var MEDIA = typeof HTMLMediaElement !== 'undefined' ? [HTMLMediaElement, global.HTMLSourceElement] : [];
  function isWhfile(value) { return typeof value === 'string' && /^whfile:/i.test(value); }
  function localURL(path) { return 'file://' + path.split('/').map(encodeURIComponent).join('/'); }
  function isMedia(element) {
    return MEDIA.some(function (type) { return type && element instanceof type; });
  }
  var pending = typeof WeakMap !== 'undefined' ? new WeakMap() : null;
  function playFromFileSystem(element, url, setAttribute) {
    element.setAttribute('data-whfile-src', url);
    var resolved = file.getLocalFilesystemPath(url).then(function (path) {
      if (element.getAttribute('data-whfile-src') !== url) return;
      setAttribute.call(element, 'src', localURL(path));
      if (element instanceof global.HTMLSourceElement && element.parentNode && element.parentNode.load) element.parentNode.load();
    }, function () {
      if (element.getAttribute('data-whfile-src') !== url) return;
      setAttribute.call(element, 'src', 'about:blank#whfile-not-found');
    });
    if (pending) pending.set(element, resolved);
  }
  if (MEDIA.length) {
    var setAttribute = Element.prototype.setAttribute;
    Element.prototype.setAttribute = function (name, value) {
      if (isMedia(this) && String(name).toLowerCase() === 'src' && isWhfile(String(value))) {
        playFromFileSystem(this, String(value), setAttribute);
        return;
      }
      if (isMedia(this) && String(name).toLowerCase() === 'src') this.removeAttribute('data-whfile-src');
      return setAttribute.call(this, name, value);
    };
    MEDIA.forEach(function (type) {
      if (!type) return;
      var src = Object.getOwnPropertyDescriptor(type.prototype, 'src');
      if (!src || !src.set) return;
      Object.defineProperty(type.prototype, 'src', {
        configurable: true, enumerable: src.enumerable,
        get: function () { return this.getAttribute('data-whfile-src') || src.get.call(this); },
        set: function (value) { this.setAttribute('src', value); }
      });
    });
    // new Audio(url) sets its src inside the engine: made here through the setter instead.
    if (global.Audio) {
      var PageAudio = function Audio(src) {
        var audio = document.createElement('audio');
        audio.preload = 'auto';
        if (arguments.length) audio.src = src;
        return audio;
      };
      PageAudio.prototype = global.Audio.prototype;
      global.Audio = PageAudio;
    }
    // play() before the local path is known waits for it.
    var play = HTMLMediaElement.prototype.play;
    HTMLMediaElement.prototype.play = function () {
      var waiting = pending && pending.get(this);
      if (!waiting) return play.apply(this, arguments);
      var element = this;
      pending.delete(this);
      return waiting.then(function () { return play.call(element); });
    };
    // Elements written in markup: their src is taken away before they start loading.
    new MutationObserver(function (records) {
      records.forEach(function (record) {
        Array.prototype.forEach.call(record.addedNodes, function visit(node) {
          if (node.nodeType !== 1) return;
          var value = node.getAttribute('src');
          if (isMedia(node) && isWhfile(value) && !node.hasAttribute('data-whfile-src')) {
            node.removeAttribute('src');
            playFromFileSystem(node, new URL(value, document.baseURI).href, setAttribute);
          }
          Array.prototype.forEach.call(node.children, visit);
        });
      });
    }).observe(document, { childList: true, subtree: true });
  }
})(globalThis);
