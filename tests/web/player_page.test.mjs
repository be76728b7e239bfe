// The player page in headless Chromium: opens files the project encoded, steps
// through them and compares the canvas with the frames `velt decode` writes.
//
// Program paths come from VELT_ENCODE_FLAGS and VELT_PROGRAM (CTest sets them),
// else from build/.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, rmSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { gzipSync } from 'node:zlib';

import { freezeClock, playerPixelsDiffer, readPlayerPixels, startBrowser } from './browser.mjs';
import { ENCODE_FLAGS, VELT, WHEEL_FRAMES, encodeWheel, makeWorkDir, notBuilt, veltDecode } from './programs.mjs';

const skipWithoutEncoder = notBuilt(ENCODE_FLAGS);
const skipWithoutDecode = notBuilt(ENCODE_FLAGS, VELT);

let browser;
let work;

before(async () => {
  if (skipWithoutEncoder) return;
  work = makeWorkDir();
  browser = await startBrowser();
});

after(async () => {
  await browser?.close();
  if (work) rmSync(work, { recursive: true, force: true });
});

// A fresh page of the player; with fakeClock, its clock is faked (see freezeClock).
async function openPage(options) {
  const opened = await browser.newPage(options);
  await opened.page.goto(browser.rootUrl);
  return opened;
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

async function checkScreen(page, frames, expectFrame, expectRecord) {
  const shown = await page.evaluate(() => ({ frame: window.veltPlayer.frameNumber, record: window.veltPlayer.record,
    stats: document.getElementById('frame-stats').textContent }));
  assert.deepEqual([shown.frame, shown.record], [expectFrame, expectRecord], `position (${shown.stats})`);
  assert.match(shown.stats, new RegExp(`^Frame ${expectFrame} of ${WHEEL_FRAMES}.* record ${expectRecord} `));
  // the decoded picture the page drew, byte for byte, and the canvas
  const pixels = await page.evaluate(readPlayerPixels, '#screen');
  assert.equal(playerPixelsDiffer(pixels, frames[expectFrame]), null, `record ${expectRecord}`);
}

// Clicks one of the player's own buttons: back, toggle (play or pause), forward.
async function click(page, action, times = 1) {
  for (let i = 0; i < times; i++) await page.click(`#screen [data-action="${action}"]`);
}

// drawnBy: what the facts say draws the file (headless Chromium has WebGL2 with S3TC)
const modeCases = [
  { flags: 0, mode: 'opaque', drawnBy: 'the GPU', why: 'no flags: the mode is fixed' },
  { flags: 1, mode: 'alpha', drawnBy: 'the GPU', why: 'flags marked: alpha is the page\'s default' },
  { flags: 1, mode: 'alpha', renderer: 'cpu', drawnBy: 'the CPU', why: 'flags marked: drawn by the CPU, chosen on the page' },
  { flags: 2, mode: 'opaque12', drawnBy: 'the CPU', why: 'flags marked: opaque12 chosen on the page' },
  { flags: 3, mode: 'alpha12', drawnBy: 'the CPU', why: 'flags marked: alpha12 chosen on the page' },
];

for (const { flags, mode, renderer, drawnBy, why } of modeCases) {
  test(`flags ${flags} (${why}): canvas equals velt decode frame by frame`, { skip: skipWithoutDecode, timeout: 120_000 }, async () => {
    const { velt, frames } = encodeAndDecode(flags, mode);
    const { page, problems } = await openPage();
    if (renderer) await page.selectOption('#renderer-select', renderer);
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
    for (const fact of ['128 × 128', '20 fps', `${WHEEL_FRAMES} and a closing record`, `${flags & 2 ? 12 : 8} bytes (${mode})`, `Drawn by${drawnBy}`]) {
      assert.ok(facts.includes(fact), `facts "${facts}" lack "${fact}"`);
    }

    await checkScreen(page, frames, 0, 0);
    await click(page, 'forward');
    await checkScreen(page, frames, 1, 1);
    await click(page, 'forward', 6);
    await checkScreen(page, frames, 7, 7);
    await click(page, 'forward', 8);
    await checkScreen(page, frames, 15, 15); // the last frame
    await click(page, 'forward');
    await checkScreen(page, frames, 0, 16); // the closing record
    await click(page, 'forward');
    await checkScreen(page, frames, 1, 1); // the loop goes on with record 1
    await click(page, 'back', 2);
    await checkScreen(page, frames, 15, 15); // back across frame 0 wraps round
    await click(page, 'back', 6);
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

  await freezeClock(page);
  await click(page, 'toggle');
  // 20 fps: 20 steps a second; the display's ticks may leave the last one for later
  await page.clock.runFor(1000);
  assert.ok([afterSteps(19), afterSteps(20)].includes(await record()), `record ${await record()} after 1 s`);
  await page.clock.runFor(1000);
  assert.ok([afterSteps(39), afterSteps(40)].includes(await record()), `record ${await record()} after 2 s`);

  await click(page, 'toggle');
  const paused = await record();
  await page.clock.runFor(1000);
  assert.equal(await record(), paused, 'paused');
  assert.equal(await page.getAttribute('#screen [data-action="toggle"]', 'aria-label'), 'Play');
  assert.deepEqual(problems, []);
  await page.close();
});

test('a dropped file opens, a broken one is refused with its byte offset, and a .velt.gz opens as its file', { skip: skipWithoutEncoder, timeout: 60_000 }, async () => {
  const velt = join(work, 'wheel_drop.velt');
  encodeWheel(velt, 20, 0);
  const bytes = readFileSync(velt);
  const broken = join(work, 'broken.velt');
  writeFileSync(broken, bytes.subarray(0, bytes.length - 1));
  const alpha = join(work, 'wheel_drop_alpha.velt');
  encodeWheel(alpha, 20, 1);

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
  await page.check('#show-changes');
  assert.equal(await page.$eval('#screen', (player) => player.showChanges), true, 'show changes reaches the player');

  await page.setInputFiles('#file-input', broken);
  await page.waitForSelector('body[data-state="error"]');
  const message = await page.textContent('#error-line');
  assert.match(message, new RegExp(`^Cannot play broken\\.velt as opaque: byte ${bytes.length - 1}: the file ends inside`));
  assert.equal(await page.isVisible('#screen'), false);

  // the page reads the header of the file inside: its flags offer the modes
  const alphaBytes = readFileSync(alpha);
  await drop(gzipSync(alphaBytes, { level: 9 }), 'dropped.velt.gz');
  await page.waitForSelector('body[data-state="ready"]');
  const facts = await page.textContent('#file-facts');
  assert.match(facts, new RegExp(`dropped\\.velt\\.gz, ${alphaBytes.length} bytes.*8 bytes \\(alpha\\)`));
  assert.equal(await page.isEnabled('#mode-select'), true);
  assert.deepEqual(problems, []);
  await page.close();
});
