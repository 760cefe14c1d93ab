// Small helpers the demo's modules share.
export function $(id) {
  return document.getElementById(id);
}

export function show(id, text) {
  $(id).textContent = text;
}

// A failure as a line for the user: the page library's errors carry a code and a message.
export function describe(error) {
  if (error && error.message) return error.code !== undefined && String(error.code) !== error.message ? `${error.message} (${error.code})` : error.message;
  return String(error);
}

// A file's size for people.
export function size(bytes) {
  return bytes < 1024 ? `${bytes} bytes` : `${(bytes / 1024).toFixed(1)} KiB`;
}
