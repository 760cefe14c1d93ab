// The window: full screen (the app's F11, or the page's own request) and the pointer the host
// hides after the configured idle time.
import { $, show } from './view.mjs';
import { settings } from './settings.mjs';

// The app's full screen covers the screen without the page knowing how it got there.
function showScreen() {
  const covers = window.innerWidth >= screen.width && window.innerHeight >= screen.height;
  const state = document.fullscreenElement ? 'full screen (the page asked)' : covers ? 'full screen' : 'in a window';
  show('screen-status', `${state}: ${window.innerWidth}×${window.innerHeight} of a ${screen.width}×${screen.height} screen`);
  $('screen-toggle').textContent = document.fullscreenElement ? 'Leave full screen' : 'Full screen';
}

$('screen-toggle').addEventListener('click', () => {
  const done = document.fullscreenElement ? document.exitFullscreen() : document.documentElement.requestFullscreen();
  done.catch((error) => show('screen-status', 'Full screen refused: ' + error.message));
});
addEventListener('resize', showScreen);
document.addEventListener('fullscreenchange', showScreen);
showScreen();

// Only movement shows the pointer again; clicks and keys do not. The page sees movement over its
// own window; the host sees it everywhere.
const timeout = settings.hideMousePointer;
let lastMove = performance.now();
show('pointer-timeout', timeout > 0 ? `${timeout} s` : 'no time at all');
function showPointer() {
  const idle = Math.floor((performance.now() - lastMove) / 1000);
  show('pointer-status', idle >= timeout ? `Hidden: idle for ${idle} s. Move the mouse to bring it back.`
    : `Shown: idle for ${idle} s, hidden in ${timeout - idle} s.`);
}
addEventListener('mousemove', () => {
  lastMove = performance.now();
  showPointer();
});
setInterval(showPointer, 1000);
showPointer();
