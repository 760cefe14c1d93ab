// Standard features the engine (WebKitGTK 2.50) lacks and widely used packages need, evaluated in
// each app frame before its own script. Each is installed only where the engine has none, and
// behaves as the standard says:
//  - ReadableStream async iteration: `values({ preventCancel })` and `[Symbol.asyncIterator]` (the
//    same function), for `for await (const chunk of stream)` (pdfjs-dist 5 reads text this way);
//  - `ReadableStream.from(iterable or async iterable)`.
(function () {
  'use strict';
  if (typeof ReadableStream !== 'function') return;
  var Stream = ReadableStream, proto = Stream.prototype;
  function define(target, name, value) {
    Object.defineProperty(target, name, { value: value, writable: true, configurable: true, enumerable: false });
  }
  function isObject(value) { return (typeof value === 'object' && value !== null) || typeof value === 'function'; }

  if (typeof proto.values !== 'function' || typeof proto[Symbol.asyncIterator] !== 'function') {
    var iteratorPrototype = Object.create(Object.getPrototypeOf(Object.getPrototypeOf(async function* () {}).prototype));
    var states = new WeakMap();
    // Steps run one after another: a call waits until the one before it has settled.
    function queued(iterator, steps) {
      var state = states.get(iterator);
      if (!state) return Promise.reject(new TypeError('not a ReadableStream async iterator'));
      var run = function () { return steps(state); };
      var promise = state.ongoing ? state.ongoing.then(run, run) : run();
      state.ongoing = promise;
      return promise;
    }
    define(iteratorPrototype, 'next', function next() {
      return queued(this, function (state) {
        if (state.finished) return Promise.resolve({ value: undefined, done: true });
        return state.reader.read().then(function (result) {
          if (!result.done) return { value: result.value, done: false };
          state.finished = true;
          state.reader.releaseLock();
          return { value: undefined, done: true };
        }, function (error) {
          state.finished = true;
          state.reader.releaseLock();
          throw error;
        });
      });
    });
    define(iteratorPrototype, 'return', function (value) {
      return queued(this, function (state) {
        var done = { value: value, done: true };
        if (state.finished) return Promise.resolve(done);
        state.finished = true;
        if (state.preventCancel) {
          state.reader.releaseLock();
          return Promise.resolve(done);
        }
        var cancelled = state.reader.cancel(value);
        state.reader.releaseLock();
        return cancelled.then(function () { return done; });
      });
    });
    var values = {
      values: function (options) {
        if (options !== undefined && options !== null && !isObject(options)) throw new TypeError('the options must be an object');
        var reader = this.getReader();
        var iterator = Object.create(iteratorPrototype);
        states.set(iterator, { reader: reader, preventCancel: !!(options && options.preventCancel), finished: false, ongoing: null });
        return iterator;
      }
    }.values;
    define(proto, 'values', values);
    define(proto, Symbol.asyncIterator, values);
  }

  if (typeof Stream.from !== 'function') {
    // A synchronous iterator as an asynchronous one: each value is awaited.
    var fromSync = function (iterator) {
      var next = iterator.next;
      function settle(result, done) {
        if (!isObject(result)) throw new TypeError('the iterator result is not an object');
        return Promise.resolve(result.value).then(function (value) { return { value: value, done: done === undefined ? !!result.done : done }; });
      }
      return {
        next: function () { return settle(next.call(iterator)); },
        return: function (reason) {
          var close = iterator.return;
          if (close === undefined || close === null) return Promise.resolve({ value: reason, done: true });
          return settle(close.call(iterator, reason), true);
        }
      };
    };
    var from = {
      from: function (iterable) {
        if (iterable === undefined || iterable === null) throw new TypeError('ReadableStream.from needs an iterable');
        var method = iterable[Symbol.asyncIterator], iterator;
        if (method === undefined || method === null) {
          var syncMethod = iterable[Symbol.iterator];
          if (typeof syncMethod !== 'function') throw new TypeError('ReadableStream.from needs an iterable or an async iterable');
          var syncIterator = syncMethod.call(iterable);
          if (!isObject(syncIterator)) throw new TypeError('the iterator is not an object');
          iterator = fromSync(syncIterator);
        } else {
          if (typeof method !== 'function') throw new TypeError('Symbol.asyncIterator is not a function');
          iterator = method.call(iterable);
          if (!isObject(iterator)) throw new TypeError('the iterator is not an object');
        }
        var next = iterator.next;
        return new Stream({
          pull: function (controller) {
            return new Promise(function (resolve) { resolve(next.call(iterator)); }).then(function (result) {
              if (!isObject(result)) throw new TypeError('the iterator result is not an object');
              if (result.done) controller.close();
              else controller.enqueue(result.value);
            });
          },
          cancel: function (reason) {
            var close = iterator.return;
            if (close === undefined || close === null) return Promise.resolve();
            return new Promise(function (resolve) { resolve(close.call(iterator, reason)); }).then(function (result) {
              if (!isObject(result)) throw new TypeError('the iterator result is not an object');
            });
          }
        }, { highWaterMark: 0 });
      }
    }.from;
    define(Stream, 'from', from);
  }
})();
