// Headless Chromium for tests and benchmarks of the player's scripts: a blank
// page on a made-up origin whose other paths are the .js files of web/, served
// from disk by the browser's request routing, without a server.
import { extname, join, resolve, sep } from 'node:path';

import { chromium } from 'playwright-core';

import { REPO } from './programs.mjs';

const WEB_ROOT = join(REPO, 'web');
const ORIGIN = 'http://velt.test';

// Debian's chromium, or VELT_CHROMIUM, with extra command-line flags.
export function launchChromium(flags = []) {
  // root cannot use Chromium's own sandbox
  const args = [...(process.getuid?.() === 0 ? ['--no-sandbox'] : []), ...flags];
  return chromium.launch({ executablePath: process.env.VELT_CHROMIUM || '/usr/bin/chromium', headless: true, args });
}

// A page, in a context of its own, showing `body`; scripts on it import the
// player's modules by absolute path ('/bc1_frames.js'). `initScript` runs
// before the page's own scripts.
export async function openBlankPage(browser, { body = '', initScript = null } = {}) {
  const context = await browser.newContext();
  await context.route(`${ORIGIN}/**`, (route) => {
    const path = new URL(route.request().url()).pathname;
    if (path === '/') return route.fulfill({ contentType: 'text/html', body: `<!doctype html><body>${body}</body>` });
    const file = resolve(WEB_ROOT, `.${path}`);
    if (!file.startsWith(WEB_ROOT + sep) || extname(file) !== '.js') return route.fulfill({ status: 404 });
    return route.fulfill({ contentType: 'text/javascript', path: file });
  });
  if (initScript) await context.addInitScript(initScript);
  const page = await context.newPage();
  await page.goto(`${ORIGIN}/`);
  return page;
}
