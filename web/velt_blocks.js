// Block records to pixels: each record becomes the 16 RGBA pixels of one 4x4
// block, row-major, 64 bytes. Palettes are rebuilt with the same rounded mixes
// the encoder chose its indices from, so the pixels come out exactly.

export function unpackRgb565(c) {
  const r5 = c >> 11;
  const g6 = (c >> 5) & 63;
  const b5 = c & 31;
  return [(r5 << 3) | (r5 >> 2), (g6 << 2) | (g6 >> 4), (b5 << 3) | (b5 >> 2)];
}

// two thirds a, one third b, rounded to nearest
const third = (a, b) => a.map((v, i) => Math.floor((2 * v + b[i] + 1) / 3));
// halves round up
const half = (a, b) => a.map((v, i) => (v + b[i] + 1) >> 1);
const third3 = (a, b, c) => a.map((v, i) => Math.floor((v + b[i] + c[i] + 1) / 3));

const readColour = (bytes, at) => bytes[at] | (bytes[at + 1] << 8);

function putPixel(out, pixel, rgb, alpha) {
  const at = pixel * 4;
  out[at] = rgb[0];
  out[at + 1] = rgb[1];
  out[at + 2] = rgb[2];
  out[at + 3] = alpha;
}

// 8-byte record: endpoint0 > endpoint1 selects the four-colour palette,
// anything else the three-colour one, whose index 3 is a transparent pixel.
export function decodeBlock8(bytes, at, out) {
  const c0 = readColour(bytes, at);
  const c1 = readColour(bytes, at + 2);
  const p0 = unpackRgb565(c0);
  const p1 = unpackRgb565(c1);
  const fourColour = c0 > c1;
  const palette = fourColour ? [p0, p1, third(p0, p1), third(p1, p0)] : [p0, p1, half(p0, p1)];
  for (let row = 0; row < 4; row++) {
    const bits = bytes[at + 4 + row];
    for (let column = 0; column < 4; column++) {
      const index = (bits >> (6 - 2 * column)) & 3;
      const pixel = row * 4 + column;
      if (index === 3 && !fourColour) putPixel(out, pixel, [0, 0, 0], 0);
      else putPixel(out, pixel, palette[index], 255);
    }
  }
}

// Alpha values of the four levels: colour index 1 reaches down to fully clear,
// the other colour indices stop at 64.
const ALPHA_LEVELS_INDEX1 = [0, 85, 170, 255];
const ALPHA_LEVELS_OTHERS = [64, 128, 192, 255];

// 12-byte record. Only in alpha12 mode, and only when endpoint1 >= endpoint0,
// it holds sixteen 4-bit codes (colour index x 4 + alpha level); every other
// record holds a third colour and sixteen 3-bit indices into eight colours.
export function decodeBlock12(bytes, at, mode, out) {
  const c0 = readColour(bytes, at);
  const c1 = readColour(bytes, at + 2);
  const p0 = unpackRgb565(c0);
  const p1 = unpackRgb565(c1);
  const pairColours = [p0, p1, third(p0, p1), third(p1, p0)];

  if (mode === 'alpha12' && c1 >= c0) {
    for (let pixel = 0; pixel < 16; pixel++) {
      const byte = bytes[at + 4 + (pixel >> 1)];
      const code = pixel % 2 === 0 ? byte >> 4 : byte & 15;
      const colour = code >> 2;
      const levels = colour === 1 ? ALPHA_LEVELS_INDEX1 : ALPHA_LEVELS_OTHERS;
      putPixel(out, pixel, pairColours[colour], levels[code & 3]);
    }
    return;
  }

  const p2 = unpackRgb565(readColour(bytes, at + 4));
  const palette = [...pairColours, p2, third3(p0, p1, p2), half(p0, p2), half(p1, p2)];
  // the 48 index bits, most significant first: pixels 0..7 in bytes 6..8, 8..15 in bytes 9..11
  for (let halfBlock = 0; halfBlock < 2; halfBlock++) {
    const base = at + 6 + 3 * halfBlock;
    const bits = (bytes[base] << 16) | (bytes[base + 1] << 8) | bytes[base + 2];
    for (let k = 0; k < 8; k++) {
      putPixel(out, halfBlock * 8 + k, palette[(bits >> (21 - 3 * k)) & 7], 255);
    }
  }
}

// Decodes the record at `at` in the given block mode into `out` (64 bytes).
export function decodeBlock(bytes, at, mode, out) {
  if (mode === 'opaque12' || mode === 'alpha12') decodeBlock12(bytes, at, mode, out);
  else decodeBlock8(bytes, at, out);
}
