// <velt-player>: plays a .velt file in any page, as <img> and <video> show
// theirs. A page loads this module once and writes the element:
//
//   <script type="module" src="velt_player.js"></script>
//   <velt-player src="walk.velt" mode="alpha" autoplay loop controls></velt-player>
//
// Attributes: src; mode (opaque, alpha, opaque12, alpha12; alpha when absent,
// and a file whose header marks no flags plays as opaque whatever is asked);
// autoplay; loop (without it playback stops on the last frame); controls;
// show-changes (tints the blocks the current frame record changed);
// renderer (how pictures are drawn: auto, the GPU where the browser can and
// the records allow, else the CPU; cpu; gpu, an error where it cannot).
//
// The GPU path keeps each frame as BC1 texture blocks, which 8-byte records
// are but for the order of their index bits, and uploads it compressed, an
// eighth of the RGBA frame; the GPU's decoding may round the two mixed
// palette colours one level apart from velt's own. 12-byte records, and
// browsers without WebGL2 and its S3TC extension, take the exact CPU path, as
// does a page whose GPU context is lost while it plays.
//
// Size: like an image, the frame's own size in CSS pixels (300 x 150 until a
// file is loaded), plus the control bar, which also keeps it at least 8em
// wide; a page that sets only the width gets the frame's aspect ratio. In
// whatever box it gets, the picture is scaled up by whole device pixels while
// it fits, so pixel art stays sharp, and down to fit when it is larger,
// keeping its aspect ratio; it is centred.
//
// Files: a .velt file as it is or as the server compressed it for the
// fetch (Content-Encoding gzip or br, which the browser undoes), or a
// gzip file of it (file.velt.gz) sent as it is, known by its magic bytes and
// unpacked here.
//
// Events: load (the file read and checked), error (detail {message, reason,
// offset}; offset null when the fetch failed or a gzip file does not unpack),
// frame (each frame shown, detail {frame, record}), ended (playback without
// loop reached its end).

import { VeltAnimation, VeltFormatError } from './velt_decoder.js';
import { FrameStepper } from './frame_stepper.js';
import { Bc1Animation } from './bc1_frames.js';
import { createGlPainter } from './gl_painter.js';
import { isGzip, unpackGzip } from './gzip_file.js';

const DEFAULT_MODE = 'alpha';
const RENDERERS = ['auto', 'cpu', 'gpu'];
// Most records applied in one display tick when playback falls behind (fast
// rates, a busy machine); past that the clock is reset instead.
const MAX_CATCH_UP = 8;
// A changed block in the show-changes overlay: translucent magenta, RGBA.
const CHANGE_TINT = [255, 0, 160, 110];
const EMPTY_SIZE = [300, 150];

const TEMPLATE = `
<style>
  :host { display: inline-block; vertical-align: bottom; overflow: hidden; }
  :host([hidden]) { display: none; }
  /* room for the control bar, however small the frame */
  :host([controls]) { min-width: 8em; }
  /* fills a height the page sets, else takes the stage's height */
  .box { display: flex; flex-direction: column; height: 100%; }
  .stage { position: relative; flex: 1 1 auto; min-height: 0; overflow: hidden; }
  canvas { position: absolute; }
  [part="changes"] { image-rendering: pixelated; pointer-events: none; }
  :host(:not([show-changes])) [part="changes"] { display: none; }
  [part="message"] { position: absolute; inset: 0; margin: 0; padding: 4px; overflow: auto;
    font: 12px/1.3 system-ui, sans-serif; color: #a00; }
  [part="controls"] { flex: none; display: flex; align-items: center; gap: 4px; padding: 2px 0;
    font: 13px system-ui, sans-serif; }
  :host(:not([controls])) [part="controls"] { display: none; }
  button { font: inherit; min-width: 2em; padding: 1px 4px; }
  output { margin-left: auto; font-variant-numeric: tabular-nums; white-space: nowrap; }
</style>
<style class="size"></style>
<div class="box">
  <div class="stage">
    <canvas part="picture"></canvas>
    <canvas part="changes"></canvas>
    <p part="message" role="alert" hidden></p>
  </div>
  <div part="controls">
    <button type="button" data-action="back" aria-label="Step back" title="Step back (Left arrow)" disabled>‹</button>
    <button type="button" data-action="toggle" aria-label="Play" title="Play or pause (Space)" disabled>▶</button>
    <button type="button" data-action="forward" aria-label="Step forward" title="Step forward (Right arrow)" disabled>›</button>
    <output title="frame shown / frame count"></output>
  </div>
</div>`;

// The one place that decides how pictures reach the screen. Takes the canvas,
// the file read and checked as a VeltAnimation, the renderer attribute and
// what to call if the GPU context is lost; returns a painter { renderer,
// animation, bytesPerFrame, draw(picture), pixels(picture) } whose `animation`
// is what the stepper steps (anything with VeltAnimation's interface), whose
// draw() shows that animation's pictures and pixels() gives the RGBA pixels
// shown. Throws a RangeError for a renderer it does not know or cannot use.
export function createPainter(canvas, animation, renderer, onLost) {
  if (!RENDERERS.includes(renderer)) throw new RangeError(`unknown renderer "${renderer}" (auto, cpu or gpu)`);
  if (renderer === 'cpu') return createCpuPainter(canvas, animation);
  if (animation.recordSize === 8) {
    const painter = createGpuPainter(canvas, animation, onLost);
    if (painter) return painter;
    if (renderer === 'gpu') throw new RangeError('renderer "gpu": this browser has no WebGL2 with S3TC textures');
  } else if (renderer === 'gpu') {
    throw new RangeError(`renderer "gpu": ${animation.mode} records are 12 bytes, which GPUs do not decode`);
  }
  return createCpuPainter(canvas, animation);
}

function createCpuPainter(canvas, animation) {
  const { width, height } = animation.header;
  canvas.width = width;
  canvas.height = height;
  // willReadFrequently keeps the canvas in plain memory; pixels go in with
  // putImageData in sRGB, so no colour conversion or smoothing touches them
  const context = canvas.getContext('2d', { colorSpace: 'srgb', willReadFrequently: true });
  let image = null;
  return {
    renderer: 'cpu',
    animation,
    bytesPerFrame: width * height * 4,
    draw(picture) {
      if (image?.data !== picture) image = new ImageData(picture, width, height, { colorSpace: 'srgb' });
      context.putImageData(image, 0, 0);
    },
    pixels: (picture) => picture.slice(),
  };
}

// Null when the browser cannot draw BC1 textures; the canvas is then untouched.
function createGpuPainter(canvas, animation, onLost) {
  const { width, height } = animation.header;
  const gl = createGlPainter(canvas, width, height);
  if (!gl) return null;
  gl.onlost = onLost;
  return {
    renderer: 'gpu',
    animation: new Bc1Animation(animation),
    bytesPerFrame: gl.bytesPerFrame,
    draw: (picture) => gl.draw(picture),
    pixels: () => gl.readPixels(),
  };
}

export class VeltPlayer extends HTMLElement {
  static observedAttributes = ['src', 'mode', 'renderer', 'show-changes', 'controls'];

  #stage;
  #picture;
  #changes;
  #message;
  #counter;
  #buttons;
  #playButton;
  #sizeStyle;
  #loads = 0; // counts loads, so a slow fetch can never replace a newer src
  #fetching = null; // AbortController of the fetch on its way
  #reloadQueued = false;
  #refetchQueued = false;
  #bytes = null; // the file as fetched, kept to reopen it in another mode
  #checked = null; // the file as a VeltAnimation in the current mode
  #painter = null;
  #stepper = null;
  #wantPlay = false;
  #pendingFrame = null; // currentFrame set before the file is open
  #tickId = 0;
  #nextDue = 0;
  #frameInterval = 0;
  #shows = 0;

  constructor() {
    super();
    const root = this.attachShadow({ mode: 'open' });
    root.innerHTML = TEMPLATE;
    const part = (name) => root.querySelector(`[part="${name}"]`);
    this.#stage = root.querySelector('.stage');
    this.#sizeStyle = root.querySelector('style.size');
    this.#picture = part('picture');
    this.#changes = part('changes');
    this.#message = part('message');
    this.#counter = root.querySelector('output');
    this.#buttons = root.querySelectorAll('button');
    this.#playButton = root.querySelector('[data-action="toggle"]');
    this.#setNaturalSize(...EMPTY_SIZE);
    const actions = { back: () => this.stepBack(), toggle: () => this.#toggle(), forward: () => this.stepForward() };
    part('controls').addEventListener('click', (event) => actions[event.target.closest('button')?.dataset.action]?.());
    this.addEventListener('keydown', (event) => this.#onKey(event));
    new ResizeObserver(() => this.#fit()).observe(this.#stage);
  }

  connectedCallback() {
    this.#makeFocusable();
    this.#startTicking();
  }

  disconnectedCallback() {
    this.#stopTicking();
  }

  attributeChangedCallback(name, before, after) {
    if (before === after) return;
    if (name === 'src') this.#queueReload(true);
    else if (name === 'mode' || name === 'renderer') this.#queueReload(false);
    else if (name === 'show-changes') this.#paintChanges();
    else this.#makeFocusable();
  }

  get src() { return this.getAttribute('src') ?? ''; }
  set src(value) { this.setAttribute('src', value); }
  get mode() { return this.getAttribute('mode') || DEFAULT_MODE; }
  set mode(value) { this.setAttribute('mode', value); }
  get renderer() { return this.getAttribute('renderer') || 'auto'; }
  set renderer(value) { this.setAttribute('renderer', value); }
  // How the open file is drawn: 'cpu' or 'gpu'; null while none is open.
  get activeRenderer() { return this.#painter?.renderer ?? null; }
  // Bytes that go to the screen for each frame: the RGBA frame, or its BC1 blocks.
  get bytesPerFrame() { return this.#painter?.bytesPerFrame ?? 0; }

  // The file read and checked (header, records, mode, recordSize, bytes), or
  // null while none is open.
  get animation() { return this.#checked; }
  get frameCount() { return this.#checked?.frameCount ?? 0; }
  get paused() { return !this.#wantPlay; }

  // The frame shown, 0 to frameCount - 1. Setting it shows that frame
  // (clamped to the file's frames); set before the file is open, it is the
  // frame the file opens at.
  get currentFrame() { return this.#stepper?.frameNumber ?? this.#pendingFrame ?? 0; }
  set currentFrame(value) {
    const frame = Math.max(0, Math.trunc(Number(value)) || 0);
    if (!this.#stepper || this.#reloadQueued) {
      this.#pendingFrame = frame;
      return;
    }
    this.#stepper.seek(Math.min(frame, this.frameCount - 1));
    this.#nextDue = performance.now() + this.#frameInterval;
    this.#show();
  }

  // The record whose picture is shown: frameCount for the closing record,
  // which shows frame 0 again.
  get currentRecord() { return this.#stepper?.position ?? 0; }

  // A copy of the picture shown (RGBA, row-major), or null. On the GPU path
  // it is read back from the GPU, as the GPU decoded it.
  picture() { return this.#stepper ? this.#painter.pixels(this.#stepper.picture) : null; }

  // Plays from the frame shown; a file that is still loading starts once it
  // is open. Without `loop`, playing from the last frame starts again at 0.
  play() {
    if (this.#wantPlay) return;
    const stepper = this.#stepper;
    if (stepper && !this.loop && stepper.position === stepper.frameCount - 1) {
      stepper.seek(0);
      this.#show();
    }
    this.#wantPlay = true;
    this.#startTicking();
    this.#updateControls();
  }

  pause() {
    this.#wantPlay = false;
    this.#stopTicking();
    this.#updateControls();
  }

  // One record on, through the closing record (frame 0 again) and round to
  // frame 1; back from frame 0 goes to the last frame. Both pause.
  stepForward() { this.#step((stepper) => stepper.forward()); }
  stepBack() { this.#step((stepper) => stepper.back()); }

  #step(move) {
    if (!this.#stepper) return;
    this.pause();
    move(this.#stepper);
    this.#show();
  }

  #toggle() {
    if (this.paused) this.play();
    else this.pause();
  }

  // Attribute changes made together (src and mode, say) load once, after the
  // task that made them.
  #queueReload(refetch) {
    this.#refetchQueued ||= refetch;
    if (this.#reloadQueued) return;
    this.#reloadQueued = true;
    queueMicrotask(() => {
      this.#reloadQueued = false;
      const refetchNow = this.#refetchQueued;
      this.#refetchQueued = false;
      if (refetchNow) this.#fetchFile();
      // with no file yet, a fetch on its way opens in the mode asked by then
      else if (this.#bytes) this.#open(this.#bytes, ++this.#loads);
    });
  }

  async #fetchFile() {
    const load = ++this.#loads;
    this.#fetching?.abort();
    this.#fetching = null;
    this.#bytes = null;
    this.#unload();
    const { src } = this;
    if (!src) return;
    const fetching = new AbortController();
    this.#fetching = fetching;
    let bytes;
    try {
      const response = await fetch(src, { signal: fetching.signal });
      if (!response.ok) throw new Error(`HTTP status ${response.status}`);
      bytes = new Uint8Array(await response.arrayBuffer());
    } catch (error) {
      if (load === this.#loads) this.#fail(`cannot fetch ${src}: ${error.message}`, error.message, null);
      return;
    }
    if (isGzip(bytes)) {
      try {
        bytes = await unpackGzip(bytes);
      } catch (error) {
        if (load === this.#loads) this.#fail(`cannot unpack ${src}: ${error.message}`, error.message, null);
        return;
      }
    }
    if (load !== this.#loads) return;
    this.#fetching = null;
    this.#bytes = bytes;
    this.#open(bytes, load);
  }

  #open(bytes, load) {
    this.#unload();
    let checked;
    try {
      checked = new VeltAnimation(bytes, this.mode);
    } catch (error) {
      if (error instanceof VeltFormatError) this.#fail(error.message, error.reason, error.offset);
      else if (error instanceof RangeError) this.#fail(error.message, error.message, null); // unknown mode
      else throw error;
      return;
    }
    const { width, height, blocksAcross, blocksDown, fps } = checked.header;
    try {
      this.#startPainting(checked, this.renderer);
    } catch (error) {
      if (!(error instanceof RangeError)) throw error;
      this.#fail(error.message, error.message, null); // a renderer unknown or unusable here
      return;
    }
    this.#checked = checked;
    if (this.#pendingFrame !== null) this.#stepper.seek(Math.min(this.#pendingFrame, checked.frameCount - 1));
    this.#pendingFrame = null;
    this.#frameInterval = 1000 / fps;
    this.#changes.width = blocksAcross;
    this.#changes.height = blocksDown;
    this.#changes.hidden = false;
    this.#setNaturalSize(width, height);
    this.#fit();
    this.#draw();
    if (this.autoplay) this.#wantPlay = true;
    this.#updateControls();
    const shows = this.#shows;
    this.dispatchEvent(new Event('load'));
    if (load !== this.#loads) return; // the handler loaded something else
    if (this.#shows === shows) this.#show(); // announce the first frame unless the handler moved on
    this.#startTicking();
  }

  // A painter on a fresh canvas (a canvas keeps the first kind of context it
  // gives) and a stepper for it, at record 0.
  #startPainting(checked, renderer) {
    const canvas = document.createElement('canvas');
    canvas.setAttribute('part', 'picture');
    const painter = createPainter(canvas, checked, renderer, () => {
      if (this.#painter === painter) this.#fallBackToCpu(); // not for a file since replaced
    });
    this.#picture.replaceWith(canvas);
    this.#picture = canvas;
    this.#painter = painter;
    this.#stepper = new FrameStepper(painter.animation);
  }

  // The GPU context was lost (a driver reset, too many contexts on the page):
  // the same record goes on, drawn by the CPU.
  #fallBackToCpu() {
    const position = this.#stepper?.position ?? 0;
    this.#startPainting(this.#checked, 'cpu');
    this.#stepper.seek(position);
    this.#fit();
    this.#draw();
  }

  // Back to no file: nothing drawn, the empty size, controls off.
  #unload() {
    this.#stopTicking();
    this.#checked = null;
    this.#painter = null;
    this.#stepper = null;
    this.#picture.hidden = true;
    this.#changes.hidden = true;
    this.#message.hidden = true;
    this.#counter.textContent = '';
    this.#setNaturalSize(...EMPTY_SIZE);
    this.#updateControls();
  }

  #fail(message, reason, offset) {
    this.#wantPlay = false;
    this.#unload();
    this.#pendingFrame = null;
    this.#message.textContent = message;
    this.#message.hidden = false;
    this.dispatchEvent(new CustomEvent('error', { detail: { message, reason, offset } }));
  }

  // The size the element takes when the page gives it none.
  #setNaturalSize(width, height) {
    this.#sizeStyle.textContent = `:host { width: ${width}px; } .stage { aspect-ratio: ${width} / ${height}; }`;
  }

  // Places the picture in the stage: whole device pixels per frame pixel
  // while it fits, else shrunk to fit; the overlay lies exactly over it.
  #fit() {
    if (!this.#checked) return;
    const { width, height } = this.#checked.header;
    const boxWidth = this.#stage.clientWidth;
    const boxHeight = this.#stage.clientHeight;
    const ratio = window.devicePixelRatio || 1;
    const fit = Math.min((boxWidth * ratio) / width, (boxHeight * ratio) / height);
    const scale = fit >= 1 ? Math.floor(fit) : fit;
    const shownWidth = (width * scale) / ratio;
    const shownHeight = (height * scale) / ratio;
    const onDevicePixel = (length) => `${Math.round(length * ratio) / ratio}px`;
    for (const canvas of [this.#picture, this.#changes]) {
      Object.assign(canvas.style, {
        width: `${shownWidth}px`,
        height: `${shownHeight}px`,
        left: onDevicePixel((boxWidth - shownWidth) / 2),
        top: onDevicePixel((boxHeight - shownHeight) / 2),
      });
    }
    this.#picture.style.imageRendering = scale >= 1 ? 'pixelated' : 'auto';
  }

  // Draws the current picture and says so with a `frame` event.
  #show() {
    this.#shows++;
    this.#draw();
    const { frameNumber: frame, position: record } = this.#stepper;
    this.dispatchEvent(new CustomEvent('frame', { detail: { frame, record } }));
  }

  #draw() {
    this.#painter.draw(this.#stepper.picture);
    this.#paintChanges();
    this.#counter.textContent = `${this.#stepper.frameNumber}/${this.frameCount}`;
  }

  // One overlay pixel per 4x4 block, stretched over the picture: the blocks
  // whose bits are set in the current record's change map are tinted.
  #paintChanges() {
    if (!this.#stepper || !this.showChanges) return;
    const { bytes, records, header: { blocksAcross, blocksDown, blockCount } } = this.#checked;
    const context = this.#changes.getContext('2d');
    const image = context.createImageData(blocksAcross, blocksDown);
    const map = records[this.#stepper.position].offset;
    for (let block = 0; block < blockCount; block++) {
      if (bytes[map + (block >> 3)] & (0x80 >> (block & 7))) image.data.set(CHANGE_TINT, block * 4);
    }
    context.putImageData(image, 0, 0);
  }

  #startTicking() {
    if (!this.#wantPlay || !this.#stepper || !this.isConnected || this.#tickId) return;
    this.#nextDue = performance.now() + this.#frameInterval;
    this.#tickId = requestAnimationFrame((now) => this.#tick(now));
    this.#updateControls();
  }

  #stopTicking() {
    cancelAnimationFrame(this.#tickId);
    this.#tickId = 0;
  }

  #tick(now) {
    this.#tickId = 0;
    const stepper = this.#stepper;
    let applied = 0;
    let ended = false;
    while (now >= this.#nextDue && applied < MAX_CATCH_UP) {
      // without loop, the last frame stays for its full time, then playback ends
      if (!this.loop && stepper.position === stepper.frameCount - 1) {
        ended = true;
        break;
      }
      stepper.forward();
      this.#nextDue += this.#frameInterval;
      applied++;
    }
    if (now >= this.#nextDue) this.#nextDue = now + this.#frameInterval;
    if (ended) this.pause();
    if (applied > 0) this.#show();
    if (ended) this.dispatchEvent(new Event('ended'));
    // a frame handler may have paused, seeked or loaded another file
    if (this.#wantPlay && this.#stepper === stepper && !this.#tickId) {
      this.#tickId = requestAnimationFrame((time) => this.#tick(time));
    }
  }

  #updateControls() {
    for (const button of this.#buttons) button.disabled = !this.#stepper;
    this.#playButton.textContent = this.#wantPlay ? '❚❚' : '▶';
    this.#playButton.setAttribute('aria-label', this.#wantPlay ? 'Pause' : 'Play');
  }

  // With controls, the element takes the keyboard focus unless the page
  // already decided its tab order.
  #makeFocusable() {
    if (this.isConnected && this.controls && !this.hasAttribute('tabindex')) this.tabIndex = 0;
  }

  #onKey(event) {
    if (!this.controls || !this.#stepper || event.altKey || event.ctrlKey || event.metaKey) return;
    // a focused button already answers the space bar with a click
    if (event.key === ' ' && event.composedPath()[0] instanceof HTMLButtonElement) return;
    const actions = { ' ': () => this.#toggle(), ArrowLeft: () => this.stepBack(), ArrowRight: () => this.stepForward() };
    const action = actions[event.key];
    if (!action) return;
    event.preventDefault();
    action();
  }
}

// boolean attributes, reflected as properties as <video> reflects its own
for (const [property, attribute] of [['autoplay', 'autoplay'], ['loop', 'loop'], ['controls', 'controls'], ['showChanges', 'show-changes']]) {
  Object.defineProperty(VeltPlayer.prototype, property, {
    get() { return this.hasAttribute(attribute); },
    set(on) { this.toggleAttribute(attribute, Boolean(on)); },
  });
}

if (!customElements.get('velt-player')) customElements.define('velt-player', VeltPlayer);
