// A one-page PDF (A4) of a title, lines of text and a JPEG picture, written by hand: enough for an
// export without a library. Text outside Latin-1 is written as "?".
const encoder = (text) => Uint8Array.from(text, (c) => (c.charCodeAt(0) < 256 ? c.charCodeAt(0) : 63));

function literal(text) {
  return '(' + text.replace(/[\x00-\x1f\x7f]/g, ' ').replace(/[\\()]/g, (c) => '\\' + c) + ')';
}

// `lines` wrapped at `width` characters.
function wrapped(lines, width) {
  const out = [];
  for (const line of lines) {
    let rest = line.replace(/\t/g, '    ');
    while (rest.length > width) {
      const cut = rest.lastIndexOf(' ', width) > 0 ? rest.lastIndexOf(' ', width) : width;
      out.push(rest.slice(0, cut));
      rest = rest.slice(cut).replace(/^ /, '');
    }
    out.push(rest);
  }
  return out;
}

// `picture`: { jpeg: Uint8Array, width, height } or null.
export function makePdf(title, text, picture) {
  // The title, the picture under it at the left (120 points wide), then the text.
  const pictureHeight = picture ? Math.round((120 * picture.height) / picture.width) : 0;
  const top = 750 - pictureHeight - (picture ? 20 : 0);
  const lines = wrapped(text.split(/\r?\n/), 84).slice(0, Math.floor((top - 50) / 15));
  let content = `BT /F1 20 Tf 56 780 Td ${literal(title)} Tj ET\nBT /F1 11 Tf 56 ${top} Td 15 TL\n`;
  for (const line of lines) content += `${literal(line)} '\n`;
  content += 'ET\n';
  if (picture) content += `q 120 0 0 ${pictureHeight} 56 ${750 - pictureHeight} cm /Im1 Do Q\n`;

  const objects = [
    '<< /Type /Catalog /Pages 2 0 R >>',
    '<< /Type /Pages /Kids [3 0 R] /Count 1 >>',
    '<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Font << /F1 5 0 R >>'
      + (picture ? ' /XObject << /Im1 6 0 R >>' : '') + ' >> /Contents 4 0 R >>',
    [`<< /Length ${content.length} >>\nstream\n`, content, '\nendstream'],
    '<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>',
  ];
  if (picture) {
    objects.push([`<< /Type /XObject /Subtype /Image /Width ${picture.width} /Height ${picture.height} /ColorSpace /DeviceRGB `
      + `/BitsPerComponent 8 /Filter /DCTDecode /Length ${picture.jpeg.length} >>\nstream\n`, picture.jpeg, '\nendstream']);
  }

  const parts = [];
  let length = 0;
  const add = (part) => {
    const bytes = typeof part === 'string' ? encoder(part) : part;
    parts.push(bytes);
    length += bytes.length;
  };
  add('%PDF-1.4\n%\xe2\xe3\xcf\xd3\n');
  const offsets = objects.map((object, index) => {
    const offset = length;
    add(`${index + 1} 0 obj\n`);
    (Array.isArray(object) ? object : [object]).forEach(add);
    add('\nendobj\n');
    return offset;
  });
  const xref = length;
  add(`xref\n0 ${objects.length + 1}\n0000000000 65535 f \n` + offsets.map((o) => String(o).padStart(10, '0') + ' 00000 n \n').join(''));
  add(`trailer\n<< /Size ${objects.length + 1} /Root 1 0 R >>\nstartxref\n${xref}\n%%EOF\n`);

  const out = new Uint8Array(length);
  let at = 0;
  for (const bytes of parts) {
    out.set(bytes, at);
    at += bytes.length;
  }
  return out;
}
