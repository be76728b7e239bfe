// The project's programs as the web tests run them: where they are, a work
// directory they can use, the bundled wheel encoded, and `velt decode`.
import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { basename, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

import pngjs from 'pngjs';

export const REPO = resolve(fileURLToPath(new URL('../..', import.meta.url)));
// CTest passes the paths of the programs it built; by hand, build/ is used
export const ENCODE_FLAGS = resolve(process.env.VELT_ENCODE_FLAGS || join(REPO, 'build', 'velt-encode-flags'));
export const VELT = resolve(process.env.VELT_PROGRAM || join(REPO, 'build', 'velt'));
export const WHEEL_FRAMES = 16;
// relative to REPO: every upper-case X in a frame pattern stands for the frame number
const WHEEL_PATTERN = 'examples/wheel/frame_X.png';

// A reason to skip when one of the programs is not built, else false.
export function notBuilt(...paths) {
  const missing = paths.filter((path) => !existsSync(path));
  return missing.length > 0 && `program not built: ${missing.join(', ')}`;
}

// A fresh directory for a test's files; its path holds no upper-case X,
// which frame patterns take for the frame number.
export function makeWorkDir() {
  for (let attempt = 0; attempt < 100; attempt++) {
    const dir = mkdtempSync('/tmp/velt-web-');
    if (!dir.includes('X')) return dir;
    rmSync(dir, { recursive: true });
  }
  throw new Error('no temporary directory without X in its name');
}

// Encodes the bundled wheel at `fps` with the encoder's `flags`.
export function encodeWheel(velt, fps, flags) {
  execFileSync(ENCODE_FLAGS, [WHEEL_PATTERN, velt, String(fps), String(flags)], { cwd: REPO, stdio: 'pipe' });
}

// Runs `velt decode` on the file in the given block mode, writing into
// `workDir`. Returns the frames as { width, height, data } with RGBA data, or
// throws with the program's error output.
export function veltDecode(velt, mode, frameCount, workDir) {
  const stem = `${basename(velt, '.velt')}_${mode}_`;
  execFileSync(VELT, ['decode', velt, join(workDir, `${stem}X.png`), '--mode', mode], { stdio: 'pipe' });
  return Array.from({ length: frameCount }, (_, k) => {
    const png = pngjs.PNG.sync.read(readFileSync(join(workDir, `${stem}${k}.png`)));
    return { width: png.width, height: png.height, data: png.data };
  });
}
