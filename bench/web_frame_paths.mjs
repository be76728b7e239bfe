// Time per frame of the web player's two ways of showing a frame, in headless
// Chromium, on one VELT file of 8-byte records:
//
//   cpu  VeltAnimation.applyRecord (records decoded to RGBA) + putImageData on
//        a 2D canvas, then a 1-pixel getImageData, which waits for the canvas
//   gpu  Bc1Animation.applyRecord (records copied as BC1 blocks) + one
//        compressed texture upload and a quad drawn by WebGL2, then
//        gl.finish() and a 1-pixel readPixels: Chromium's finish() only
//        flushes, the read waits until the quad is drawn
//
// Each round plays every record of the loop (1..N, the closing record
// included) on both paths, the paths taking turns at going first; the figures
// are medians over rounds of each round's mean per frame: wall time in the
// page, and the CPU time (user + system) of all Chromium's processes, the GPU
// process with its software rasteriser included. Run by hand:
//
//   node bench/web_frame_paths.mjs FILE.velt [--mode opaque|alpha] [--rounds N]
//
// Needs tests/web's npm packages (playwright-core) and Debian's chromium
// (or VELT_CHROMIUM). Headless Chromium's WebGL2 is SwiftShader, a GPU in
// software on the same cores, so the gpu figures are not those of a real GPU.
import { execFileSync } from 'node:child_process';
import { readFileSync, readdirSync } from 'node:fs';
import { loadavg } from 'node:os';

import { launchChromium, openBlankPage } from '../tests/web/browser.mjs';

const TICKS_PER_SECOND = Number(execFileSync('getconf', ['CLK_TCK'], { encoding: 'utf8' }));

function parseArguments(argv) {
  const options = { file: null, mode: 'opaque', rounds: 7 };
  for (let i = 0; i < argv.length; i++) {
    if (argv[i] === '--mode') options.mode = argv[++i];
    else if (argv[i] === '--rounds') options.rounds = Number(argv[++i]);
    else if (!options.file && !argv[i].startsWith('--')) options.file = argv[i];
    else options.file = null;
  }
  if (!options.file || !['opaque', 'alpha'].includes(options.mode) || !(options.rounds >= 1)) {
    console.error('usage: node bench/web_frame_paths.mjs FILE.velt [--mode opaque|alpha] [--rounds N]');
    process.exit(2);
  }
  return options;
}

// Runs in the page: builds both paths on one file and plays record 0 on each,
// untimed, so that both pictures hold frame 0. Returns the file's facts.
async function setUpInPage({ base64, mode }) {
  const { VeltAnimation } = await import('/velt_decoder.js');
  const { Bc1Animation } = await import('/bc1_frames.js');
  const { createGlPainter } = await import('/gl_painter.js');
  const animation = new VeltAnimation(Uint8Array.from(atob(base64), (c) => c.charCodeAt(0)), mode);
  const bc1 = new Bc1Animation(animation);
  const { width, height } = animation.header;

  const canvas2d = document.createElement('canvas');
  canvas2d.width = width;
  canvas2d.height = height;
  const glCanvas = document.createElement('canvas');
  document.body.append(canvas2d, glCanvas);
  const context2d = canvas2d.getContext('2d');
  const painter = createGlPainter(glCanvas, width, height);
  if (!painter) return { error: 'no WebGL2 with S3TC' };
  const gl = glCanvas.getContext('webgl2');
  const renderer = gl.getParameter(gl.getExtension('WEBGL_debug_renderer_info')?.UNMASKED_RENDERER_WEBGL ?? gl.RENDERER);

  const rgba = animation.newPicture();
  const image = new ImageData(rgba, width, height);
  const blocks = bc1.newPicture();
  const onePixel = new Uint8Array(4);
  // each path shows record k and returns [ms applying it, ms showing it]
  const paths = {
    cpu: (k) => {
      const t0 = performance.now();
      animation.applyRecord(k, rgba);
      const t1 = performance.now();
      context2d.putImageData(image, 0, 0);
      context2d.getImageData(0, 0, 1, 1);
      return [t1 - t0, performance.now() - t1];
    },
    gpu: (k) => {
      const t0 = performance.now();
      bc1.applyRecord(k, blocks);
      const t1 = performance.now();
      painter.draw(blocks);
      gl.finish();
      gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, onePixel);
      return [t1 - t0, performance.now() - t1];
    },
  };
  paths.cpu(0);
  paths.gpu(0);
  // one pass over records 1..N on one path: mean ms per frame
  window.playLoop = (path) => {
    let apply = 0;
    let show = 0;
    for (let k = 1; k <= animation.frameCount; k++) {
      const [a, s] = paths[path](k);
      apply += a;
      show += s;
    }
    return { apply: apply / animation.frameCount, show: show / animation.frameCount };
  };
  return { width, height, frames: animation.frameCount, renderer, bc1Bytes: painter.bytesPerFrame, rgbaBytes: rgba.length };
}

// CPU seconds (user + system) so far of the descendants of a process.
function descendantsCpuSeconds(rootPid) {
  const parents = new Map();
  const ticks = new Map();
  for (const name of readdirSync('/proc')) {
    if (!/^\d+$/.test(name)) continue;
    let stat;
    try {
      stat = readFileSync(`/proc/${name}/stat`, 'utf8');
    } catch {
      continue; // the process ended meanwhile
    }
    // the fields after the command name, which may hold spaces: the parent's
    // id is the second, user and system ticks the twelfth and thirteenth
    const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
    parents.set(Number(name), Number(fields[1]));
    ticks.set(Number(name), Number(fields[11]) + Number(fields[12]));
  }
  let total = 0;
  for (const [pid, tick] of ticks) {
    for (let p = parents.get(pid); p > 1; p = parents.get(p)) {
      if (p === rootPid) {
        total += tick;
        break;
      }
    }
  }
  return total / TICKS_PER_SECOND;
}

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const mid = sorted.length >> 1;
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
};

const options = parseArguments(process.argv.slice(2));
const bytes = readFileSync(options.file);
const loadBefore = loadavg()[0];
const browser = await launchChromium();
const page = await openBlankPage(browser);
const facts = await page.evaluate(setUpInPage, { base64: bytes.toString('base64'), mode: options.mode });
if (facts.error) {
  console.error(`web_frame_paths: ${facts.error}`);
  process.exit(1);
}
const perRound = { cpu: [], gpu: [] };
// round 0 warms up and is not kept; the paths take turns at going first
for (let round = 0; round <= options.rounds; round++) {
  for (const path of round % 2 === 0 ? ['cpu', 'gpu'] : ['gpu', 'cpu']) {
    // Chromium runs as this process's children
    const before = descendantsCpuSeconds(process.pid);
    const times = await page.evaluate((p) => window.playLoop(p), path);
    const cpuMs = ((descendantsCpuSeconds(process.pid) - before) * 1000) / facts.frames;
    if (round > 0) perRound[path].push({ ...times, cpuMs });
  }
}
await browser.close();

const summary = {};
for (const path of ['cpu', 'gpu']) {
  const rounds = perRound[path];
  const totals = rounds.map((r) => r.apply + r.show);
  summary[path] = {
    apply: median(rounds.map((r) => r.apply)),
    show: median(rounds.map((r) => r.show)),
    total: median(totals),
    low: Math.min(...totals),
    high: Math.max(...totals),
    cpuMs: median(rounds.map((r) => r.cpuMs)),
  };
}
const ms = (v) => v.toFixed(2).padStart(7);
console.log(`${options.file}: ${facts.width}x${facts.height}, ${facts.frames} frames and the closing record, ${options.mode}`);
console.log(`WebGL: ${facts.renderer}`);
console.log(`${options.rounds} rounds; load average ${loadBefore.toFixed(1)} before, ${loadavg()[0].toFixed(1)} after`);
console.log('');
console.log('path   apply ms   show ms   frame ms   (rounds low..high)   Chromium CPU ms   uploaded per frame');
for (const [path, uploaded] of [['cpu', facts.rgbaBytes], ['gpu', facts.bc1Bytes]]) {
  const s = summary[path];
  console.log(`${path}    ${ms(s.apply)}   ${ms(s.show)}    ${ms(s.total)}   (${s.low.toFixed(2)}..${s.high.toFixed(2)})   ${ms(s.cpuMs)}           ${uploaded} bytes`);
}
console.log('');
console.log(`gpu / cpu: time per frame ${(summary.gpu.total / summary.cpu.total).toFixed(2)}, `
  + `Chromium CPU time per frame ${(summary.gpu.cpuMs / summary.cpu.cpuMs).toFixed(2)}, `
  + `bytes per frame ${(facts.bc1Bytes / facts.rgbaBytes).toFixed(3)}`);
