// The URL of the parent document whose origin a fresh "about:" document shares, or "" when it has
// an origin of its own (sandboxed) or the parent is out of its reach. Runs before any script of the
// frame, so the frame's own `origin` and `parent` are the engine's; the parent's `location` cannot
// be replaced by its page.
(function () {
  try {
    if (self.origin === 'null' || self.parent === self) return '';
    var href = self.parent.location.href;
    return typeof href === 'string' ? href : '';
  } catch (e) { return ''; }
})()
