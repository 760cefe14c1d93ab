export function paint(root) {
  const block = document.createElement('div');
  block.className = 'block';
  root.append(block);
}
