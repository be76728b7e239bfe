// The JavaScript decoder against `velt decode` on files the project encoded:
// the same pixels for every frame in every mode, and the same refusals, at
// the same byte offsets, for damaged files.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, rmSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';

import { VeltAnimation, VeltFormatError } from '../../web/velt_decoder.js';
import { ENCODE_FLAGS, VELT, WHEEL_FRAMES, encodeWheel, makeWorkDir, notBuilt, veltDecode } from './programs.mjs';

const skip = notBuilt(ENCODE_FLAGS, VELT);
const MODES = ['opaque', 'alpha', 'opaque12', 'alpha12'];

let work;
const wheels = {}; // block mode -> { path, bytes }

before(() => {
  if (skip) return;
  work = makeWorkDir();
  MODES.forEach((mode, flags) => {
    const path = join(work, `wheel_${mode}.velt`);
    encodeWheel(path, 20, flags);
    wheels[mode] = { path, bytes: readFileSync(path) };
  });
});

after(() => {
  if (work) rmSync(work, { recursive: true, force: true });
});

for (const mode of MODES) {
  test(`${mode}: every frame and the closing record equal velt decode's`, { skip }, () => {
    const expected = veltDecode(wheels[mode].path, mode, WHEEL_FRAMES, work);
    const animation = new VeltAnimation(new Uint8Array(wheels[mode].bytes), mode);
    const picture = animation.newPicture();
    for (let k = 0; k <= WHEEL_FRAMES; k++) {
      animation.applyRecord(k, picture);
      const frame = expected[k % WHEEL_FRAMES];
      assert.deepEqual([animation.header.width, animation.header.height], [frame.width, frame.height]);
      assert.ok(Buffer.from(picture).equals(frame.data), `record ${k} differs from velt decode`);
    }
  });
}

// Damaged copies of a wheel file: what is done to it, and the mode it is read in.
const damages = [
  { why: 'cut inside the header', mode: 'opaque', damage: (b) => b.subarray(0, 7) },
  { why: 'cut after the header', mode: 'opaque', damage: (b) => b.subarray(0, 10) },
  { why: 'cut inside record 0', mode: 'opaque', damage: (b) => b.subarray(0, 5000) },
  { why: 'cut inside the closing record', mode: 'alpha12', damage: (b) => b.subarray(0, b.length - 5) },
  { why: 'magic changed', mode: 'opaque', damage: (b) => patch(b, 2, 0x4b) },
  { why: 'reserved byte set', mode: 'opaque', damage: (b) => patch(b, 4, 1) },
  { why: 'one frame more than stored', mode: 'opaque', damage: (b) => patch(b, 7, b[7] + 1) },
  { why: 'one frame fewer than stored', mode: 'alpha12', damage: (b) => patch(b, 7, b[7] - 1) },
  { why: 'width code 255', mode: 'opaque', damage: (b) => patch(b, 8, 255) },
  { why: 'record 0 leaves a block out', mode: 'opaque', damage: (b) => patch(b, 20, 0xfe) },
  { why: 'a byte after the closing record', mode: 'alpha', damage: (b) => Buffer.concat([b, Buffer.from([0])]) },
  { why: '12-byte records read as alpha', mode: 'alpha', from: 'alpha12', damage: (b) => b },
  { why: '8-byte records read as alpha12', mode: 'alpha12', from: 'alpha', damage: (b) => b },
];

function patch(bytes, at, value) {
  const copy = Buffer.from(bytes);
  copy[at] = value;
  return copy;
}

for (const { why, mode, from = mode, damage } of damages) {
  test(`damaged file refused at the same offset as velt decode: ${why}`, { skip }, () => {
    const bytes = damage(wheels[from].bytes);
    const path = join(work, 'damaged.velt');
    writeFileSync(path, bytes);

    let refusal;
    try {
      veltDecode(path, mode, WHEEL_FRAMES, work);
    } catch (error) {
      refusal = String(error.stderr);
    }
    const offset = refusal?.match(/at offset (\d+)/);
    assert.ok(offset, `velt decode did not refuse the file (${refusal})`);
    assert.throws(() => new VeltAnimation(new Uint8Array(bytes), mode),
      (e) => e instanceof VeltFormatError && e.offset === Number(offset[1]),
      `velt decode: ${refusal.trim()}`);
  });
}
