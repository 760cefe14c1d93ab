// Notes: a text kept in the app's "persistent" file system, read at start and written by Save.
import { file, nativeReady } from '/_webhost/webhost.mjs';
import { $, show, describe, size } from './view.mjs';

export const DIR = 'whfile://localhost/persistent/';
const NOTES = DIR + 'notes.txt';
const WELCOME = 'Welcome to the Penwick demo.\n\nThese notes live in notes.txt of the app\'s persistent file system: '
  + 'edit them, press Save, and they are here again next time.\n';

const text = $('notes-text');

// The files of the folder, listed under the notes.
export async function listFiles() {
  const entries = await file.readEntries(DIR);
  const names = entries.filter((entry) => entry.isFile).map((entry) => entry.name).sort();
  show('notes-files', names.length ? names.join(', ') : 'nothing yet');
}

async function load() {
  try {
    text.value = await file.readAsText(NOTES);
    show('notes-status', 'Loaded notes.txt.');
  } catch (error) {
    if (error.code !== file.errors.NOT_FOUND_ERR) throw error;
    // First run: the file is made with a welcome text.
    text.value = WELCOME;
    await save();
  }
}

async function save() {
  await file.getFile(DIR, 'notes.txt', { create: true });
  const written = await file.write(NOTES, text.value);
  show('notes-status', `Saved ${size(written)}.`);
  await listFiles();
}

$('notes-save').addEventListener('click', () => save().catch((error) => show('notes-status', 'Not saved: ' + describe(error))));
$('notes-reload').addEventListener('click', () => load().catch((error) => show('notes-status', 'Not loaded: ' + describe(error))));

export function notesText() {
  return text.value;
}

// Resolves once the notes are shown (or why they are not).
export const notesReady = nativeReady.then(load).catch((error) => show('notes-status', 'The file system is not available: ' + describe(error)));
