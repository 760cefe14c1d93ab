// Wraps the window's alert, confirm and prompt so that the host hears which document opens a
// dialog before the engine asks the user (`opening`), and that the dialog is over after it
// (`over`). Runs before any script of the page: the wrappers replace the engine's functions
// wherever the window and its prototypes hold them, neither writable nor configurable, and they
// call the engine's functions through what they took now, so the page can neither remove them
// nor reach the engine's own.
(function (opening, over) {
  var win = self, apply = Reflect.apply, own = Object.getOwnPropertyDescriptor, define = Object.defineProperty,
    protoOf = Object.getPrototypeOf;
  ['alert', 'confirm', 'prompt'].forEach(function (name) {
    for (var holder = win; holder; holder = protoOf(holder)) {
      let held = own(holder, name);
      if (!held || typeof held.value !== 'function') continue;
      let engine = held.value;
      let wrapped = { [name]: function () { opening(); try { return apply(engine, win, arguments); } finally { over(); } } }[name];
      define(holder, name, { value: wrapped, writable: false, enumerable: held.enumerable, configurable: false });
    }
  });
})
