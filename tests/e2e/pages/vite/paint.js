export const paint = (root) => root.append(Object.assign(document.createElement('div'), { className: 'block' }));
