// Frames of BC1 blocks under node: the blocks a GPU would decode, decoded here
// by a BC1 decoder of the test's own with velt's palette rounding, give
// exactly VeltAnimation's pictures; and the stepper walks them as it walks
// decoded pictures.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, rmSync } from 'node:fs';
import { join } from 'node:path';

import { VeltAnimation } from '../../web/velt_decoder.js';
import { Bc1Animation } from '../../web/bc1_frames.js';
import { FrameStepper } from '../../web/frame_stepper.js';
import { ENCODE_FLAGS, WHEEL_FRAMES, encodeWheel, makeWorkDir, notBuilt } from './programs.mjs';

// BC1 as a GPU reads it: pixel column c of a row byte in bits 2c+1..2c.
function decodeBc1Frame(blocks, width, height) {
  const rgba = new Uint8Array(width * height * 4);
  // 5 and 6 bits widened to 8 by repeating their top bits
  const expand = (c) => [c >> 11, (c >> 5) & 63, c & 31].map((v, i) => (i === 1 ? (v << 2) | (v >> 4) : (v << 3) | (v >> 2)));
  const mix = (a, b, wa, wb) => a.map((v, i) => Math.floor((wa * v + wb * b[i] + 1) / (wa + wb)));
  const blocksAcross = width / 4;
  for (let k = 0; k < blocks.length / 8; k++) {
    const at = k * 8;
    const c0 = blocks[at] | (blocks[at + 1] << 8);
    const c1 = blocks[at + 2] | (blocks[at + 3] << 8);
    const [p0, p1] = [expand(c0), expand(c1)];
    const palette = c0 > c1
      ? [[...p0, 255], [...p1, 255], [...mix(p0, p1, 2, 1), 255], [...mix(p0, p1, 1, 2), 255]]
      : [[...p0, 255], [...p1, 255], [...mix(p0, p1, 1, 1), 255], [0, 0, 0, 0]];
    for (let y = 0; y < 4; y++) {
      for (let x = 0; x < 4; x++) {
        const colour = palette[(blocks[at + 4 + y] >> (2 * x)) & 3];
        rgba.set(colour, (((Math.floor(k / blocksAcross) * 4 + y) * width) + (k % blocksAcross) * 4 + x) * 4);
      }
    }
  }
  return rgba;
}

// A file of 2x1 blocks (8x4 pixels), one frame made of the two records given.
function twoBlockFile(first, second) {
  return Uint8Array.from([0x56, 0x45, 0x4c, 0x54, 0, 0x27, 0, 1, 1, 0, 0xc0, ...first, ...second, 0x00]);
}

const BLUE_RED = [0x1f, 0x00, 0x00, 0xf8]; // c0 < c1: three colours and transparent
const RED_BLUE = [0x00, 0xf8, 0x1f, 0x00]; // c0 > c1: four colours

// Row bytes as stored and as BC1 holds them: the four 2-bit groups reversed.
const rowCases = [
  { why: 'indices 0 1 2 3 from column 0', rows: [0x1b, 0xe4, 0x00, 0xff], bc1: [0xe4, 0x1b, 0x00, 0xff] },
  { why: 'one pixel set in each column', rows: [0xc0, 0x30, 0x0c, 0x03], bc1: [0x03, 0x0c, 0x30, 0xc0] },
  { why: 'every group different', rows: [0x6c, 0x93, 0xb1, 0x4e], bc1: [0x39, 0xc6, 0x4e, 0xb1] },
];

for (const { why, rows, bc1 } of rowCases) {
  test(`block records become BC1 blocks: ${why}`, () => {
    const animation = new Bc1Animation(new VeltAnimation(twoBlockFile([...RED_BLUE, ...rows], [...BLUE_RED, ...rows]), 'alpha'));
    assert.deepEqual(Array.from(animation.pictureAt(0)), [...RED_BLUE, ...bc1, ...BLUE_RED, ...bc1],
      'endpoints as stored, in either order; row bytes reversed; blocks in order');
  });
}

test('12-byte records are refused', () => {
  const file = Uint8Array.from([0x56, 0x45, 0x4c, 0x54, 0, 0xa7, 0, 1, 0, 0, 0x80, ...Array(12).fill(0), 0x00]);
  for (const mode of ['opaque12', 'alpha12']) {
    assert.throws(() => new Bc1Animation(new VeltAnimation(file, mode)), RangeError, mode);
  }
});

const skip = notBuilt(ENCODE_FLAGS);
let work;
const wheels = {}; // block mode -> VeltAnimation of the wheel

before(() => {
  if (skip) return;
  work = makeWorkDir();
  for (const [mode, flags] of [['opaque', 0], ['alpha', 1]]) {
    const path = join(work, `wheel_${mode}.velt`);
    encodeWheel(path, 20, flags);
    wheels[mode] = new VeltAnimation(new Uint8Array(readFileSync(path)), mode);
  }
});

after(() => {
  if (work) rmSync(work, { recursive: true, force: true });
});

for (const mode of ['opaque', 'alpha']) {
  test(`${mode} wheel: every record's BC1 frame decodes to VeltAnimation's picture`, { skip }, () => {
    const animation = wheels[mode];
    const { width, height, blockCount } = animation.header;
    const bc1 = new Bc1Animation(animation);
    const blocks = bc1.newPicture();
    const picture = animation.newPicture();
    assert.equal(blocks.length * 8, picture.length, 'a BC1 frame is an eighth of the RGBA one');
    let transparent = 0;
    for (let k = 0; k <= WHEEL_FRAMES; k++) {
      bc1.applyRecord(k, blocks);
      animation.applyRecord(k, picture);
      const decoded = decodeBc1Frame(blocks, width, height);
      assert.ok(Buffer.from(decoded).equals(Buffer.from(picture)), `record ${k}`);
      for (let i = 3; i < picture.length; i += 4) transparent += picture[i] === 0;
    }
    assert.equal(transparent > 0, mode === 'alpha', 'transparent pixels only in alpha');
    assert.equal(blocks.length, blockCount * 8);
  });
}

test('the stepper walks BC1 frames, snapshots included, as it walks pictures', { skip }, () => {
  const animation = wheels.alpha;
  const { width, height } = animation.header;
  const bc1 = new Bc1Animation(animation);
  // memory for four snapshots of either kind: one every fifth record
  const rgba = new FrameStepper(animation, { snapshotBytes: 4 * animation.newPicture().length });
  const blocks = new FrameStepper(bc1, { snapshotBytes: 4 * bc1.newPicture().length });
  assert.equal(blocks.snapshotEvery, rgba.snapshotEvery);
  const moves = ['forward', 'forward', 'back', 'back', 'back', 'back', ...Array(12).fill('forward'), ...Array(8).fill('back')];
  for (const [step, move] of moves.entries()) {
    rgba[move]();
    blocks[move]();
    assert.equal(blocks.position, rgba.position, `step ${step}: ${move}`);
    assert.ok(Buffer.from(decodeBc1Frame(blocks.picture, width, height)).equals(Buffer.from(rgba.picture)),
      `step ${step}: ${move} to record ${rgba.position}`);
  }
  blocks.seek(WHEEL_FRAMES);
  rgba.seek(WHEEL_FRAMES);
  assert.ok(Buffer.from(decodeBc1Frame(blocks.picture, width, height)).equals(Buffer.from(rgba.picture)), 'seek to the closing record');
  assert.ok(blocks.snapshots.size > 0);
  for (const snapshot of blocks.snapshots.values()) assert.equal(snapshot.length * 8, rgba.picture.length);
});
