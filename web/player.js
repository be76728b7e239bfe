// The demo page: opens a .velt file (file picker or drop) into a <velt-player>,
// which plays, pauses and steps it, and shows the file's facts and what each
// frame record costs.

import { readHeader, readLayout } from './velt_decoder.js';
import { isGzip, unpackGzip } from './gzip_file.js';
import './velt_player.js';

const $ = (id) => document.getElementById(id);
const fileInput = $('file-input');
const modeSelect = $('mode-select');
const modeNote = $('mode-note');
const showChanges = $('show-changes');
const rendererSelect = $('renderer-select');
const errorLine = $('error-line');
const player = $('screen');
const frameStats = $('frame-stats');
const fileFacts = $('file-facts');

const state = {
  fileName: '',
  bytes: null,
  headerRead: false,
  url: '', // the blob: URL the player reads the file from
  opening: 0, // counts file openings, so a slow read cannot replace a newer file
};

function showError(message) {
  errorLine.textContent = message;
  document.body.dataset.state = 'error';
}

// The player takes files by URL: a picked or dropped file becomes a blob: URL.
// The page reads the bytes too, for the header's flags and the error hints,
// and unpacks a gzip file (file.velt.gz) first, giving the player the VELT
// file it holds.
async function openFile(file) {
  const opening = ++state.opening;
  let bytes;
  let packed = false;
  try {
    bytes = new Uint8Array(await file.arrayBuffer());
    packed = isGzip(bytes);
    if (packed) bytes = await unpackGzip(bytes);
  } catch (error) {
    if (opening !== state.opening) return;
    player.pause();
    showError(`Cannot read ${file.name}: ${error.message}`);
    return;
  }
  if (opening !== state.opening) return;
  state.fileName = file.name;
  state.bytes = bytes;
  let flagsMarked = false;
  try {
    flagsMarked = readHeader(bytes).flagsMarked;
    state.headerRead = true;
  } catch {
    state.headerRead = false; // the player reports what is wrong
  }
  // The header only marks that the file was written with some flags set,
  // not which, so the viewer picks the block mode.
  modeSelect.disabled = !flagsMarked;
  modeSelect.value = flagsMarked ? 'alpha' : 'opaque';
  modeNote.textContent = !state.headerRead ? ''
    : flagsMarked ? 'The file was written with flags: choose the mode it was encoded in.'
      : 'Written without flags: opaque.';
  URL.revokeObjectURL(state.url);
  state.url = URL.createObjectURL(packed ? new Blob([bytes]) : file);
  player.pause();
  player.mode = modeSelect.value;
  player.src = state.url;
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

function showFacts(animation) {
  const { width, height, fps, frameCount, rateCode } = animation.header;
  const facts = [
    ['File', `${state.fileName}, ${state.bytes.length} bytes`],
    ['Size', `${width} × ${height} pixels`],
    ['Frame rate', `${fps} fps (rate code ${rateCode})`],
    ['Frames', `${frameCount} and a closing record`],
    ['Block records', `${animation.recordSize} bytes (${animation.mode})`],
    ['Drawn by', player.activeRenderer === 'gpu'
      ? `the GPU, from BC1 textures: ${player.bytesPerFrame} bytes uploaded a frame`
      : `the CPU: ${player.bytesPerFrame} bytes of RGBA a frame`],
  ];
  fileFacts.replaceChildren(...facts.flatMap(([term, value]) => {
    const dt = document.createElement('dt');
    const dd = document.createElement('dd');
    dt.textContent = term;
    dd.textContent = value;
    return [dt, dd];
  }));
}

player.addEventListener('load', () => {
  errorLine.textContent = '';
  document.body.dataset.state = 'ready';
  showFacts(player.animation);
});

player.addEventListener('error', (event) => {
  const as = state.headerRead ? ` as ${player.mode}` : '';
  showError(`Cannot play ${state.fileName}${as}: ${event.detail.message}${otherSizeHint(player.mode)}`);
});

player.addEventListener('frame', (event) => {
  const { frame, record } = event.detail;
  const { changedBlocks, size } = player.animation.records[record];
  const which = record === player.frameCount ? ' (closing record)' : '';
  frameStats.textContent = `Frame ${frame} of ${player.frameCount}${which} · record ${record} · `
    + `${changedBlocks} changed block${changedBlocks === 1 ? '' : 's'} · ${size} bytes`;
});

fileInput.addEventListener('change', () => {
  if (fileInput.files.length > 0) openFile(fileInput.files[0]);
  fileInput.value = '';
});
modeSelect.addEventListener('change', () => {
  player.mode = modeSelect.value;
});
rendererSelect.addEventListener('change', () => {
  player.renderer = rendererSelect.value;
});
showChanges.addEventListener('change', () => {
  player.showChanges = showChanges.checked;
});

// Space and the arrows work anywhere on the page; the player answers them
// itself when it has the focus.
document.addEventListener('keydown', (event) => {
  const { target } = event;
  if (!player.animation || target === player || target instanceof HTMLSelectElement
    || target instanceof HTMLInputElement) return;
  // a focused button already answers the space bar with a click
  if (event.key === ' ' && target instanceof HTMLButtonElement) return;
  const actions = {
    ' ': () => (player.paused ? player.play() : player.pause()),
    ArrowLeft: () => player.stepBack(),
    ArrowRight: () => player.stepForward(),
  };
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
  get frameNumber() { return player.animation ? player.currentFrame : null; },
  get record() { return player.animation ? player.currentRecord : null; },
  picture: () => player.picture(),
};
