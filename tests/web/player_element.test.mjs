// <velt-player> in headless Chromium, alone on a page: the pictures it shows
// against `velt decode`, its load and error events, playback on a fake clock,
// reloads, the scale it chooses and the show-changes overlay.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, rmSync } from 'node:fs';
import { join } from 'node:path';

import { VeltAnimation, readLayout } from '../../web/velt_decoder.js';
import { freezeClock, hideWebGl2, playerPixelsDiffer, readPlayerPixels, startBrowser } from './browser.mjs';
import { ENCODE_FLAGS, VELT, WHEEL_FRAMES, encodeWheel, makeWorkDir, notBuilt, veltDecode } from './programs.mjs';

const skip = notBuilt(ENCODE_FLAGS, VELT);
const FILES_PATH = '/files/';
const files = {}; // served under FILES_PATH; any other name is a 404

let browser;
let work;

// A 1020 x 764 file of one black frame: record 0 stores all 255 x 191 blocks
// (the last map byte holds one), the closing record none.
function largeFile() {
  const map = Math.ceil((255 * 191) / 8);
  const bytes = new Uint8Array(10 + map + 255 * 191 * 8 + map);
  bytes.set([0x56, 0x45, 0x4c, 0x54, 0, 39, 0, 1, 254, 190]);
  bytes.fill(0xff, 10, 10 + map - 1);
  bytes[10 + map - 1] = 0x80;
  return bytes;
}

before(async () => {
  if (skip) return;
  work = makeWorkDir();
  for (const [name, fps, flags] of [['wheel', 20, 0], ['wheel_alpha', 20, 1], ['wheel_alpha12', 20, 3], ['wheel_10fps', 10, 0]]) {
    encodeWheel(join(work, `${name}.velt`), fps, flags);
    files[`${name}.velt`] = readFileSync(join(work, `${name}.velt`));
  }
  files['truncated.velt'] = files['wheel.velt'].subarray(0, files['wheel.velt'].length - 1);
  files['large.velt'] = largeFile();
  browser = await startBrowser();
});

after(async () => {
  await browser?.close();
  if (work) rmSync(work, { recursive: true, force: true });
});

// A page holding only the module. `held` maps file names to promises their
// responses wait for; `requests` lists the names fetched.
// With withoutWebGl2, the page's canvases give no WebGL2 context, as in a
// browser without it.
async function openElementPage({ fakeClock = false, held = {}, withoutWebGl2 = false } = {}) {
  const { page, problems } = await browser.newPage({ fakeClock });
  if (withoutWebGl2) await page.addInitScript(hideWebGl2);
  const requests = [];
  await page.route(`**${FILES_PATH}*`, async (route) => {
    const name = new URL(route.request().url()).pathname.slice(FILES_PATH.length);
    requests.push(name);
    await held[name];
    // a fetch the player gave up on may be gone by now
    await route.fulfill(files[name] ? { body: Buffer.from(files[name]) } : { status: 404 }).catch(() => {});
  });
  await page.route('**/element.html', (route) => route.fulfill({ contentType: 'text/html',
    body: '<!doctype html><script type="module" src="velt_player.js"></script><body></body>' }));
  await page.goto(`${browser.rootUrl}element.html`);
  await page.waitForFunction(() => customElements.get('velt-player'));
  return { page, problems, requests };
}

// Runs in the page: gives the player (a new one, whose events go to
// window.events, when `fresh`) these attributes (null removes one), and
// resolves with the load or error event that follows.
function setPlayer({ attributes, fresh = false }) {
  if (fresh) {
    document.body.replaceChildren(document.createElement('velt-player'));
    window.events = [];
  }
  const player = document.querySelector('velt-player');
  const types = ['load', 'error', 'frame', 'ended'];
  if (fresh) types.forEach((type) => player.addEventListener(type, (e) => window.events.push({ type, ...e.detail })));
  const settled = new Promise((done) => {
    const heard = new AbortController();
    const once = (event) => {
      heard.abort();
      done({ type: event.type, ...event.detail });
    };
    types.slice(0, 2).forEach((type) => player.addEventListener(type, once, { signal: heard.signal }));
  });
  Object.entries(attributes).forEach(([name, value]) => (value === null ? player.removeAttribute(name) : player.setAttribute(name, value)));
  return settled;
}

const src = (name) => `${FILES_PATH}${name}`;
const player = (page, read, arg) => page.$eval('velt-player', read, arg);
// the events since the last call
const takeEvents = (page) => page.evaluate(() => window.events.splice(0));

const decoderError = (name, mode) => {
  try {
    return new VeltAnimation(files[name], mode) && null;
  } catch ({ offset, reason }) {
    return { offset, reason };
  }
};

// A file that loads shows what `velt decode` writes for frames 0, 7 and 15,
// exactly on the CPU path, within the GPU's rounding on the GPU path (headless
// Chromium has WebGL2 with S3TC, in software).
const noGpu = (mode) => `renderer "gpu": ${mode} records are 12 bytes, which GPUs do not decode`;
const loadCases = [
  { why: 'no flags: opaque whatever is asked', name: 'wheel.velt', mode: 'alpha12', expect: { type: 'load', mode: 'opaque', renderer: 'gpu' } },
  { why: 'flags marked and no mode: alpha', name: 'wheel_alpha.velt', mode: null, expect: { type: 'load', mode: 'alpha', renderer: 'gpu' } },
  { why: 'the CPU path asked for', name: 'wheel_alpha.velt', mode: null, renderer: 'cpu', expect: { type: 'load', mode: 'alpha', renderer: 'cpu' } },
  { why: '12-byte records as alpha12: the CPU', name: 'wheel_alpha12.velt', mode: 'alpha12', expect: { type: 'load', mode: 'alpha12', renderer: 'cpu' } },
  { why: 'the GPU path asked for 12-byte records', name: 'wheel_alpha12.velt', mode: 'alpha12', renderer: 'gpu', expect: { type: 'error', offset: null, reason: noGpu('alpha12') } },
  { why: 'unknown renderer', name: 'wheel.velt', mode: null, renderer: 'gl', expect: { type: 'error', offset: null, reason: 'unknown renderer "gl" (auto, cpu or gpu)' } },
  { why: 'cut short: the offset where it ends', name: 'truncated.velt', mode: null, expect: { type: 'error', offset: 'decoder' } },
  { why: '12-byte records read as alpha by default', name: 'wheel_alpha12.velt', mode: null, expect: { type: 'error', offset: 'decoder' } },
  { why: 'HTTP 404: no offset', name: 'missing.velt', mode: null, expect: { type: 'error', offset: null, reason: 'HTTP status 404' } },
  { why: 'unknown mode', name: 'wheel.velt', mode: 'opaque16', expect: { type: 'error', offset: null, reason: 'unknown block mode "opaque16"' } },
  { why: 'no WebGL2: the CPU', withoutWebGl2: true, name: 'wheel_alpha.velt', mode: null, expect: { type: 'load', mode: 'alpha', renderer: 'cpu' } },
  { why: 'no WebGL2, the GPU path asked for', withoutWebGl2: true, name: 'wheel.velt', mode: null, renderer: 'gpu', expect: { type: 'error', offset: null, reason: 'renderer "gpu": this browser has no WebGL2 with S3TC textures' } },
];

test('load and error events, and the pictures of the files that load', { skip, timeout: 180_000 }, async () => {
  for (const withoutWebGl2 of [false, true]) {
    const { page, problems } = await openElementPage({ withoutWebGl2 });
    for (const { why, name, mode, renderer = null, expect } of loadCases.filter((c) => Boolean(c.withoutWebGl2) === withoutWebGl2)) {
      const event = await page.evaluate(setPlayer, { attributes: { src: src(name), mode, renderer }, fresh: true });
      const state = await player(page, (p) => ({ mode: p.animation?.mode, frameCount: p.frameCount, renderer: p.activeRenderer,
        message: p.shadowRoot.querySelector('[part="message"]').textContent }));
      const { type, message, ...detail } = event;
      if (expect.type === 'load') {
        assert.deepEqual([type, state.mode, state.frameCount, state.renderer], ['load', expect.mode, WHEEL_FRAMES, expect.renderer], why);
        assert.deepEqual(await takeEvents(page), [{ type: 'load' }, { type: 'frame', frame: 0, record: 0 }], why);
        const frames = veltDecode(join(work, name), expect.mode, WHEEL_FRAMES, work);
        for (const frame of [0, 7, 15]) {
          await player(page, (p, k) => { p.currentFrame = k; }, frame);
          assert.equal(playerPixelsDiffer(await page.evaluate(readPlayerPixels, 'velt-player'), frames[frame].data), null, `${why}: frame ${frame}`);
        }
        continue;
      }
      const expected = expect.offset === 'decoder' ? decoderError(name, mode ?? 'alpha') : expect;
      assert.ok(expected, why);
      assert.deepEqual([type, detail], ['error', { offset: expected.offset, reason: expected.reason }], why);
      assert.ok(message.endsWith(expected.reason), `${why}: message "${message}"`);
      assert.deepEqual([state.message, state.frameCount, state.renderer], [message, 0, null], `${why}: the element shows the message`);
    }
    assert.deepEqual(problems, []);
    await page.close();
  }
});

test('play, pause, currentFrame, loop, ended, autoplay and the keyboard on a fake clock', { skip, timeout: 60_000 }, async () => {
  const { page, problems } = await openElementPage({ fakeClock: true });
  await page.evaluate(setPlayer, { attributes: { src: src('wheel.velt'), loop: '', controls: '' }, fresh: true });
  await freezeClock(page);
  await takeEvents(page);
  const frames = async () => (await takeEvents(page)).map(({ type, frame, record }) => (type === 'frame' ? [frame, record] : type));
  const showFrame = (frame) => player(page, (p, k) => { p.currentFrame = k; }, frame);

  // 20 fps: 20 records a second, through the closing record (frame 0) and round from record 1
  await player(page, (p) => p.play());
  await page.clock.runFor(1000);
  const loop = [...Array(20).keys()].map((i) => [(i + 1) % WHEEL_FRAMES, (i % WHEEL_FRAMES) + 1]);
  const played = await frames();
  assert.ok(played.length >= 19 && played.length <= 20, `${played.length} frames in 1 s`);
  assert.deepEqual(played, loop.slice(0, played.length));
  await player(page, (p) => p.pause());
  await page.clock.runFor(1000);
  assert.deepEqual([await frames(), await player(page, (p) => p.paused)], [[], true]);

  await showFrame(5);
  await showFrame(99); // clamped to the last frame
  assert.deepEqual(await frames(), [[5, 5], [15, 15]]);
  // without loop the last frame stays its time, then playback ends; play again starts at 0
  await player(page, (p) => { p.loop = false; });
  await showFrame(14);
  await player(page, (p) => p.play());
  await page.clock.runFor(1000);
  assert.deepEqual(await frames(), [[14, 14], [15, 15], 'ended']);
  assert.deepEqual(await player(page, (p) => [p.paused, p.currentFrame]), [true, 15]);
  await player(page, (p) => p.play());
  // display ticks come every 16 ms: a step due at 50 ms is taken by 66 ms
  await page.clock.runFor(75);
  await player(page, (p) => p.pause());
  assert.deepEqual(await frames(), [[0, 0], [1, 1]]);

  // the keyboard on the focused element, and the buttons
  await page.focus('velt-player');
  for (const key of ['ArrowRight', 'ArrowRight', 'ArrowLeft']) await page.keyboard.press(key);
  await page.click('velt-player [data-action="forward"]');
  assert.deepEqual(await frames(), [[2, 2], [3, 3], [2, 2], [3, 3]]);
  assert.equal(await page.textContent('velt-player output'), `3/${WHEEL_FRAMES}`);
  await page.focus('velt-player');
  await page.keyboard.press(' ');
  assert.equal(await player(page, (p) => p.paused), false, 'space plays');
  await page.keyboard.press(' ');
  assert.equal(await player(page, (p) => p.paused), true, 'space pauses');
  await page.focus('velt-player [data-action="back"]');
  await page.keyboard.press(' ');
  assert.deepEqual([await frames(), await player(page, (p) => p.paused)], [[[2, 2]], true], 'space on a button presses it');

  await page.evaluate(setPlayer, { attributes: { src: src('wheel.velt'), autoplay: '' }, fresh: true });
  await page.clock.runFor(125);
  assert.deepEqual(await frames(), ['load', [0, 0], [1, 1], [2, 2]], 'autoplay');
  assert.deepEqual(problems, []);
  await page.close();
});

test('src and mode changes reload, and a slow fetch never replaces a newer src', { skip, timeout: 60_000 }, async () => {
  let release;
  files['slow.velt'] = files['wheel.velt'];
  const held = { 'slow.velt': new Promise((done) => { release = done; }) };
  const { page, problems, requests } = await openElementPage({ held });
  const fps = () => player(page, (p) => p.animation?.header.fps ?? null);

  // the first settles with the second's load: the slow file never loads
  const first = page.evaluate(setPlayer, { attributes: { src: src('slow.velt') }, fresh: true });
  assert.equal((await page.evaluate(setPlayer, { attributes: { src: src('wheel_10fps.velt') } })).type, 'load');
  assert.equal((await first).type, 'load');
  release();
  await page.waitForTimeout(300); // time for the slow response to arrive, were it still wanted
  assert.equal(await fps(), 10);
  assert.deepEqual((await takeEvents(page)).map((e) => e.type), ['load', 'frame']);

  // a mode change reopens the bytes already fetched
  assert.equal((await page.evaluate(setPlayer, { attributes: { src: src('wheel_alpha12.velt') } })).type, 'error');
  assert.equal((await page.evaluate(setPlayer, { attributes: { mode: 'alpha12' } })).type, 'load');
  assert.equal(requests.filter((name) => name === 'wheel_alpha12.velt').length, 1);
  assert.equal((await page.evaluate(setPlayer, { attributes: { src: src('wheel.velt'), mode: 'opaque' } })).type, 'load');
  assert.equal(await fps(), 20);
  await player(page, (p) => p.removeAttribute('src'));
  assert.deepEqual(await player(page, (p) => [p.animation, p.frameCount]), [null, 0]);
  assert.deepEqual(problems, []);
  await page.close();
});

test('a lost GPU context: the same record goes on, drawn by the CPU', { skip, timeout: 60_000 }, async () => {
  const { page, problems } = await openElementPage();
  await page.evaluate(setPlayer, { attributes: { src: src('wheel_alpha.velt') }, fresh: true });
  await player(page, (p) => { p.currentFrame = 9; });
  assert.equal(await player(page, (p) => p.activeRenderer), 'gpu');
  await player(page, (p) => p.shadowRoot.querySelector('[part="picture"]').getContext('webgl2')
    .getExtension('WEBGL_lose_context').loseContext());
  await page.waitForFunction(() => document.querySelector('velt-player').activeRenderer === 'cpu');
  const frames = veltDecode(join(work, 'wheel_alpha.velt'), 'alpha', WHEEL_FRAMES, work);
  assert.equal(await player(page, (p) => p.currentFrame), 9);
  assert.equal(playerPixelsDiffer(await page.evaluate(readPlayerPixels, 'velt-player'), frames[9].data), null);
  assert.deepEqual(problems, []);
  await page.close();
});

// Boxes and where the picture lands in them: [left, top, width, height].
const scaleCases = [
  { why: 'no size: the frame\'s own', name: 'wheel.velt', style: '', box: [128, 128], picture: [0, 0, 128, 128], pixelated: true },
  { why: 'width only: aspect kept, x4', name: 'wheel.velt', style: 'width: 512px', box: [512, 512], picture: [0, 0, 512, 512], pixelated: true },
  { why: 'small frame in a box: x2, centred', name: 'wheel.velt', style: 'width: 400px; height: 300px', box: [400, 300], picture: [72, 22, 256, 256], pixelated: true },
  { why: 'large frame in a box: shrunk to fit', name: 'large.velt', style: 'width: 400px; height: 300px', box: [400, 300], picture: [0, 0, 400, 764 * (400 / 1020)], pixelated: false },
  { why: 'large frame, no size: its own', name: 'large.velt', style: '', box: [1020, 764], picture: [0, 0, 1020, 764], pixelated: true },
];

test('the scale chosen for small and large frames', { skip, timeout: 60_000 }, async () => {
  const { page, problems } = await openElementPage();
  for (const { why, name, style, box, picture, pixelated } of scaleCases) {
    await page.evaluate(setPlayer, { attributes: { src: src(name), style, 'show-changes': '' }, fresh: true });
    const shown = await player(page, (p) => {
      const rect = (e) => { const r = e.getBoundingClientRect(); return [r.left, r.top, r.width, r.height]; };
      const host = rect(p);
      const [canvas, overlay] = ['picture', 'changes'].map((part) => p.shadowRoot.querySelector(`[part="${part}"]`));
      const place = (e) => rect(e).map((v, i) => (i < 2 ? v - host[i] : v));
      return { box: host.slice(2), picture: place(canvas), overlay: place(overlay), rendering: getComputedStyle(canvas).imageRendering };
    });
    assert.deepEqual(shown.box, box, why);
    // layout places boxes to 1/64 pixel
    shown.picture.forEach((v, i) => assert.ok(Math.abs(v - picture[i]) <= 1 / 64, `${why}: picture at ${shown.picture}`));
    assert.deepEqual(shown.overlay, shown.picture, `${why}: the overlay lies over the picture`);
    assert.equal(shown.rendering === 'pixelated', pixelated, `${why}: ${shown.rendering}`);
  }
  assert.deepEqual(problems, []);
  await page.close();
});

test('show-changes tints exactly the blocks the record changed', { skip, timeout: 60_000 }, async () => {
  const { page, problems } = await openElementPage();
  await page.evaluate(setPlayer, { attributes: { src: src('wheel.velt'), 'show-changes': '' }, fresh: true });
  const { header, records } = readLayout(files['wheel.velt'], 'opaque');
  // record 16 is the closing record, reached by one step from the last frame
  for (const [record, reach] of [[0, (p) => { p.currentFrame = 0; }], [3, (p) => { p.currentFrame = 3; }],
    [16, (p) => { p.currentFrame = 15; p.stepForward(); }]]) {
    await player(page, reach);
    const tinted = await player(page, (p) => {
      const overlay = p.shadowRoot.querySelector('[part="changes"]');
      const { data } = overlay.getContext('2d').getImageData(0, 0, overlay.width, overlay.height);
      return Array.from({ length: data.length / 4 }, (_, k) => data[k * 4 + 3] > 0);
    });
    const { offset, changedBlocks } = records[record];
    const changed = Array.from({ length: header.blockCount }, (_, k) => (files['wheel.velt'][offset + (k >> 3)] & (0x80 >> (k & 7))) !== 0);
    assert.deepEqual(tinted, changed, `record ${record}`);
    assert.equal(tinted.filter(Boolean).length, changedBlocks, `record ${record}`);
  }
  await player(page, (p) => p.removeAttribute('show-changes'));
  assert.equal(await page.$eval('velt-player', (p) => getComputedStyle(p.shadowRoot.querySelector('[part="changes"]')).display), 'none');
  assert.deepEqual(problems, []);
  await page.close();
});
