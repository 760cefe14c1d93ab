// The demo's entry module. Each card is a module of its own; this one fills the header and tells
// a capture (--screenshot, --dump-dom) when the cards that wait for the host are filled.
import { nativeReady } from '/_webhost/webhost.mjs';
import { $, show } from './view.mjs';
import { notesReady, listFiles } from './notes.mjs';
import { pictureReady, soundReady } from './media.mjs';
import { deviceReady } from './device.mjs';
import { workerReady } from './worker.mjs';
import { sceneReady } from './scene.mjs';
import './export.mjs';
import './login.mjs';
import './window.mjs';

show('origin', location.protocol === 'file:' ? 'file:' : location.origin);
try {
  const visits = parseInt(localStorage.getItem('demo.visits') || '0', 10) + 1;
  localStorage.setItem('demo.visits', String(visits));
  show('visits', String(visits));
} catch (error) {
  show('visits', 'uncounted');
}

nativeReady.then(() => {
  show('host-state', 'host ready');
  $('host-state').classList.add('ready');
});

// Whether the page fits its window: the document's scroll size and the cards whose content is cut.
function layout() {
  const root = document.documentElement;
  const clipped = [...document.querySelectorAll('main > .card')].filter((card) => card.scrollHeight > card.clientHeight + 1
    || card.scrollWidth > card.clientWidth + 1).map((card) => card.id);
  root.dataset.viewport = `${innerWidth}x${innerHeight}`;
  root.dataset.scroll = `${root.scrollWidth}x${root.scrollHeight}`;
  root.dataset.clipped = clipped.join(' ');
  console.log(`demo: ready in ${root.dataset.viewport}, scroll size ${root.dataset.scroll}, cut cards: ${clipped.join(', ') || 'none'}`);
}

window.penwickCaptureReady = Promise.all([notesReady, pictureReady, soundReady, deviceReady, workerReady, sceneReady])
  .then(listFiles)
  .catch(() => {})
  .then(layout);
