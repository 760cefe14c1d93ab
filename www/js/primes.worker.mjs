// A module worker: counts the primes below the number it is sent, off the page's thread.
onmessage = function (event) {
  var limit = event.data;
  var composite = new Uint8Array(limit);
  var count = 0;
  for (var n = 2; n < limit; ++n) {
    if (composite[n])
      continue;
    ++count;
    for (var m = n * n; m < limit; m += n)
      composite[m] = 1;
  }
  postMessage(count);
};
