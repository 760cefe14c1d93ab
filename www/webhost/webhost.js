/*
 * The page side of the host bridge.
 *
 *   var exec = webhost.require('webhost/exec');
 *   exec(onSuccess, onFailure, 'Service', 'action', [args...]);
 *   exec.promise('Service', 'action', [args...]).then(...);
 *   var call = exec.stream('Service', 'action', [args...], onEach, onFail); call.cancel();
 *   webhost.require('webhost/channel').onNativeReady.subscribe(function () { ... });
 *
 * Calls go to `hostbridge.exec` with a fresh callback id; the host answers later by evaluating
 * `nativeCallback(id, status, message, keepCallback)`. A promise rejects with an Error whose `code`
 * says what failed (a plugin's error code, such as a file error number, or the result status's name:
 * 'CLASS_NOT_FOUND' for an unknown service, 'INVALID_ACTION', 'ILLEGAL_ACCESS', 'JSON_ERROR',
 * 'ERROR', ...; 'NO_BRIDGE' where the page may not call the host) and whose `message` says why.
 * Byte buffers travel as ArrayBuffer markers
 * ({WHType: 'ArrayBuffer', data: base64}) both ways, or come back as ArrayBuffers themselves;
 * several values come back as a MultiPart.
 */
(function (global) {
  'use strict';
  if (global.webhost && global.webhost.require) return;

  var modules = {};
  var factories = {};

  function define(name, factory) {
    if (factories[name]) throw new Error('webhost: module ' + name + ' is already defined');
    factories[name] = factory;
  }

  function require(name) {
    if (Object.prototype.hasOwnProperty.call(modules, name)) return modules[name].exports;
    var factory = factories[name];
    if (!factory) throw new Error('webhost: no module ' + name);
    var module = { exports: {} };
    modules[name] = module;
    factory(require, module.exports, module);
    return module.exports;
  }

  // ---- base64 of byte buffers -------------------------------------------------------------
  define('webhost/base64', function (require, exports) {
    var alphabet = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/';
    var lookup = new Uint8Array(256);
    for (var i = 0; i < alphabet.length; i++) lookup[alphabet.charCodeAt(i)] = i;
    // The engine's own Base64 is many times faster; the script versions below stand in without it.
    var nativeEncode = typeof Uint8Array.prototype.toBase64 === 'function';
    var nativeDecode = typeof Uint8Array.fromBase64 === 'function';

    exports.fromArrayBuffer = function (buffer) {
      var bytes = buffer instanceof Uint8Array ? buffer : new Uint8Array(buffer);
      if (nativeEncode) return bytes.toBase64();
      var out = '';
      var n = bytes.length;
      for (var i = 0; i + 2 < n; i += 3) {
        var v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out += alphabet[v >> 18] + alphabet[(v >> 12) & 63] + alphabet[(v >> 6) & 63] + alphabet[v & 63];
      }
      var rest = n % 3;
      if (rest === 1) {
        var a = bytes[n - 1];
        out += alphabet[a >> 2] + alphabet[(a & 3) << 4] + '==';
      } else if (rest === 2) {
        var b = (bytes[n - 2] << 8) | bytes[n - 1];
        out += alphabet[b >> 10] + alphabet[(b >> 4) & 63] + alphabet[(b & 15) << 2] + '=';
      }
      return out;
    };

    exports.toArrayBuffer = function (text) {
      if (nativeDecode) {
        // Strict about stray characters and padding, which the script version skips.
        try { return Uint8Array.fromBase64(String(text), { lastChunkHandling: 'loose' }).buffer; } catch (e) { }
      }
      var clean = String(text).replace(/[^A-Za-z0-9+/]/g, '');
      var n = clean.length;
      var bytes = new Uint8Array(Math.floor(n * 3 / 4));
      var o = 0;
      for (var i = 0; i < n; i += 4) {
        var c0 = lookup[clean.charCodeAt(i)], c1 = lookup[clean.charCodeAt(i + 1)];
        var c2 = i + 2 < n ? lookup[clean.charCodeAt(i + 2)] : 0, c3 = i + 3 < n ? lookup[clean.charCodeAt(i + 3)] : 0;
        if (i + 1 < n) bytes[o++] = (c0 << 2) | (c1 >> 4);
        if (i + 2 < n) bytes[o++] = ((c1 & 15) << 4) | (c2 >> 2);
        if (i + 3 < n) bytes[o++] = ((c2 & 3) << 6) | c3;
      }
      return bytes.buffer.slice(0, o);
    };
  });

  // ---- a sticky event: once fired, late subscribers run at once ----------------------------
  define('webhost/event', function (require, exports) {
    exports.sticky = function (name) {
      var handlers = [];
      var fired = false;
      return {
        name: name,
        get fired() { return fired; },
        subscribe: function (fn) {
          if (typeof fn !== 'function') return;
          if (fired) { fn(); return; }
          handlers.push(fn);
        },
        unsubscribe: function (fn) {
          var i = handlers.indexOf(fn);
          if (i >= 0) handlers.splice(i, 1);
        },
        fire: function () {
          if (fired) return;
          fired = true;
          var list = handlers;
          handlers = [];
          for (var i = 0; i < list.length; i++) {
            try { list[i](); } catch (e) { setTimeout(function () { throw e; }); }
          }
        }
      };
    };
  });

  // ---- native readiness ----------------------------------------------------------------------
  define('webhost/channel', function (require, exports) {
    var event = require('webhost/event');
    exports.onNativeReady = event.sticky('onNativeReady');
    // The host may have said so before this library loaded.
    if (global._nativeReady) exports.onNativeReady.fire();
  });

  // ---- calls to the host and their answers ---------------------------------------------------
  define('webhost/exec', function (require, exports, module) {
    var base64 = require('webhost/base64');
    var callbacks = {};
    var nextId = Math.floor(Math.random() * 1000000000);

    // Status values of plugin results, and the codes of failures by status.
    var STATUS = { NO_RESULT: 0, OK: 1 };
    var CODES = ['NO_RESULT', 'OK', 'CLASS_NOT_FOUND', 'ILLEGAL_ACCESS', 'INSTANTIATION_ERROR', 'MALFORMED_URL',
      'IO_ERROR', 'INVALID_ACTION', 'JSON_ERROR', 'ERROR'];

    function isBytes(value) {
      return value instanceof ArrayBuffer || (ArrayBuffer.isView && ArrayBuffer.isView(value));
    }

    function toMarker(value) {
      var bytes = value instanceof ArrayBuffer ? new Uint8Array(value)
        : new Uint8Array(value.buffer, value.byteOffset, value.byteLength);
      return { WHType: 'ArrayBuffer', data: base64.fromArrayBuffer(bytes) };
    }

    function encodeArgs(args) {
      // The host's own bridge takes byte buffers as they are and sends their bytes raw.
      if (global.hostbridge.exec.takesArrayBuffers) return args;
      var out = [];
      for (var i = 0; i < args.length; i++) out.push(isBytes(args[i]) ? toMarker(args[i]) : args[i]);
      return out;
    }

    function decodeMessage(message) {
      if (message && typeof message === 'object') {
        if (message.WHType === 'ArrayBuffer') return base64.toArrayBuffer(message.data);
        if (message.WHType === 'MultiPart') return (message.messages || []).map(decodeMessage);
      }
      return message;
    }

    function failure(code, message) {
      var error = new Error(message);
      error.code = code;
      return error;
    }

    // The Error a failed call's promise rejects with: a number or {code, message} is the plugin's
    // own code; a text is the message, coded by the result's status.
    function errorOf(status, value) {
      var code = CODES[status] || 'ERROR';
      if (typeof value === 'number') return failure(value, 'error ' + value);
      if (typeof value === 'string') return failure(code, value);
      if (value && typeof value === 'object' && value.code !== undefined) {
        return failure(value.code, typeof value.message === 'string' ? value.message : 'error ' + value.code);
      }
      var text;
      try { text = JSON.stringify(value); } catch (e) { }
      return failure(code, text === undefined ? String(value) : text);
    }

    // Makes the call; its callback id (INVALID without callbacks, or none when no call was made).
    function call(success, fail, service, action, args) {
      args = Array.isArray(args) ? args : (args === undefined ? [] : [args]);
      var callbackId = 'INVALID';
      if (success || fail) {
        // Well formed: the host reads a lone surrogate as U+FFFD, and answers under the id it read.
        var name = String(service);
        callbackId = (name.toWellFormed ? name.toWellFormed() : name) + (nextId++);
        callbacks[callbackId] = { success: success, fail: fail };
      }
      if (!global.hostbridge || typeof global.hostbridge.exec !== 'function') {
        delete callbacks[callbackId];
        if (fail) fail(failure('NO_BRIDGE', 'webhost: this frame has no host bridge; only the app\'s own pages may call the host'));
        return null;
      }
      try {
        global.hostbridge.exec(callbackId, service, action, encodeArgs(args));
      } catch (e) {
        delete callbacks[callbackId];
        if (fail) fail(failure('ERROR', 'webhost: the call could not be made: ' + (e && e.message ? e.message : String(e))));
        return null;
      }
      return callbackId;
    }

    function exec(success, fail, service, action, args) {
      call(success, fail, service, action, args);
    }

    // The same call, answered by a promise: resolved with the message of an OK result, rejected
    // with an Error (`code`, `message`) for a failure.
    exec.promise = function (service, action, args) {
      return new Promise(function (resolve, reject) {
        exec(resolve, function (value, status) { reject(value instanceof Error ? value : errorOf(status, value)); },
          service, action, args);
      });
    };

    // A call the plugin answers more than once (keep-callback): `onEach` gets every OK answer, and
    // `onFail` an Error (`code`, `status`, `message`) for a failed one. cancel() drops the callback
    // and tells the plugin (its cancel hook gets the call's callback id) to stop.
    exec.stream = function (service, action, args, onEach, onFail) {
      var done = false;
      var id = call(function (value) { if (!done && onEach) onEach(value); },
        function (value, status) {
          if (done || !onFail) return;
          var error = value instanceof Error ? value : errorOf(status, value);
          if (status !== undefined) error.status = status;
          onFail(error);
        }, service, action, args);
      return {
        cancel: function () {
          if (done || !id) return;
          done = true;
          delete callbacks[id];
          call(function () { }, null, service, 'cancel', [id]);
        }
      };
    };

    // Evaluated by the host for every plugin result. The host's web-process extension may also
    // call it directly with ArrayBuffers where the script form has markers (takesArrayBuffers).
    exec.nativeCallback = function (callbackId, status, message, keepCallback) {
      var callback = callbacks[callbackId];
      if (!callback) return;
      if (!keepCallback) delete callbacks[callbackId];
      var value = decodeMessage(message);
      if (status === STATUS.OK) {
        if (callback.success) callback.success(value);
      } else if (status !== STATUS.NO_RESULT) {
        if (callback.fail) callback.fail(value, status);
      }
    };

    exec.nativeCallback.takesArrayBuffers = true;

    // Evaluated by the host for script it sends to the page.
    exec.nativeEvalAndFetch = function (fn) {
      try { fn(); } catch (e) { if (global.console && console.error) console.error(String(e)); }
    };

    exec.pendingCallbacks = function () { return Object.keys(callbacks).length; };

    module.exports = exec;
  });

  global.webhost = { define: define, require: require };
})(globalThis);
