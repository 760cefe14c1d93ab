// Export: the notes as text or PDF and the 3-D scene as PNG, through the host's save dialog.
import { app, file } from '/_webhost/webhost.mjs';
import { $, show, describe } from './view.mjs';
import { notesText } from './notes.mjs';
import { pictureURL } from './media.mjs';
import { sceneCanvas } from './scene.mjs';
import { makePdf } from './pdf.mjs';

async function canvasBytes(canvas, type) {
  const blob = await new Promise((resolve) => canvas.toBlob(resolve, type, 0.9));
  return new Uint8Array(await blob.arrayBuffer());
}

// The picture card's file as JPEG, for the PDF. Its bytes come through the file plugin: an
// image loaded from a whfile URL is another origin's, which a canvas may show but not give out.
async function pictureJpeg() {
  const bytes = await file.readAsArrayBuffer(pictureURL);
  const image = await createImageBitmap(new Blob([bytes], { type: 'image/png' }));
  const canvas = document.createElement('canvas');
  canvas.width = image.width;
  canvas.height = image.height;
  const g = canvas.getContext('2d');
  // JPEG has no transparency: white under it, as on paper.
  g.fillStyle = '#fff';
  g.fillRect(0, 0, canvas.width, canvas.height);
  g.drawImage(image, 0, 0);
  return { jpeg: await canvasBytes(canvas, 'image/jpeg'), width: canvas.width, height: canvas.height };
}

const exports = {
  text: () => app.saveAs('notes', 'txt', notesText()),
  png: async () => app.saveAs('scene', 'png', await canvasBytes(sceneCanvas, 'image/png')),
  pdf: async () => app.saveAs('notes', 'pdf', makePdf('Notes', notesText(), await pictureJpeg())),
};

for (const [kind, run] of Object.entries(exports)) {
  const button = $('export-' + kind);
  button.addEventListener('click', async () => {
    button.disabled = true;
    try {
      const path = await run();
      show('export-status', path ? `Saved ${path}` : 'Cancelled: nothing saved.');
    } catch (error) {
      show('export-status', 'Not saved: ' + describe(error));
    } finally {
      button.disabled = false;
    }
  });
}
