// <velt-player> fetching from an HTTP server as a page's files come: sent
// compressed (Content-Encoding br or gzip, which the browser undoes) or as a
// .velt.gz sent as it is (which the player unpacks), the file plays the
// same frames as the plain one; what is neither gzip nor VELT is refused.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, rmSync } from 'node:fs';
import { join } from 'node:path';
import { brotliCompressSync, constants, gzipSync } from 'node:zlib';

import { readPlayerPixels, startBrowser } from './browser.mjs';
import { ENCODE_FLAGS, REPO, encodeWheel, makeWorkDir, notBuilt } from './programs.mjs';

const skip = notBuilt(ENCODE_FLAGS);
const FILES_PATH = '/files/';
const responses = {}; // by name under FILES_PATH: { body, headers }

let browser;
let work;

before(async () => {
  if (skip) return;
  work = makeWorkDir();
  encodeWheel(join(work, 'wheel.velt'), 20, 1);
  const plain = readFileSync(join(work, 'wheel.velt'));
  const gzip = gzipSync(plain, { level: 9 });
  const png = readFileSync(join(REPO, 'examples/wheel/frame_0.png'));
  const brotli = brotliCompressSync(plain, { params: { [constants.BROTLI_PARAM_QUALITY]: 11 } });
  const octets = { 'content-type': 'application/octet-stream' };
  Object.assign(responses, {
    'wheel.velt': { body: plain, headers: octets },
    'br.velt': { body: brotli, headers: { ...octets, 'content-encoding': 'br' } },
    'gzip.velt': { body: gzip, headers: { ...octets, 'content-encoding': 'gzip' } },
    'wheel.velt.gz': { body: gzip, headers: octets },
    'frame.png': { body: png, headers: octets },
    'frame.png.gz': { body: gzipSync(png), headers: octets },
    'cut.velt.gz': { body: gzip.subarray(0, gzip.length - 9), headers: octets },
  });
  browser = await startBrowser({
    answer(path, response) {
      if (path === '/served.html') {
        response.writeHead(200, { 'content-type': 'text/html' })
          .end('<!doctype html><script type="module" src="velt_player.js"></script><body></body>');
        return true;
      }
      if (!path.startsWith(FILES_PATH)) return false;
      const sent = responses[path.slice(FILES_PATH.length)];
      if (sent) response.writeHead(200, sent.headers).end(sent.body);
      else response.writeHead(404).end();
      return true;
    },
  });
});

after(async () => {
  await browser?.close();
  if (work) rmSync(work, { recursive: true, force: true });
});

// Runs in the page: a fresh player (on the CPU, exact) given `src`; resolves
// with its load or error event and the message the element shows.
function load(src) {
  const player = document.createElement('velt-player');
  player.setAttribute('renderer', 'cpu');
  return new Promise((done) => {
    for (const type of ['load', 'error']) {
      player.addEventListener(type, (event) => done({ type, ...event.detail,
        shown: player.shadowRoot.querySelector('[part="message"]').textContent }), { once: true });
    }
    player.setAttribute('src', src);
    document.body.replaceChildren(player);
  });
}

// Loads `name` and gives its event, and once loaded the pictures of frames 0, 7 and 15.
async function play(page, name) {
  const event = await page.evaluate(load, `${FILES_PATH}${name}`);
  const pictures = [];
  for (const frame of event.type === 'load' ? [0, 7, 15] : []) {
    await page.$eval('velt-player', (player, k) => { player.currentFrame = k; }, frame);
    pictures.push((await page.evaluate(readPlayerPixels, 'velt-player')).picture);
  }
  return { ...event, pictures };
}

const notVelt = { type: 'error', offset: 0, reason: 'not a VELT file (it does not start with "VELT")' };
const cases = [
  { why: 'Content-Encoding br, undone by the browser', name: 'br.velt' },
  { why: 'Content-Encoding gzip, undone by the browser', name: 'gzip.velt' },
  { why: 'a .velt.gz sent as it is, unpacked by the player', name: 'wheel.velt.gz' },
  { why: 'neither gzip nor VELT: refused as before', name: 'frame.png', expect: notVelt },
  { why: 'a gzip file of something else: refused once unpacked', name: 'frame.png.gz', expect: notVelt },
  { why: 'a .velt.gz cut short', name: 'cut.velt.gz', expect: { type: 'error', offset: null, reason: /^broken gzip data: / } },
];

test('files sent compressed or as .velt.gz play the frames of the plain file', { skip, timeout: 120_000 }, async () => {
  const { page, problems } = await browser.newPage();
  await page.goto(`${browser.rootUrl}served.html`);
  await page.waitForFunction(() => customElements.get('velt-player'));
  const plain = await play(page, 'wheel.velt');
  assert.equal(plain.type, 'load');
  for (const { why, name, expect } of cases) {
    const { type, offset, reason, shown, pictures } = await play(page, name);
    if (!expect) {
      assert.equal(type, 'load', `${why}: ${reason}`);
      assert.deepEqual(pictures, plain.pictures, why);
      continue;
    }
    assert.deepEqual([type, offset], [expect.type, expect.offset], why);
    if (expect.reason instanceof RegExp) assert.match(reason, expect.reason, why);
    else assert.equal(reason, expect.reason, why);
    assert.ok(shown.endsWith(reason), `${why}: the element shows "${shown}"`);
  }
  assert.deepEqual(problems, []);
  await page.close();
});
