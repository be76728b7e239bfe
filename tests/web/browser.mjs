// What the page tests and the web benchmark share: headless Chromium, web/
// served on a local port or routed to a blank page, and the comparison of a
// canvas with the frames `velt decode` writes.
//
// The browser is Debian's chromium, or VELT_CHROMIUM.
import { existsSync, readFileSync, statSync } from 'node:fs';
import { createServer } from 'node:http';
import { extname, join, resolve, sep } from 'node:path';

import { chromium } from 'playwright-core';

import { REPO } from './programs.mjs';

const WEB_ROOT = join(REPO, 'web');
const CHROMIUM = process.env.VELT_CHROMIUM || '/usr/bin/chromium';
const BLANK_ORIGIN = 'http://velt.test';

// Headless Chromium with extra command-line flags.
export function launchChromium(flags = []) {
  // root cannot use Chromium's own sandbox
  const args = [...(process.getuid?.() === 0 ? ['--no-sandbox'] : []), ...flags];
  return chromium.launch({ executablePath: CHROMIUM, headless: true, args });
}

// A page, in a context of its own, showing `body`, on a made-up origin whose
// other paths are the .js files of web/, served from disk by the browser's
// request routing: scripts on it import the player's modules by absolute path
// ('/bc1_frames.js'). `initScript` runs before the page's own scripts.
export async function openBlankPage(browser, { body = '', initScript = null } = {}) {
  const context = await browser.newContext();
  await context.route(`${BLANK_ORIGIN}/**`, (route) => {
    const path = new URL(route.request().url()).pathname;
    if (path === '/') return route.fulfill({ contentType: 'text/html', body: `<!doctype html><body>${body}</body>` });
    const file = resolve(WEB_ROOT, `.${path}`);
    if (!file.startsWith(WEB_ROOT + sep) || extname(file) !== '.js') return route.fulfill({ status: 404 });
    return route.fulfill({ contentType: 'text/javascript', path: file });
  });
  if (initScript) await context.addInitScript(initScript);
  const page = await context.newPage();
  await page.goto(`${BLANK_ORIGIN}/`);
  return page;
}

// An init script (page.addInitScript) after which the page's canvases give no
// WebGL2 context, as in a browser without it.
export function hideWebGl2() {
  for (const kind of [HTMLCanvasElement, OffscreenCanvas]) {
    const getContext = kind.prototype.getContext;
    kind.prototype.getContext = function (type, ...rest) {
      return type === 'webgl2' ? null : getContext.call(this, type, ...rest);
    };
  }
}

// Serves the web/ directory, and nothing outside it, on a free local port;
// `answer(path, response)`, when given, answers first and returns true for
// the paths it serves itself.
function serveWebRoot(answer) {
  const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.png': 'image/png' };
  const server = createServer((request, response) => {
    const path = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
    if (answer?.(path, response)) return;
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

// Starts the server (with `answer` as serveWebRoot takes it) and the
// browser. Returns { rootUrl, newPage, close }: newPage({ fakeClock }) opens
// a fresh page and collects its uncaught errors; with fakeClock, its clock is
// faked and freezeClock(page) stops it, so that from then on time moves only
// by page.clock.runFor. close() resolves once both have stopped.
export async function startBrowser({ answer = null } = {}) {
  const server = await serveWebRoot(answer);
  const browser = await launchChromium();
  return {
    rootUrl: `http://127.0.0.1:${server.address().port}/`,
    async newPage({ fakeClock = false } = {}) {
      const page = await browser.newPage();
      const problems = [];
      page.on('pageerror', (error) => problems.push(error.message));
      if (fakeClock) await page.clock.install();
      return { page, problems };
    },
    async close() {
      await browser.close();
      await new Promise((done) => server.close(done));
    },
  };
}

// Runs in the page: what the <velt-player> that `selector` names draws and its
// picture, as base64 (far smaller than arrays of numbers). A 2D canvas is read
// as it is; a GPU-drawn one only through the player, which reads it back.
export function readPlayerPixels(selector) {
  const base64 = (bytes) => btoa(Array.from(bytes, (b) => String.fromCharCode(b)).join(''));
  const player = document.querySelector(selector);
  const canvas = player.shadowRoot.querySelector('[part="picture"]');
  const picture = player.picture();
  const pixels = player.activeRenderer === 'gpu' ? picture
    : canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
  return { renderer: player.activeRenderer, canvas: base64(pixels), picture: base64(picture) };
}

// How far a GPU's decoding of BC1 blocks may put a colour channel from velt's
// own palette (the two mixed colours round differently); alpha is exact.
export const GPU_COLOUR_BOUND = 1;

// The canvas holds premultiplied colour: a translucent pixel's R, G and B come
// back only as exactly as alpha allows, so they are compared premultiplied,
// which is exact; alpha, and every channel of an opaque pixel, compare as is.
const premultiplied = (value, alpha) => Math.round((value * alpha) / 255);

// The pixels readPlayerPixels returned against a frame of `velt decode`: null
// when both the picture and the canvas show it, else the first difference.
// The CPU path's picture is exact; the GPU path's colour is within the bound.
export function playerPixelsDiffer(shown, expected) {
  const bound = shown.renderer === 'gpu' ? GPU_COLOUR_BOUND : 0;
  if (bound === 0 && !Buffer.from(shown.picture, 'base64').equals(expected)) return 'the decoded picture differs from velt decode';
  const canvas = Buffer.from(shown.canvas, 'base64');
  if (canvas.length !== expected.length) return `the canvas holds ${canvas.length} bytes, velt decode ${expected.length}`;
  for (let i = 0; i < expected.length; i += 4) {
    const alpha = expected[i + 3];
    for (let c = 0; c < 4; c++) {
      const same = c === 3 || alpha === 255
        ? Math.abs(canvas[i + c] - expected[i + c]) <= (c === 3 ? 0 : bound)
        : Math.abs(premultiplied(canvas[i + c], alpha) - premultiplied(expected[i + c], alpha)) <= bound;
      if (!same || canvas[i + 3] !== alpha) {
        return `${shown.renderer} canvas pixel ${i / 4}: ${Array.from(canvas.subarray(i, i + 4))}, velt decode ${Array.from(expected.subarray(i, i + 4))}`;
      }
    }
  }
  return null;
}

// The faked clock still follows real time until it is paused: paused, time
// on a busy machine cannot add steps that the test did not ask for. It stops
// a minute ahead, which real time cannot overtake between the two calls;
// call it while nothing plays, as the jump fires what falls due in between.
export async function freezeClock(page) {
  await page.clock.pauseAt(await page.evaluate(() => Date.now() + 60_000));
}
