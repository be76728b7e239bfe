// The JavaScript decoder under node: block records with known pixels, whole
// files with known frames, and broken files that must fail at a known byte.
import { test } from 'node:test';
import assert from 'node:assert/strict';

import { VeltAnimation, VeltFormatError, decodeBlock, readLayout } from '../../web/velt_decoder.js';

// 16 pixels of one RGBA colour, or a list of rows of four.
const fill = (rgba) => Array(16).fill(rgba);
const rows = (...r) => r.flat();

const WHITE = [255, 255, 255, 255];
const BLACK = [0, 0, 0, 255];
const RED = [255, 0, 0, 255];
const GREEN = [0, 255, 0, 255];
const BLUE = [0, 0, 255, 255];
const CLEAR = [0, 0, 0, 0];

function decoded(record, mode) {
  const out = new Uint8Array(64);
  decodeBlock(Uint8Array.from(record), 0, mode, out);
  return Array.from({ length: 16 }, (_, p) => Array.from(out.subarray(p * 4, p * 4 + 4)));
}

const blockCases = [
  // uniform and transparent records of each mode
  { why: 'uniform red, four-colour', mode: 'opaque', record: [0x00, 0xf8, 0, 0, 0, 0, 0, 0], pixels: fill(RED) },
  { why: 'uniform black: equal endpoints, index 0 is endpoint0', mode: 'opaque', record: [0, 0, 0, 0, 0, 0, 0, 0], pixels: fill(BLACK) },
  { why: 'uniform red, alpha-aware', mode: 'alpha', record: [0x00, 0xf8, 0x00, 0xf8, 0, 0, 0, 0], pixels: fill(RED) },
  { why: 'transparent, alpha-aware', mode: 'alpha', record: [0, 0, 0, 0, 0xff, 0xff, 0xff, 0xff], pixels: fill(CLEAR) },
  { why: 'uniform grey 128 becomes 0x8410', mode: 'opaque', record: [0x10, 0x84, 0, 0, 0, 0, 0, 0], pixels: fill([132, 130, 132, 255]) },
  { why: 'uniform red, opaque12', mode: 'opaque12', record: [0x00, 0xf8, ...Array(10).fill(0)], pixels: fill(RED) },
  { why: 'uniform black, opaque12: equal endpoints stay three-endpoint', mode: 'opaque12', record: Array(12).fill(0), pixels: fill(BLACK) },
  { why: 'transparent, alpha12: code 4 is endpoint1 at alpha 0', mode: 'alpha12', record: [0, 0, 0, 0, ...Array(8).fill(0x44)], pixels: fill(CLEAR) },
  { why: 'uniform red alpha 255, alpha12', mode: 'alpha12', record: [0x00, 0xf8, 0x00, 0xf8, ...Array(8).fill(0x33)], pixels: fill(RED) },
  { why: 'uniform red alpha 128, alpha12', mode: 'alpha12', record: [0x00, 0xf8, 0x00, 0xf8, ...Array(8).fill(0x11)], pixels: fill([255, 0, 0, 128]) },
  { why: 'uniform red alpha 64, alpha12', mode: 'alpha12', record: [0x00, 0xf8, 0x00, 0xf8, ...Array(8).fill(0x00)], pixels: fill([255, 0, 0, 64]) },

  // worked records of the encoder
  {
    why: 'four-colour thirds, leftmost pixel in the top bits',
    mode: 'opaque',
    record: [0xff, 0xff, 0x00, 0x00, 0x05, 0x11, 0x55, 0xaf],
    pixels: rows([WHITE, WHITE, BLACK, BLACK], [WHITE, BLACK, WHITE, BLACK], fill(BLACK).slice(0, 4),
      [[170, 170, 170, 255], [170, 170, 170, 255], [85, 85, 85, 255], [85, 85, 85, 255]]),
  },
  {
    why: 'four-colour, endpoint1 unpacks by bit replication',
    mode: 'opaque',
    record: [0xff, 0xff, 0xcb, 0x5a, 0x55, 0x55, 0x55, 0x45],
    pixels: rows(Array(12).fill([90, 89, 90, 255]), [[90, 89, 90, 255], WHITE, [90, 89, 90, 255], [90, 89, 90, 255]]),
  },
  {
    why: 'four-colour thirds round to nearest per channel',
    mode: 'opaque',
    record: [0x00, 0xf8, 0x1f, 0x00, 0x1b, 0x1b, 0x1b, 0x1b],
    pixels: Array(4).fill([RED, BLUE, [170, 0, 85, 255], [85, 0, 170, 255]]).flat(),
  },
  {
    why: 'three-colour: half rounds up, index 3 clear',
    mode: 'alpha',
    record: [0x00, 0x00, 0xff, 0xff, 0x50, 0x05, 0xff, 0x44],
    pixels: rows([WHITE, WHITE, BLACK, BLACK], [BLACK, BLACK, WHITE, WHITE], fill(CLEAR).slice(0, 4), [WHITE, BLACK, WHITE, BLACK]),
  },
  {
    why: 'three-colour entry 2 is the half-way colour',
    mode: 'alpha',
    record: [0x00, 0x00, 0xff, 0xff, 0xaa, 0xaa, 0xaa, 0xaa],
    pixels: fill([128, 128, 128, 255]),
  },
  {
    why: 'three-colour with equal endpoints',
    mode: 'alpha',
    record: [0x00, 0xf8, 0x00, 0xf8, 0x0f, 0xf0, 0x00, 0x00],
    pixels: rows([RED, RED, CLEAR, CLEAR], [CLEAR, CLEAR, RED, RED], fill(RED).slice(0, 8)),
  },
  {
    why: 'equal endpoints in an opaque file are read as three-colour too',
    mode: 'opaque',
    record: [0xff, 0xff, 0xff, 0xff, 0xc0, 0, 0, 0],
    pixels: [CLEAR, ...fill(WHITE).slice(1)],
  },
  {
    why: 'three-endpoint: red, green, blue and their mean',
    mode: 'opaque12',
    record: [0x00, 0xf8, 0xe0, 0x07, 0x1f, 0x00, 0x00, 0x02, 0x49, 0x92, 0x4b, 0x6d],
    pixels: rows(fill(RED).slice(0, 4), fill(GREEN).slice(0, 4), fill(BLUE).slice(0, 4), fill([85, 85, 85, 255]).slice(0, 4)),
  },
  {
    why: 'three-endpoint in alpha12 when endpoint0 > endpoint1',
    mode: 'alpha12',
    record: [0x00, 0xf8, 0xe0, 0x07, 0x1f, 0x00, 0x00, 0x02, 0x49, 0x92, 0x4b, 0x6d],
    pixels: rows(fill(RED).slice(0, 4), fill(GREEN).slice(0, 4), fill(BLUE).slice(0, 4), fill([85, 85, 85, 255]).slice(0, 4)),
  },
  {
    why: 'three-endpoint: all eight entries, indices across byte boundaries',
    mode: 'opaque12',
    record: [0x00, 0xf8, 0xe0, 0x07, 0x1f, 0x00, 0x05, 0x39, 0x77, 0xfa, 0xc6, 0x88],
    pixels: (() => {
      const palette = [RED, GREEN, [170, 85, 0, 255], [85, 170, 0, 255], BLUE, [85, 85, 85, 255], [128, 0, 128, 255], [0, 128, 128, 255]];
      return [...palette, ...palette.slice().reverse()];
    })(),
  },
  {
    why: 'three-endpoint: white, white, black, black rows',
    mode: 'opaque12',
    record: [0xff, 0xff, 0x00, 0x00, 0xff, 0xff, 0x00, 0x90, 0x09, 0x00, 0x90, 0x09],
    pixels: Array(4).fill([WHITE, WHITE, BLACK, BLACK]).flat(),
  },
  {
    why: 'alpha layout: code 4 keeps endpoint1 colour at alpha 0',
    mode: 'alpha12',
    record: [0x00, 0x00, 0xff, 0xff, 0x77, 0x33, 0x33, 0x77, 0x44, 0x44, 0x73, 0x73],
    pixels: rows([WHITE, WHITE, BLACK, BLACK], [BLACK, BLACK, WHITE, WHITE], fill([255, 255, 255, 0]).slice(0, 4), [WHITE, BLACK, WHITE, BLACK]),
  },
  {
    why: 'alpha layout: level 2 differs between colour index 1 and 0',
    mode: 'alpha12',
    record: [0x00, 0x00, 0xff, 0xff, 0x66, 0x22, 0x66, 0x22, 0x66, 0x22, 0x66, 0x22],
    pixels: Array(4).fill([[255, 255, 255, 170], [255, 255, 255, 170], [0, 0, 0, 192], [0, 0, 0, 192]]).flat(),
  },
  {
    why: 'alpha layout: every code in pixel order, high nibble first',
    mode: 'alpha12',
    record: [0x00, 0x00, 0xff, 0xff, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef],
    pixels: [
      [0, 0, 0, 64], [0, 0, 0, 128], [0, 0, 0, 192], [0, 0, 0, 255],
      [255, 255, 255, 0], [255, 255, 255, 85], [255, 255, 255, 170], [255, 255, 255, 255],
      [85, 85, 85, 64], [85, 85, 85, 128], [85, 85, 85, 192], [85, 85, 85, 255],
      [170, 170, 170, 64], [170, 170, 170, 128], [170, 170, 170, 192], [170, 170, 170, 255],
    ],
  },
  {
    why: 'the same bytes in opaque12 are a three-endpoint record',
    mode: 'opaque12',
    record: [0x00, 0x00, 0xff, 0xff, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef],
    // endpoint2 = 0x2301 = (33, 97, 8); index bits 010 001 010 110 ... read three at a time
    pixels: (() => {
      const p = [BLACK, WHITE, [85, 85, 85, 255], [170, 170, 170, 255], [33, 97, 8, 255],
        [96, 117, 88, 255], [17, 49, 4, 255], [144, 176, 132, 255]];
      return [2, 1, 2, 6, 3, 6, 1, 1, 5, 2, 7, 4, 6, 7, 5, 7].map((i) => p[i]);
    })(),
  },
];

for (const { why, mode, record, pixels } of blockCases) {
  test(`${mode} record: ${why}`, () => assert.deepEqual(decoded(record, mode), pixels));
}

// A file from a header and frame records given as byte arrays.
function veltFile({ across = 1, down = 1, frames, rate = 0x27 }, ...records) {
  return Uint8Array.from([0x56, 0x45, 0x4c, 0x54, 0, rate, frames >> 8, frames & 0xff, across - 1, down - 1, ...records.flat()]);
}

const RED8 = [0x00, 0xf8, 0, 0, 0, 0, 0, 0];
const GREEN8 = [0xe0, 0x07, 0, 0, 0, 0, 0, 0];
const BLUE8 = [0x1f, 0x00, 0, 0, 0, 0, 0, 0];
const WHITE8 = [0xff, 0xff, 0, 0, 0, 0, 0, 0];

// 4x4, two frames (red, green), closing record back to red: 10 + 9 + 9 + 9 bytes
const twoFrames = veltFile({ frames: 2 }, [0x80, ...RED8], [0x80, ...GREEN8], [0x80, ...RED8]);

test('layout of a complete file: offsets, sizes, changed blocks, header facts', () => {
  const file = veltFile({ across: 10, down: 2, frames: 1, rate: 0x80 | 49 },
    [0xff, 0xff, 0xf0, ...Array(20).fill(RED8).flat()], [0x00, 0x00, 0x00]);
  const { header, records } = readLayout(file, 'alpha');
  assert.deepEqual(
    { fps: header.fps, flags: header.flagsMarked, frames: header.frameCount, w: header.width, h: header.height },
    { fps: 25, flags: true, frames: 1, w: 40, h: 8 });
  assert.deepEqual(records, [
    { offset: 10, size: 163, changedBlocks: 20 },
    { offset: 173, size: 3, changedBlocks: 0 },
  ]);
  assert.equal(readLayout(twoFrames, 'opaque').header.fps, 20);

  // 1020 x 1020: 65025 blocks, maps of 8129 bytes whose last byte has one block bit
  const largest = veltFile({ across: 255, down: 255, frames: 1 },
    [...Array(8128).fill(0xff), 0x80, ...Array(65025).fill(WHITE8).flat()], Array(8129).fill(0));
  assert.deepEqual(readLayout(largest, 'opaque').records, [
    { offset: 10, size: 8129 + 65025 * 8, changedBlocks: 65025 },
    { offset: 10 + 8129 + 65025 * 8, size: 8129, changedBlocks: 0 },
  ]);
});

const badFiles = [
  { why: 'empty', bytes: [], offset: 0 },
  { why: 'header cut short', bytes: [...twoFrames.slice(0, 9)], offset: 9 },
  { why: 'wrong magic', bytes: [0x56, 0x45, 0x4c, 0x58, ...twoFrames.slice(4)], offset: 0 },
  { why: 'wrong magic in a short file', bytes: [0x56, 0x58], offset: 0 },
  { why: 'reserved byte set', bytes: [...twoFrames.slice(0, 4), 1, ...twoFrames.slice(5)], offset: 4 },
  { why: 'frame count 0', bytes: veltFile({ frames: 0 }, [0x80, ...RED8]), offset: 6 },
  { why: 'width of 1024 pixels', bytes: veltFile({ across: 256, frames: 1 }), offset: 8 },
  { why: 'height of 1024 pixels', bytes: veltFile({ down: 256, frames: 1 }), offset: 9 },
  { why: 'record 0 leaves a block out', bytes: veltFile({ frames: 1 }, [0x00], [0x00]), offset: 10 },
  { why: 'record 0 leaves the last of 20 blocks out', bytes: veltFile({ across: 10, down: 2, frames: 1 }, [0xff, 0xff, 0xe0, ...Array(19).fill(RED8).flat()], [0, 0, 0]), offset: 12 },
  { why: 'padding bit set in record 0', bytes: veltFile({ across: 10, down: 2, frames: 1 }, [0xff, 0xff, 0xf8, ...Array(21).fill(RED8).flat()], [0, 0, 0]), offset: 12 },
  { why: 'padding bit set in the closing record', bytes: veltFile({ across: 10, down: 2, frames: 1 }, [0xff, 0xff, 0xf0, ...Array(20).fill(RED8).flat()], [0, 0, 0x01]), offset: 175 },
  { why: 'closing record missing', bytes: veltFile({ frames: 2 }, [0x80, ...RED8], [0x80, ...GREEN8]), offset: 28 },
  { why: 'a byte after the closing record', bytes: [...twoFrames, 0], offset: 37 },
  { why: 'frame count far beyond the file', bytes: veltFile({ frames: 65535 }, [0x80, ...RED8], [0x00]), offset: 20 },
];

for (const { why, bytes, offset } of badFiles) {
  test(`bad file fails at byte ${offset}: ${why}`, () => {
    assert.throws(() => readLayout(Uint8Array.from(bytes), 'opaque'),
      (e) => e instanceof VeltFormatError && e.offset === offset && e.message.startsWith(`byte ${offset}: `));
  });
}

test('every truncated prefix of a valid file fails inside the file', () => {
  for (let length = 0; length < twoFrames.length; length++) {
    const prefix = twoFrames.slice(0, length);
    assert.throws(() => readLayout(prefix, 'opaque'),
      (e) => e instanceof VeltFormatError && e.offset <= length, `prefix of ${length} bytes`);
  }
});

test('the block mode sets the record size; files without flags are opaque', () => {
  const file12 = veltFile({ frames: 1, rate: 0x80 | 0x27 }, [0x80, ...RED8, 0, 0, 0, 0], [0x00]);
  assert.equal(readLayout(file12, 'alpha12').recordSize, 12);
  assert.throws(() => readLayout(file12, 'alpha'), VeltFormatError);
  const marked = Uint8Array.from(twoFrames);
  marked[5] |= 0x80;
  assert.throws(() => readLayout(marked, 'opaque12'), VeltFormatError);
  assert.deepEqual([readLayout(marked, 'alpha').mode, readLayout(marked, 'alpha').recordSize], ['alpha', 8]);
  assert.deepEqual([readLayout(twoFrames, 'alpha12').mode, readLayout(twoFrames, 'alpha12').recordSize], ['opaque', 8]);
  assert.throws(() => readLayout(twoFrames, 'bc1'), RangeError);
});

// The colour at pixel (x, y) of a picture.
const pixelAt = (picture, width, x, y) => Array.from(picture.subarray((y * width + x) * 4, (y * width + x) * 4 + 4));

test('records replace exactly the flagged blocks, in block order', () => {
  // 8x8: blocks 0 1 / 2 3 are red, green / blue, white; frame 1 changes
  // blocks 1 and 2 to white and red; the closing record restores them
  const file = veltFile({ across: 2, down: 2, frames: 2 },
    [0xf0, ...RED8, ...GREEN8, ...BLUE8, ...WHITE8],
    [0x60, ...WHITE8, ...RED8],
    [0x60, ...GREEN8, ...BLUE8]);
  const animation = new VeltAnimation(file, 'opaque');
  const corners = (picture) => [[0, 0], [7, 0], [0, 7], [7, 7], [4, 3], [3, 4]].map(([x, y]) => pixelAt(picture, 8, x, y));

  const frame0 = [RED, GREEN, BLUE, WHITE, GREEN, BLUE];
  assert.deepEqual(corners(animation.pictureAt(0)), frame0);
  assert.deepEqual(corners(animation.pictureAt(1)), [RED, WHITE, RED, WHITE, WHITE, RED]);
  assert.deepEqual(animation.pictureAt(2), animation.pictureAt(0), 'the closing record gives frame 0 again');

  const looped = animation.pictureAt(2);
  animation.applyRecord(1, looped);
  assert.deepEqual(looped, animation.pictureAt(1), 'record 1 after the closing record gives frame 1');
});
