// Small helpers the demo's modules share.
export function show(id, text) {
  document.getElementById(id).textContent = text;
}

export function increment(id) {
  var element = document.getElementById(id);
  element.textContent = String(parseInt(element.textContent, 10) + 1);
}
