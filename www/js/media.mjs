// Picture and sound: two files the demo makes on its first run in the persistent file system and
// then shows by their whfile URLs, as an app shows the media it downloaded or the user made.
import { file, nativeReady } from '/_webhost/webhost.mjs';
import { $, show, describe, size } from './view.mjs';
import { DIR } from './notes.mjs';

const PICTURE = 'picture.png', SOUND = 'chime.wav';
export const pictureURL = DIR + PICTURE;

// A small landscape, drawn once and kept as a PNG.
async function drawPicture() {
  const canvas = document.createElement('canvas');
  canvas.width = canvas.height = 192;
  const g = canvas.getContext('2d');
  const sky = g.createLinearGradient(0, 0, 0, 192);
  sky.addColorStop(0, '#2a6fdb');
  sky.addColorStop(1, '#ffd6a0');
  g.fillStyle = sky;
  g.fillRect(0, 0, 192, 192);
  g.fillStyle = '#ffd166';
  g.beginPath();
  g.arc(132, 70, 26, 0, 2 * Math.PI);
  g.fill();
  g.fillStyle = '#2d4b73';
  g.beginPath();
  g.moveTo(0, 150); g.lineTo(56, 86); g.lineTo(98, 132); g.lineTo(138, 96); g.lineTo(192, 150); g.lineTo(192, 192); g.lineTo(0, 192);
  g.fill();
  g.fillStyle = '#1b3150';
  g.fillRect(0, 160, 192, 32);
  g.fillStyle = '#fff';
  g.font = 'bold 18px sans-serif';
  g.fillText('Penwick', 12, 183);
  const blob = await new Promise((resolve) => canvas.toBlob(resolve, 'image/png'));
  return blob.arrayBuffer();
}

// A short two-note chime as 16-bit mono WAV.
function makeChime() {
  const rate = 22050, seconds = 0.9, count = Math.round(rate * seconds);
  const bytes = new ArrayBuffer(44 + count * 2), view = new DataView(bytes);
  const ascii = (offset, text) => [...text].forEach((c, i) => view.setUint8(offset + i, c.charCodeAt(0)));
  ascii(0, 'RIFF'); view.setUint32(4, 36 + count * 2, true); ascii(8, 'WAVE');
  ascii(12, 'fmt '); view.setUint32(16, 16, true); view.setUint16(20, 1, true); view.setUint16(22, 1, true);
  view.setUint32(24, rate, true); view.setUint32(28, rate * 2, true); view.setUint16(32, 2, true); view.setUint16(34, 16, true);
  ascii(36, 'data'); view.setUint32(40, count * 2, true);
  for (let i = 0; i < count; ++i) {
    const t = i / rate;
    const first = Math.sin(2 * Math.PI * 880 * t) * Math.exp(-6 * t);
    const second = t < 0.18 ? 0 : Math.sin(2 * Math.PI * 1318.5 * t) * Math.exp(-6 * (t - 0.18));
    const attack = Math.min(1, i / 200);
    view.setInt16(44 + i * 2, Math.round(12000 * attack * (first + second)), true);
  }
  return bytes;
}

// The file's whfile URL, made from `make()` when it is not there yet.
async function ensure(name, make) {
  try {
    await file.getFile(DIR, name, null);
  } catch (error) {
    if (error.code !== file.errors.NOT_FOUND_ERR) throw error;
    await file.getFile(DIR, name, { create: true });
    await file.write(DIR + name, await make());
  }
  return DIR + name;
}

function loaded(element, event) {
  return new Promise((resolve, reject) => {
    element.addEventListener(event, resolve, { once: true });
    element.addEventListener('error', () => reject(new Error(`${element.currentSrc || element.src} did not load`)), { once: true });
  });
}

async function showPicture() {
  const url = await ensure(PICTURE, drawPicture);
  const picture = $('media-picture');
  const shown = loaded(picture, 'load');
  picture.src = url;
  await shown;
  const { size: bytes } = await file.getFileMetadata(url);
  show('media-picture-url', `${url} · ${picture.naturalWidth}×${picture.naturalHeight}, ${size(bytes)}`);
}

async function showSound() {
  const url = await ensure(SOUND, makeChime);
  const sound = $('media-sound');
  const ready = loaded(sound, 'loadedmetadata');
  sound.src = url;
  await ready;
  show('media-sound-info', `${url} · ${sound.duration.toFixed(1)} s`);
}

// Resolve once each is shown, or says why not.
export const pictureReady = nativeReady.then(showPicture).catch((error) => show('media-picture-url', 'No picture: ' + describe(error)));
export const soundReady = nativeReady.then(showSound).catch((error) => show('media-sound-info', 'No sound: ' + describe(error)));
