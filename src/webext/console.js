// The page's `console` when the host replaces the engine's own: made in the page's world from the
// host's six native line writers (log, trace, debug, info, warn, error; each writes one line for
// one value). A call with one value hands it to its writer as it is. A call with more writes them
// all on one line, separated by spaces, with the format directives of a leading text (%s %d %i %f
// %o %O %c %%) applied. Every other member of the standard console exists: those that report
// something (table, dir, dirxml, group, groupCollapsed, count, countReset, time, timeLog,
// timeEnd, assert) write a line through the writers, the rest do nothing. No member ever throws.
// The writers, the JSON writer and the clock are captured here, so the page cannot reach them.
(function (log, trace, debug, info, warn, error, stringify, clock) {
  var tagOf = Object.prototype.toString;
  function shown(value) {
    switch (typeof value) {
    case 'string': return value;
    case 'bigint': return String(value) + 'n';
    case 'symbol': return value.toString();
    case 'function': return 'function ' + (value.name || '') + '()';
    case 'object': break;
    default: return String(value);
    }
    if (value === null) return 'null';
    var tag = tagOf.call(value);
    if (tag === '[object Error]') return String(value);
    if (tag === '[object Date]') return isNaN(value) ? 'Invalid Date' : value.toISOString();
    var seen = [];
    var json = stringify(value, function (key, v) {
      if (typeof v === 'bigint') return String(v) + 'n';
      if (typeof v === 'function' || typeof v === 'symbol') return shown(v);
      if (v && typeof v === 'object') {
        if (seen.indexOf(v) >= 0) return '[Circular]';
        seen.push(v);
      }
      return v;
    });
    return json === undefined || (json === '{}' && tag !== '[object Object]') ? tag : json;
  }
  function safely(value) {
    try { return shown(value); } catch (e) { return '[unprintable]'; }
  }
  // The one line a call writes for all its values.
  function line(values) {
    var rest = 0, text = '';
    if (typeof values[0] === 'string' && values.length > 1) {
      rest = 1;
      text = values[0].replace(/%[sdifoOc%]/g, function (directive) {
        if (directive === '%%') return '%';
        if (rest >= values.length) return directive;
        var v = values[rest++];
        switch (directive) {
        case '%s': return safely(v);
        case '%d': case '%i': return typeof v === 'symbol' ? 'NaN' : String(parseInt(v, 10));
        case '%f': return typeof v === 'symbol' ? 'NaN' : String(parseFloat(v));
        case '%c': return '';
        default: return safely(v);
        }
      });
    }
    for (; rest < values.length; rest++) text += (text === '' && rest === 0 ? '' : ' ') + safely(values[rest]);
    return text;
  }
  function writer(write) {
    return function () {
      try {
        if (arguments.length <= 1) write.apply(null, arguments);
        else write(line(Array.prototype.slice.call(arguments)));
      } catch (e) { }
    };
  }
  function nothing() { }
  function labelOf(label) {
    try { return label === undefined ? 'default' : String(label); } catch (e) { return 'default'; }
  }
  var counts = Object.create(null), timers = Object.create(null);
  var c = {
    log: writer(log), trace: writer(trace), debug: writer(debug), info: writer(info), warn: writer(warn), error: writer(error),
    clear: nothing, groupEnd: nothing, profile: nothing, profileEnd: nothing, timeStamp: nothing
  };
  c.dir = function (value) { c.log(value); };
  c.dirxml = c.log;
  c.table = function (data) { c.log(data); };
  c.group = function () { if (arguments.length) c.log.apply(null, arguments); };
  c.groupCollapsed = c.group;
  c.count = function (label) {
    var name = labelOf(label);
    counts[name] = (counts[name] || 0) + 1;
    c.log(name + ': ' + counts[name]);
  };
  c.countReset = function (label) {
    var name = labelOf(label);
    if (name in counts) counts[name] = 0;
    else c.warn("Count for '" + name + "' does not exist");
  };
  c.time = function (label) {
    var name = labelOf(label);
    if (name in timers) c.warn("Timer '" + name + "' already exists");
    else timers[name] = clock();
  };
  function elapsed(label, values, end) {
    var name = labelOf(label);
    if (!(name in timers)) { c.warn("Timer '" + name + "' does not exist"); return; }
    var ms = clock() - timers[name];
    if (end) delete timers[name];
    c.log.apply(null, [name + ': ' + ms.toFixed(3) + ' ms'].concat(Array.prototype.slice.call(values, 1)));
  }
  c.timeLog = function (label) { try { elapsed(label, arguments, false); } catch (e) { } };
  c.timeEnd = function (label) { try { elapsed(label, [], true); } catch (e) { } };
  c.assert = function (condition) {
    if (condition) return;
    var values = Array.prototype.slice.call(arguments, 1);
    if (typeof values[0] === 'string') values[0] = 'Assertion failed: ' + values[0];
    else values.unshift('Assertion failed' + (values.length ? ':' : ''));
    c.error.apply(null, values);
  };
  return c;
})
