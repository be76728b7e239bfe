// The GPU path in headless Chromium: frames of BC1 blocks drawn by WebGL2 and
// read back against the PNGs `velt decode` writes, on the bundled wheel and on
// large frames made here; and the cases where the painter must give way to
// the CPU path.
//
// Headless Chromium's WebGL2 is ANGLE over SwiftShader, a software Vulkan,
// with the S3TC extension, in its default setting; --disable-webgl takes
// WebGL away. Program paths and the browser are found as in player_page.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { readFileSync, rmSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';

import pngjs from 'pngjs';

import { GPU_COLOUR_BOUND, hideWebGl2, launchChromium, openBlankPage } from './browser.mjs';
import { ENCODE_FLAGS, VELT, WHEEL_FRAMES, encodeWheel, makeWorkDir, notBuilt, veltDecode } from './programs.mjs';

const skip = notBuilt(ENCODE_FLAGS, VELT);

// The largest difference in R, G or B between a GPU-drawn pixel and velt's
// own palette is GPU_COLOUR_BOUND: BC1 decoders may round the two mixed
// colours their own way, and SwiftShader's differs by 1 at most on every file
// here. Alpha is exact everywhere, and so is every channel of a clear pixel.

// Large frames: 1020x764, the largest size of the benchmarks, in 3 frames.
const LARGE = { width: 1020, height: 764, frames: 3 };

let work;
let browser;
const files = {}; // name -> { bytes, mode, frames (velt decode's RGBA) }

// Gradients under noise, moving 8 pixels right a frame, with a clear ellipse
// and a band whose alpha falls from 255 to 0 (alpha mode cuts it at 128).
function writeLargeFrames(dir) {
  let seed = 12345;
  const noise = () => {
    seed ^= seed << 13;
    seed ^= seed >>> 17;
    seed ^= seed << 5;
    return (seed >>> 0) % 17 - 8;
  };
  const { width, height } = LARGE;
  for (let f = 0; f < LARGE.frames; f++) {
    const png = new pngjs.PNG({ width, height });
    for (let y = 0; y < height; y++) {
      for (let x = 0; x < width; x++) {
        const at = (y * width + x) * 4;
        const u = x + 8 * f;
        const level = (v) => Math.max(0, Math.min(255, Math.round(v) + noise()));
        png.data[at] = level((u * 255) / width);
        png.data[at + 1] = level((y * 255) / height);
        png.data[at + 2] = level(128 + 127 * Math.sin(u / 37 + y / 53));
        const inEllipse = ((u - 500) / 180) ** 2 + ((y - 380) / 120) ** 2 < 1;
        const band = y >= 600 && y < 700 ? Math.round(255 * (1 - (y - 600) / 99)) : 255;
        png.data[at + 3] = inEllipse ? 0 : band;
      }
    }
    writeFileSync(join(dir, `large_${f}.png`), pngjs.PNG.sync.write(png));
  }
}

function addFile(name, path, mode, frameCount) {
  files[name] = { bytes: readFileSync(path), mode, frames: veltDecode(path, mode, frameCount, work) };
}

before(async () => {
  if (skip) return;
  work = makeWorkDir();
  writeLargeFrames(work);
  for (const [mode, flags] of [['opaque', 0], ['alpha', 1]]) {
    const wheel = join(work, `wheel_${mode}.velt`);
    encodeWheel(wheel, 20, flags);
    addFile(`wheel ${mode}`, wheel, mode, WHEEL_FRAMES);
    const large = join(work, `large_${mode}.velt`);
    execFileSync(ENCODE_FLAGS, [join(work, 'large_X.png'), large, '20', String(flags)], { stdio: 'pipe' });
    addFile(`large ${mode}`, large, mode, LARGE.frames);
  }
  browser = await launchChromium();
});

after(async () => {
  await browser?.close();
  if (work) rmSync(work, { recursive: true, force: true });
});

// A blank page with one canvas, on which the player's modules can be imported.
const openPage = (onBrowser = browser, initScript = null) => openBlankPage(onBrowser, { body: '<canvas></canvas>', initScript });

// Plays the file through Bc1Animation and the painter, reading the canvas back
// after each of the given records; the pixels come back as base64.
function drawRecords(page, file, records) {
  return page.evaluate(async ({ base64, mode, records }) => {
    const { VeltAnimation } = await import('/velt_decoder.js');
    const { Bc1Animation } = await import('/bc1_frames.js');
    const { createGlPainter } = await import('/gl_painter.js');
    const animation = new Bc1Animation(new VeltAnimation(Uint8Array.from(atob(base64), (c) => c.charCodeAt(0)), mode));
    const { width, height } = animation.header;
    const painter = createGlPainter(document.querySelector('canvas'), width, height);
    if (!painter) return null;
    const picture = animation.newPicture();
    const shown = [];
    for (let k = 0; k <= records.at(-1); k++) {
      animation.applyRecord(k, picture);
      if (!records.includes(k)) continue;
      painter.draw(picture);
      const pixels = painter.readPixels();
      let text = '';
      for (let i = 0; i < pixels.length; i += 0x8000) text += String.fromCharCode(...pixels.subarray(i, i + 0x8000));
      shown.push(btoa(text));
    }
    return { shown, bytesPerFrame: painter.bytesPerFrame };
  }, { base64: file.bytes.toString('base64'), mode: file.mode, records });
}

// The largest R, G or B difference; alpha must be equal and clear pixels
// exactly (0, 0, 0, 0). Returns { largest, fault }.
function compare(drawn, expected) {
  let largest = 0;
  for (let i = 0; i < expected.length; i += 4) {
    const at = `pixel ${i / 4}: drawn ${Array.from(drawn.subarray(i, i + 4))}, velt decode ${Array.from(expected.subarray(i, i + 4))}`;
    if (drawn[i + 3] !== expected[i + 3]) return { largest, fault: `alpha differs at ${at}` };
    if (expected[i + 3] === 0 && (drawn[i] | drawn[i + 1] | drawn[i + 2]) !== 0) return { largest, fault: `clear pixel not black at ${at}` };
    for (let c = 0; c < 3; c++) largest = Math.max(largest, Math.abs(drawn[i + c] - expected[i + c]));
  }
  return { largest, fault: null };
}

const drawCases = [
  { file: 'wheel opaque', records: [0, 1, 7, 15, WHEEL_FRAMES], why: 'four-colour blocks; frames through the closing record' },
  { file: 'wheel alpha', records: [0, 1, 7, 15, WHEEL_FRAMES], why: 'three-colour blocks with clear pixels' },
  { file: 'large opaque', records: [0, 1, 2, LARGE.frames], why: 'a large texture: rows and block order' },
  { file: 'large alpha', records: [0, 1, 2, LARGE.frames], why: 'a large texture with clear areas' },
];

for (const { file: name, records, why } of drawCases) {
  test(`${name} (${why}): drawn frames within ${GPU_COLOUR_BOUND} of velt decode`, { skip, timeout: 120_000 }, async (t) => {
    const file = files[name];
    const page = await openPage();
    const result = await drawRecords(page, file, records);
    await page.context().close();
    assert.ok(result, 'no WebGL2 with S3TC in headless Chromium');
    const { width, height } = file.frames[0];
    assert.equal(result.bytesPerFrame, width * height / 2);
    let largest = 0;
    result.shown.forEach((base64, n) => {
      const record = records[n];
      const { largest: l, fault } = compare(Buffer.from(base64, 'base64'), file.frames[record % file.frames.length].data);
      assert.equal(fault, null, `record ${record}`);
      largest = Math.max(largest, l);
    });
    t.diagnostic(`largest channel difference: ${largest}`);
    assert.ok(largest <= GPU_COLOUR_BOUND, `largest channel difference ${largest}`);
  });
}

// What a page lacks, how it comes to lack it; the painter must be null and the
// canvas left free for a 2D context.
const fallbackCases = [
  { why: 'getContext("webgl2") gives null', init: hideWebGl2 },
  { why: 'no S3TC extension', init: () => {
    const getExtension = WebGL2RenderingContext.prototype.getExtension;
    WebGL2RenderingContext.prototype.getExtension = function (name) {
      return name === 'WEBGL_compressed_texture_s3tc' ? null : getExtension.call(this, name);
    };
  } },
  { why: 'chromium --disable-webgl', flags: ['--disable-webgl'] },
];

for (const { why, init = null, flags = null } of fallbackCases) {
  test(`no GPU path when ${why}`, { skip, timeout: 60_000 }, async () => {
    const onBrowser = flags ? await launchChromium(flags) : browser;
    try {
      const page = await openPage(onBrowser, init);
      const outcome = await page.evaluate(async () => {
        const { createGlPainter } = await import('/gl_painter.js');
        const canvas = document.querySelector('canvas');
        const painter = createGlPainter(canvas, 128, 128);
        return { painter: painter === null ? null : 'made', canvas2d: canvas.getContext('2d') !== null };
      });
      assert.deepEqual(outcome, { painter: null, canvas2d: true });
    } finally {
      if (flags) await onBrowser.close();
    }
  });
}

test('a lost context stops drawing and says so; once restored, frames draw again', { skip, timeout: 60_000 }, async () => {
  const page = await openPage();
  const steps = await page.evaluate(async (base64) => {
    const { VeltAnimation } = await import('/velt_decoder.js');
    const { Bc1Animation } = await import('/bc1_frames.js');
    const { createGlPainter } = await import('/gl_painter.js');
    const animation = new Bc1Animation(new VeltAnimation(Uint8Array.from(atob(base64), (c) => c.charCodeAt(0)), 'alpha'));
    const canvas = document.querySelector('canvas');
    const painter = createGlPainter(canvas, 128, 128);
    let heard = 0;
    painter.onlost = () => heard++;
    const picture = animation.pictureAt(0);
    // what the canvas shows, as a hash of its pixels
    const shown = () => painter.readPixels()?.reduce((hash, v) => (hash * 31 + v) >>> 0, 0) ?? null;
    const state = (drew) => ({ drew, lost: painter.lost, heard, shown: shown() });
    const steps = [state(painter.draw(picture))];
    const loser = canvas.getContext('webgl2').getExtension('WEBGL_lose_context');
    const lost = new Promise((done) => canvas.addEventListener('webglcontextlost', () => setTimeout(done), { once: true }));
    loser.loseContext();
    await lost;
    steps.push(state(painter.draw(picture)));
    const restored = new Promise((done) => canvas.addEventListener('webglcontextrestored', () => setTimeout(done), { once: true }));
    loser.restoreContext();
    await restored;
    steps.push(state(painter.draw(picture)));
    return steps;
  }, files['wheel alpha'].bytes.toString('base64'));
  const frame = steps[0].shown;
  assert.notEqual(frame, null);
  assert.deepEqual(steps, [
    { drew: true, lost: false, heard: 0, shown: frame },
    { drew: false, lost: true, heard: 1, shown: null },
    { drew: true, lost: false, heard: 1, shown: frame },
  ]);
});
