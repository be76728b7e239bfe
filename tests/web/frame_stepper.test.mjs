// The player's walk through the records: the loop after the closing record,
// stepping back across it, and the picture kept in step with the position.
import { test } from 'node:test';
import assert from 'node:assert/strict';

import { VeltAnimation } from '../../web/velt_decoder.js';
import { FrameStepper } from '../../web/frame_stepper.js';

const RED8 = [0x00, 0xf8, 0, 0, 0, 0, 0, 0];
const GREEN8 = [0xe0, 0x07, 0, 0, 0, 0, 0, 0];
const BLUE8 = [0x1f, 0x00, 0, 0, 0, 0, 0, 0];
const COLOUR_NAMES = { '255,0,0': 'red', '0,255,0': 'green', '0,0,255': 'blue' };

// A 4x4 animation whose frames are uniform blocks of the given records.
function animationOf(...frameRecords) {
  const frames = frameRecords.length - 1;
  const body = frameRecords.flatMap((record) => (record ? [0x80, ...record] : [0x00]));
  return new VeltAnimation(Uint8Array.from([0x56, 0x45, 0x4c, 0x54, 0, 0x27, 0, frames, 0, 0, ...body]), 'opaque');
}

// Where the stepper stands: record, frame shown, colour on screen.
const where = (s) => [s.position, s.frameNumber, COLOUR_NAMES[Array.from(s.picture.subarray(0, 3)).join()]];

test('forward plays every frame, then loops from record 1 after the closing record', () => {
  const stepper = new FrameStepper(animationOf(RED8, GREEN8, BLUE8, RED8));
  const seen = [where(stepper)];
  for (let i = 0; i < 6; i++) {
    stepper.forward();
    seen.push(where(stepper));
  }
  assert.deepEqual(seen, [
    [0, 0, 'red'], [1, 1, 'green'], [2, 2, 'blue'], [3, 0, 'red'],
    [1, 1, 'green'], [2, 2, 'blue'], [3, 0, 'red'],
  ]);
  assert.equal(stepper.atClosingRecord, true);
  assert.deepEqual(stepper.recordStats, { record: 3, changedBlocks: 1, bytes: 9 });
});

test('back decodes the frame before, and wraps from frame 0 to the last frame', () => {
  const stepper = new FrameStepper(animationOf(RED8, GREEN8, BLUE8, RED8));
  const seen = [];
  for (let i = 0; i < 4; i++) {
    stepper.back();
    seen.push(where(stepper));
  }
  assert.deepEqual(seen, [[2, 2, 'blue'], [1, 1, 'green'], [0, 0, 'red'], [2, 2, 'blue']]);

  stepper.forward(); // to the closing record
  stepper.back();
  assert.deepEqual(where(stepper), [2, 2, 'blue']);
});

test('a single frame: the closing record repeats frame 0', () => {
  const stepper = new FrameStepper(animationOf(RED8, null));
  stepper.forward();
  stepper.forward();
  assert.deepEqual(where(stepper), [1, 0, 'red']);
  stepper.back();
  assert.deepEqual(where(stepper), [0, 0, 'red']);
  stepper.back();
  assert.deepEqual(where(stepper), [0, 0, 'red']);
});

test('stepping from kept copies gives the pictures decoding from record 0 gives', () => {
  // 8x4, two blocks; six frames of different colour pairs, then the closing record
  const pairs = [[RED8, GREEN8], [GREEN8, GREEN8], [BLUE8, RED8], [BLUE8, BLUE8], [RED8, RED8], [GREEN8, BLUE8]];
  const body = [[0xc0, ...pairs[0].flat()]];
  for (let f = 1; f <= pairs.length; f++) {
    const [before, now] = [pairs[f - 1], pairs[f % pairs.length]];
    const changed = [0, 1].filter((b) => before[b] !== now[b]);
    body.push([changed.reduce((map, b) => map | (0x80 >> b), 0), ...changed.flatMap((b) => now[b])]);
  }
  const file = Uint8Array.from([0x56, 0x45, 0x4c, 0x54, 0, 0x27, 0, pairs.length, 1, 0, ...body.flat()]);
  const animation = new VeltAnimation(file, 'opaque');
  const moves = 'fffffffffbbbbbbbbbbfffbbffffffffbbbbbbbbbbbbb';

  const paths = [];
  for (const snapshotBytes of [0, 256, 1 << 20]) {
    const stepper = new FrameStepper(animation, { snapshotBytes });
    const path = [];
    for (const move of moves) {
      if (move === 'f') stepper.forward();
      else stepper.back();
      path.push(stepper.position);
      assert.deepEqual(stepper.picture, animation.pictureAt(stepper.position),
        `copies of ${snapshotBytes} bytes, record ${stepper.position}`);
    }
    paths.push(path);
  }
  assert.deepEqual(paths[1], paths[0]);
  assert.deepEqual(paths[2], paths[0]);
});
