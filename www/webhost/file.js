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
 * A failure rejects with the plugin's message: a file error code (1 NOT_FOUND_ERR ... 12
 * PATH_EXISTS_ERR, see webhost.file.errors) or a text.
 */
(function (global) {
  'use strict';
  var webhost = global.webhost;
  if (!webhost || webhost.file) return;

  webhost.define('webhost/file', function (require, exports) {
    var exec = require('webhost/exec');

    function call(action, args) {
      return exec.promise('File', action, args);
    }

    // File system type numbers of requestFileSystem with the default setting.
    exports.TEMPORARY = 0;
    exports.PERSISTENT = 1;
    exports.errors = {
      NOT_FOUND_ERR: 1, ABORT_ERR: 3, NOT_READABLE_ERR: 4, ENCODING_ERR: 5,
      NO_MODIFICATION_ALLOWED_ERR: 6, SYNTAX_ERR: 8, INVALID_MODIFICATION_ERR: 9,
      QUOTA_EXCEEDED_ERR: 10, TYPE_MISMATCH_ERR: 11, PATH_EXISTS_ERR: 12
    };

    // "whfile://localhost/<name>" + full path: the URL of an entry the plugin answered.
    exports.urlOf = function (entry) {
      return 'whfile://localhost/' + entry.filesystemName + encodeURI(entry.fullPath);
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
    exports.readEntries = function (url) { return call('readEntries', [url]); };
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
    exports.write = function (url, data, position) { return call('write', [url, data, position || 0]); };
    exports.truncate = function (url, length) { return call('truncate', [url, length || 0]); };

    // Queries on local paths.
    exports.testFileExists = function (path) { return call('testFileExists', [path]); };
    exports.testDirectoryExists = function (path) { return call('testDirectoryExists', [path]); };
    exports.getFreeDiskSpace = function () { return call('getFreeDiskSpace', []); };
  });

  webhost.file = webhost.require('webhost/file');
})(window);
