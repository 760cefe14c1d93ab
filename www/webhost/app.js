/*
 * Wrappers of the device, application and in-app browser plugins. Load after webhost.js; the
 * service names are those config.xml maps ("Device", "Penwick", "InAppBrowser").
 *
 *   webhost.require('webhost/device').getDeviceInfo().then(function (info) { ... });
 *   var app = webhost.require('webhost/app');
 *   app.openUrl('https://example.org/', '_system');   // or '_blank' for the popup window
 *   app.saveAs('report', 'pdf', base64)                // bytes; or Base64 for pdf, docx, png, jpg; else text
 *     .then(function (path) { ... });                  // the saved file's path, null when cancelled
 *   webhost.require('webhost/inappbrowser').open(url, '_system', onAnswer, onError);
 *
 * The three are also webhost.device, webhost.app and webhost.inAppBrowser.
 */
(function (global) {
  'use strict';
  var webhost = global.webhost;
  if (!webhost || !webhost.define) throw new Error('webhost/app: load webhost.js first');
  // Loaded once already (a page's own copy, or imported again by webhost.mjs).
  if (webhost.app) return;

  webhost.define('webhost/device', function (require, exports) {
    var exec = require('webhost/exec');
    // Resolves with {model, platform, version, manufacturer, serial?, uuid, webhost, isVirtual}.
    exports.getDeviceInfo = function () {
      return exec.promise('Device', 'getDeviceInfo', []);
    };
  });

  webhost.define('webhost/app', function (require, exports) {
    var exec = require('webhost/exec');
    // Resolves once the URL has been handed to the popup or the desktop; rejects with why when it
    // was refused (the popup loads http and https pages, the desktop opens those and mailto).
    exports.openUrl = function (url, target) {
      return exec.promise('Penwick', 'openUrl', [String(url), target || '_system']);
    };
    // Resolves when the save dialog has closed: with the saved file's path, or null when the user
    // cancelled; rejects with the reason when nothing could be saved.
    // Bytes (an ArrayBuffer or a typed array) go as they are, and are saved so, whatever the type.
    exports.saveAs = function (name, type, content) {
      return exec.promise('Penwick', 'saveAs', [String(name), String(type), content]);
    };
  });

  webhost.define('webhost/inappbrowser', function (require, exports) {
    var exec = require('webhost/exec');
    // The host keeps the callback: `onAnswer`/`onError` may be called again by later answers.
    exports.open = function (url, target, onAnswer, onError) {
      exec(onAnswer || null, onError || null, 'InAppBrowser', 'open', [url, target || '_self']);
    };
  });

  webhost.device = webhost.require('webhost/device');
  webhost.app = webhost.require('webhost/app');
  webhost.inAppBrowser = webhost.require('webhost/inappbrowser');
})(globalThis);
