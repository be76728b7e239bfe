// The page: opens a .velt file (file picker or drop), plays it on the canvas
// at the header's frame rate, loops, pauses, steps, and shows what each
// frame record costs.

import { VeltAnimation, VeltFormatError, readHeader, readLayout } from './velt_decoder.js';
import { FrameStepper } from './frame_stepper.js';

// Most records applied in one animation tick when the display falls behind
// (fast rates, a busy machine); past that the clock is reset instead.
const MAX_CATCH_UP = 8;
const DISPLAY_SIZE = 512;

const $ = (id) => document.getElementById(id);
const fileInput = $('file-input');
const modeSelect = $('mode-select');
const modeNote = $('mode-note');
const errorLine = $('error-line');
const canvas = $('screen');
const playButton = $('play-pause');
const backButton = $('step-back');
const forwardButton = $('step-forward');
const frameStats = $('frame-stats');
const fileFacts = $('file-facts');

// willReadFrequently keeps the canvas in plain memory; pixels go in with
// putImageData in sRGB, so no colour conversion or smoothing touches them.
const context = canvas.getContext('2d', { colorSpace: 'srgb', willReadFrequently: true });

const state = {
  fileName: '',
  bytes: null,
  stepper: null,
  imageData: null,
  playing: false,
  opening: 0, // counts file openings, so a slow read cannot replace a newer file
  frameInterval: 0,
  nextDue: 0,
  tickId: 0,
};

function showError(message) {
  stop();
  state.stepper = null;
  errorLine.textContent = message;
  document.body.dataset.state = 'error';
}

// Opens the loaded bytes in the chosen block mode, from frame 0.
function openAnimation(mode) {
  stop();
  let animation;
  try {
    animation = new VeltAnimation(state.bytes, mode);
  } catch (error) {
    if (!(error instanceof VeltFormatError)) throw error;
    showError(`Cannot play ${state.fileName} as ${mode}: ${error.message}${otherSizeHint(mode)}`);
    return;
  }
  const { width, height, fps } = animation.header;
  state.stepper = new FrameStepper(animation);
  state.imageData = new ImageData(state.stepper.picture, width, height, { colorSpace: 'srgb' });
  state.frameInterval = 1000 / fps;
  canvas.width = width;
  canvas.height = height;
  const scale = Math.max(1, Math.floor(DISPLAY_SIZE / Math.max(width, height)));
  canvas.style.width = `${width * scale}px`;
  errorLine.textContent = '';
  document.body.dataset.state = 'ready';
  showFacts(animation);
  draw();
}

// When a file marked with flags fails in one record size but reads whole in
// the other, says so: the likely fault is the chosen mode, not the file.
function otherSizeHint(mode) {
  if (modeSelect.disabled) return '';
  const twelve = mode === 'opaque12' || mode === 'alpha12';
  try {
    readLayout(state.bytes, twelve ? 'alpha' : 'alpha12');
  } catch {
    return '';
  }
  return twelve ? ' (it reads as 8-byte records: choose opaque or alpha)'
    : ' (it reads as 12-byte records: choose opaque12 or alpha12)';
}

async function openFile(file) {
  stop();
  const opening = ++state.opening;
  let bytes;
  try {
    bytes = new Uint8Array(await file.arrayBuffer());
  } catch (error) {
    if (opening !== state.opening) return;
    state.bytes = null;
    showError(`Cannot read ${file.name}: ${error.message}`);
    return;
  }
  if (opening !== state.opening) return;
  state.fileName = file.name;
  state.bytes = bytes;
  let header;
  try {
    header = readHeader(state.bytes);
  } catch (error) {
    if (!(error instanceof VeltFormatError)) throw error;
    modeSelect.disabled = true;
    modeNote.textContent = '';
    showError(`Cannot play ${state.fileName}: ${error.message}`);
    return;
  }
  // The header only marks that the file was written with some flags set,
  // not which, so the viewer picks the block mode.
  modeSelect.disabled = !header.flagsMarked;
  modeSelect.value = header.flagsMarked ? 'alpha' : 'opaque';
  modeNote.textContent = header.flagsMarked
    ? 'The file was written with flags: choose the mode it was encoded in.'
    : 'Written without flags: opaque.';
  openAnimation(modeSelect.value);
}

function showFacts(animation) {
  const { width, height, fps, frameCount, rateCode } = animation.header;
  const facts = [
    ['File', `${state.fileName}, ${state.bytes.length} bytes`],
    ['Size', `${width} × ${height} pixels`],
    ['Frame rate', `${fps} fps (rate code ${rateCode})`],
    ['Frames', `${frameCount} and a closing record`],
    ['Block records', `${animation.recordSize} bytes (${animation.mode})`],
  ];
  fileFacts.replaceChildren(...facts.flatMap(([term, value]) => {
    const dt = document.createElement('dt');
    const dd = document.createElement('dd');
    dt.textContent = term;
    dd.textContent = value;
    return [dt, dd];
  }));
}

function draw() {
  const { stepper } = state;
  context.putImageData(state.imageData, 0, 0);
  const { record, changedBlocks, bytes } = stepper.recordStats;
  const which = stepper.atClosingRecord ? ' (closing record)' : '';
  frameStats.textContent = `Frame ${stepper.frameNumber} of ${stepper.frameCount}${which} · record ${record} · `
    + `${changedBlocks} changed block${changedBlocks === 1 ? '' : 's'} · ${bytes} bytes`;
}

function tick(now) {
  if (!state.playing) return;
  let applied = 0;
  while (now >= state.nextDue && applied < MAX_CATCH_UP) {
    state.stepper.forward();
    state.nextDue += state.frameInterval;
    applied++;
  }
  if (now >= state.nextDue) state.nextDue = now + state.frameInterval;
  if (applied > 0) draw();
  state.tickId = requestAnimationFrame(tick);
}

function play() {
  if (!state.stepper || state.playing) return;
  state.playing = true;
  state.nextDue = performance.now() + state.frameInterval;
  state.tickId = requestAnimationFrame(tick);
  playButton.textContent = 'Pause';
}

function stop() {
  state.playing = false;
  cancelAnimationFrame(state.tickId);
  playButton.textContent = 'Play';
}

function step(direction) {
  if (!state.stepper) return;
  stop();
  if (direction > 0) state.stepper.forward();
  else state.stepper.back();
  draw();
}

fileInput.addEventListener('change', () => {
  if (fileInput.files.length > 0) openFile(fileInput.files[0]);
  fileInput.value = '';
});
modeSelect.addEventListener('change', () => {
  if (state.bytes) openAnimation(modeSelect.value);
});
playButton.addEventListener('click', () => (state.playing ? stop() : play()));
backButton.addEventListener('click', () => step(-1));
forwardButton.addEventListener('click', () => step(1));

document.addEventListener('keydown', (event) => {
  if (!state.stepper || event.target instanceof HTMLSelectElement) return;
  // a focused button already answers the space bar with a click
  if (event.key === ' ' && event.target instanceof HTMLButtonElement) return;
  const actions = { ' ': () => (state.playing ? stop() : play()), ArrowLeft: () => step(-1), ArrowRight: () => step(1) };
  const action = actions[event.key];
  if (action) {
    event.preventDefault();
    action();
  }
});

document.addEventListener('dragover', (event) => {
  event.preventDefault();
  document.body.classList.add('dragging');
});
document.addEventListener('dragleave', (event) => {
  if (event.relatedTarget === null) document.body.classList.remove('dragging');
});
document.addEventListener('drop', (event) => {
  event.preventDefault();
  document.body.classList.remove('dragging');
  const file = event.dataTransfer.files[0];
  if (file) openFile(file);
});

// A handle for the browser console and the page test: what is on screen.
window.veltPlayer = {
  get frameNumber() { return state.stepper?.frameNumber ?? null; },
  get record() { return state.stepper?.position ?? null; },
  picture: () => state.stepper?.picture.slice() ?? null,
};
