// `exec` as the page sees it: the four arguments become one JSON text, the list of them in order,
// in the page's own engine (far cheaper than handing each value to native code), then go to the
// host. Byte buffers among the arguments (ArrayBuffers and their views) are taken out first and
// handed over with their places (argument indices) to travel as raw bytes, their places null in the
// text. The native senders, the JSON writer and the buffer types are captured when the
// context is set up, so the page can neither reach nor replace them. Arguments that cannot be written
// (cycles) travel as null and are refused there.
(function (send, sendWithBytes, stringify, isArray, isView, AB, U8) {
  function bytesOf(v) {
    try { return v instanceof AB ? new U8(v) : new U8(v.buffer, v.byteOffset, v.byteLength); }
    catch (e) { return new U8(0); }
  }
  function exec(callbackId, service, action, args) {
    var call, places = null, buffers = null, copy, i, k, v;
    if (isArray(args)) {
      for (i = 0; i < args.length; i++) {
        v = args[i];
        if (!(v instanceof AB) && !isView(v)) continue;
        if (!places) {
          places = []; buffers = []; copy = [];
          for (k = 0; k < args.length; k++) copy[k] = args[k];
          args = copy;
        }
        places[places.length] = i;
        buffers[buffers.length] = bytesOf(v);
        args[i] = null;
      }
    }
    try { call = stringify([callbackId, service, action, args]); }
    catch (e) {
      places = null;
      try { call = stringify([callbackId, service, action, null]); }
      catch (e2) { call = '[null,null,null,null]'; }
    }
    if (places) sendWithBytes(call, buffers, places); else send(call);
  }
  exec.takesArrayBuffers = true;
  return exec;
})
