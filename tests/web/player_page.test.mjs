// The player page in headless Chromium: opens files the project encoded, steps
// through them and compares the canvas with the frames `velt decode` writes.
//
// Program paths come from VELT_ENCODE_FLAGS and VELT_PROGRAM (CTest sets them),
// else from build/. The browser is Debian's chromium, or VELT_CHROMIUM.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { extname, join, resolve, sep } from 'node:path';

import { chromium } from 'playwright-core';

import { ENCODE_FLAGS, REPO, VELT, WHEEL_FRAMES, encodeWheel, makeWorkDir, notBuilt, veltDecode } from './programs.mjs';

const WEB_ROOT = join(REPO, 'web');
const CHROMIUM = process.env.VELT_CHROMIUM || '/usr/bin/chromium';
const skipWithoutEncoder = notBuilt(ENCODE_FLAGS);
const skipWithoutDecode = notBuilt(ENCODE_FLAGS, VELT);

// Serves the web/ directory, and nothing outside it, on a free local port.
function serveWebRoot() {
  const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.png': 'image/png' };
  const server = createServer((request, response) => {
    const path = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
    const file = resolve(WEB_ROOT, `.${path.endsWith('/') ? `${path}index.html` : path}`);
    if (!file.startsWith(WEB_ROOT + sep) || !existsSync(file) || !statSync(file).isFile()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'content-type': types[extname(file)] || 'application/octet-stream' });
    response.end(readFileSync(file));
  });
  return new Promise((done) => server.listen(0, '127.0.0.1', () => done(server)));
}

let server;
let browser;
let pageUrl;
let work;

before(async () => {
  if (skipWithoutEncoder) return;
  work = makeWorkDir();
  server = await serveWebRoot();
  pageUrl = `http://127.0.0.1:${server.address().port}/`;
  // root cannot use Chromium's own sandbox
  const args = process.getuid?.() === 0 ? ['--no-sandbox'] : [];
  browser = await chromium.launch({ executablePath: CHROMIUM, headless: true, args });
});

after(async () => {
  await browser?.close();
  server?.close();
  if (work) rmSync(work, { recursive: true, force: true });
});

// A fresh page; with fakeClock, time on it moves only when the test says.
async function openPage({ fakeClock = false } = {}) {
  const page = await browser.newPage();
  const problems = [];
  page.on('pageerror', (error) => problems.push(error.message));
  if (fakeClock) await page.clock.install();
  await page.goto(pageUrl);
  return { page, problems };
}

// Encodes the wheel with the given flags and decodes it with `velt decode`.
// Returns the file's path and the decoded frames as RGBA byte arrays.
function encodeAndDecode(flags, mode) {
  const velt = join(work, `wheel_${flags}.velt`);
  encodeWheel(velt, 20, flags);
  const frames = veltDecode(velt, mode, WHEEL_FRAMES, work);
  frames.forEach((frame, k) => assert.deepEqual([frame.width, frame.height], [128, 128], `decoded frame ${k} size`));
  return { velt, frames: frames.map((frame) => frame.data) };
}

// The canvas holds premultiplied colour: a translucent pixel's R, G and B come
// back only as exactly as alpha allows, so they are compared premultiplied,
// which is exact; alpha, and every channel of an opaque pixel, compare as is.
const premultiplied = (value, alpha) => Math.round((value * alpha) / 255);

function firstCanvasDifference(canvas, expected) {
  for (let i = 0; i < expected.length; i += 4) {
    const alpha = expected[i + 3];
    for (let c = 0; c < 4; c++) {
      const same = c === 3 || alpha === 255
        ? canvas[i + c] === expected[i + c]
        : premultiplied(canvas[i + c], alpha) === premultiplied(expected[i + c], alpha);
      if (!same || canvas[i + 3] !== alpha) {
        return `pixel ${i / 4}: canvas ${Array.from(canvas.subarray(i, i + 4))}, velt decode ${Array.from(expected.subarray(i, i + 4))}`;
      }
    }
  }
  return null;
}

async function checkScreen(page, frames, expectFrame, expectRecord) {
  const shown = await page.evaluate(() => {
    // pixels travel as base64: far smaller than arrays of numbers
    const base64 = (bytes) => btoa(Array.from(bytes, (b) => String.fromCharCode(b)).join(''));
    const canvas = document.getElementById('screen');
    const pixels = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    return { frame: window.veltPlayer.frameNumber, record: window.veltPlayer.record,
      canvas: base64(pixels), picture: base64(window.veltPlayer.picture()),
      stats: document.getElementById('frame-stats').textContent };
  });
  assert.deepEqual([shown.frame, shown.record], [expectFrame, expectRecord], `position (${shown.stats})`);
  assert.match(shown.stats, new RegExp(`^Frame ${expectFrame} of ${WHEEL_FRAMES}.* record ${expectRecord} `));
  const expected = frames[expectFrame];
  // the decoded picture the page drew, byte for byte
  assert.ok(Buffer.from(shown.picture, 'base64').equals(expected), `record ${expectRecord}: page picture differs from velt decode`);
  assert.equal(firstCanvasDifference(Buffer.from(shown.canvas, 'base64'), expected), null, `record ${expectRecord}: canvas`);
}

async function click(page, id, times = 1) {
  for (let i = 0; i < times; i++) await page.click(`#${id}`);
}

const modeCases = [
  { flags: 0, mode: 'opaque', why: 'no flags: the mode is fixed' },
  { flags: 1, mode: 'alpha', why: 'flags marked: alpha is the page\'s default' },
  { flags: 2, mode: 'opaque12', why: 'flags marked: opaque12 chosen on the page' },
  { flags: 3, mode: 'alpha12', why: 'flags marked: alpha12 chosen on the page' },
];

for (const { flags, mode, why } of modeCases) {
  test(`flags ${flags} (${why}): canvas equals velt decode frame by frame`, { skip: skipWithoutDecode, timeout: 120_000 }, async () => {
    const { velt, frames } = encodeAndDecode(flags, mode);
    const { page, problems } = await openPage();
    await page.setInputFiles('#file-input', velt);
    const selector = () => page.$eval('#mode-select', (s) => ({ disabled: s.disabled, value: s.value }));
    if (flags === 0) {
      await page.waitForSelector('body[data-state="ready"]');
      assert.deepEqual(await selector(), { disabled: true, value: 'opaque' });
    } else if (flags === 1) {
      await page.waitForSelector('body[data-state="ready"]');
      assert.deepEqual(await selector(), { disabled: false, value: 'alpha' });
    } else {
      // the page starts in alpha, 8-byte records, which this file does not fill
      await page.waitForSelector('body[data-state="error"]');
      assert.deepEqual(await selector(), { disabled: false, value: 'alpha' });
      assert.match(await page.textContent('#error-line'),
        new RegExp(`^Cannot play wheel_${flags}\\.velt as alpha: byte \\d+: .* choose opaque12 or alpha12\\)$`));
      await page.selectOption('#mode-select', mode);
      await page.waitForSelector('body[data-state="ready"]');
    }
    const facts = await page.textContent('#file-facts');
    for (const fact of ['128 × 128', '20 fps', `${WHEEL_FRAMES} and a closing record`, `${flags & 2 ? 12 : 8} bytes (${mode})`]) {
      assert.ok(facts.includes(fact), `facts "${facts}" lack "${fact}"`);
    }

    await checkScreen(page, frames, 0, 0);
    await click(page, 'step-forward');
    await checkScreen(page, frames, 1, 1);
    await click(page, 'step-forward', 6);
    await checkScreen(page, frames, 7, 7);
    await click(page, 'step-forward', 8);
    await checkScreen(page, frames, 15, 15); // the last frame
    await click(page, 'step-forward');
    await checkScreen(page, frames, 0, 16); // the closing record
    await click(page, 'step-forward');
    await checkScreen(page, frames, 1, 1); // the loop goes on with record 1
    await click(page, 'step-back', 2);
    await checkScreen(page, frames, 15, 15); // back across frame 0 wraps round
    await click(page, 'step-back', 6);
    await checkScreen(page, frames, 9, 9);
    assert.deepEqual(problems, []);
    await page.close();
  });
}

test('plays at the header rate, loops and pauses', { skip: skipWithoutEncoder, timeout: 60_000 }, async () => {
  const velt = join(work, 'wheel_fast.velt');
  encodeWheel(velt, 20, 0);
  const { page, problems } = await openPage({ fakeClock: true });
  await page.setInputFiles('#file-input', velt);
  await page.waitForSelector('body[data-state="ready"]');
  const record = () => page.evaluate(() => window.veltPlayer.record);
  // records after n steps from record 0: 1..16, then 1..16 again
  const afterSteps = (n) => (n <= WHEEL_FRAMES ? n : ((n - WHEEL_FRAMES - 1) % WHEEL_FRAMES) + 1);

  await click(page, 'play-pause');
  // 20 fps: 20 steps a second; the display's ticks may leave the last one for later
  await page.clock.runFor(1000);
  assert.ok([afterSteps(19), afterSteps(20)].includes(await record()), `record ${await record()} after 1 s`);
  await page.clock.runFor(1000);
  assert.ok([afterSteps(39), afterSteps(40)].includes(await record()), `record ${await record()} after 2 s`);

  await click(page, 'play-pause');
  const paused = await record();
  await page.clock.runFor(1000);
  assert.equal(await record(), paused, 'paused');
  assert.equal(await page.textContent('#play-pause'), 'Play');
  assert.deepEqual(problems, []);
  await page.close();
});

test('a dropped file opens, and a broken one is refused with its byte offset', { skip: skipWithoutEncoder, timeout: 60_000 }, async () => {
  const velt = join(work, 'wheel_drop.velt');
  encodeWheel(velt, 20, 0);
  const bytes = readFileSync(velt);
  const broken = join(work, 'broken.velt');
  writeFileSync(broken, bytes.subarray(0, bytes.length - 1));

  const { page, problems } = await openPage();
  const drop = async (data, name) => {
    const dataTransfer = await page.evaluateHandle(([content, fileName]) => {
      const transfer = new DataTransfer();
      transfer.items.add(new File([new Uint8Array(content)], fileName));
      return transfer;
    }, [Array.from(data), name]);
    await page.dispatchEvent('body', 'drop', { dataTransfer });
  };
  await drop(bytes, 'dropped.velt');
  await page.waitForSelector('body[data-state="ready"]');
  assert.match(await page.textContent('#file-facts'), /dropped\.velt/);

  await page.setInputFiles('#file-input', broken);
  await page.waitForSelector('body[data-state="error"]');
  const message = await page.textContent('#error-line');
  assert.match(message, new RegExp(`^Cannot play broken\\.velt as opaque: byte ${bytes.length - 1}: the file ends inside`));
  assert.equal(await page.isVisible('#screen'), false);
  assert.deepEqual(problems, []);
  await page.close();
});
