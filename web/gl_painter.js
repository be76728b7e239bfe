// Draws frames of BC1 blocks (from Bc1Animation) with WebGL2: each frame goes
// to the GPU compressed, as one S3TC DXT1 texture upload, and a quad over the
// whole canvas shows it texel for pixel. The GPU's BC1 decoder may round the
// two mixed palette colours differently from velt's own palette, so colours
// can differ from the CPU path by a level or so; transparent pixels do not.

const VERTEX_SHADER = `#version 300 es
out vec2 uv;
void main() {
  // a triangle strip over the canvas from the vertex number alone;
  // texture row 0 (the frame's top) at the top of the canvas
  vec2 corner = vec2(float(gl_VertexID & 1), float(gl_VertexID >> 1));
  uv = vec2(corner.x, 1.0 - corner.y);
  gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0);
}`;

const FRAGMENT_SHADER = `#version 300 es
precision highp float;
uniform highp sampler2D frame;
in vec2 uv;
out vec4 colour;
void main() {
  colour = texture(frame, uv);
}`;

// Straight (not premultiplied) alpha, so that pixels read back are the decoded
// values; no depth, stencil or multisampling, which would only cost. The
// drawing buffer is not preserved: readPixels() draws the texture again first.
const CONTEXT_ATTRIBUTES = {
  alpha: true,
  premultipliedAlpha: false,
  preserveDrawingBuffer: false,
  antialias: false,
  depth: false,
  stencil: false,
};

const S3TC = 'WEBGL_compressed_texture_s3tc';

// Whether a WebGL2 context with the S3TC extension and textures of the frame's
// size can be made, asked of a scratch canvas: a canvas that has given out a
// WebGL context can never give a 2D one, so the caller's canvas is touched
// only once the answer is yes.
function s3tcAvailable(canvas, width, height) {
  let scratch;
  if (typeof OffscreenCanvas === 'function') scratch = new OffscreenCanvas(1, 1);
  else if (canvas.ownerDocument) scratch = canvas.ownerDocument.createElement('canvas');
  else return false;
  const gl = scratch.getContext('webgl2');
  if (!gl) return false;
  const available = gl.getExtension(S3TC) !== null && gl.getParameter(gl.MAX_TEXTURE_SIZE) >= Math.max(width, height);
  gl.getExtension('WEBGL_lose_context')?.loseContext();
  return available;
}

function compileProgram(gl) {
  const program = gl.createProgram();
  for (const [type, source] of [[gl.VERTEX_SHADER, VERTEX_SHADER], [gl.FRAGMENT_SHADER, FRAGMENT_SHADER]]) {
    const shader = gl.createShader(type);
    gl.shaderSource(shader, source);
    gl.compileShader(shader);
    gl.attachShader(program, shader);
    gl.deleteShader(shader);
  }
  gl.linkProgram(program);
  return gl.getProgramParameter(program, gl.LINK_STATUS) ? program : null;
}

// Sets up what a context needs to draw frames of width x height pixels: the
// program, an empty vertex array and the texture, all left bound. Returns
// false when the GL refuses any of it (say, the context was lost meanwhile).
function prepareContext(gl, s3tc, width, height) {
  const program = compileProgram(gl);
  if (!program) return false;
  const texture = gl.createTexture();
  gl.bindTexture(gl.TEXTURE_2D, texture);
  gl.texStorage2D(gl.TEXTURE_2D, 1, s3tc.COMPRESSED_RGBA_S3TC_DXT1_EXT, width, height);
  gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.NEAREST);
  gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.NEAREST);
  gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_S, gl.CLAMP_TO_EDGE);
  gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_T, gl.CLAMP_TO_EDGE);
  gl.useProgram(program);
  gl.uniform1i(gl.getUniformLocation(program, 'frame'), 0);
  gl.bindVertexArray(gl.createVertexArray());
  gl.disable(gl.BLEND);
  gl.viewport(0, 0, width, height);
  return gl.getError() === gl.NO_ERROR;
}

// A painter for frames of width x height pixels (multiples of 4) on `canvas`,
// whose drawing buffer it sizes to the frame. Returns null, leaving the canvas
// as it was, when WebGL2 or the S3TC extension is missing or textures of the
// frame's size are not: the caller then draws with the CPU path. (Should the
// GL still refuse on the canvas itself, null comes back too, but the canvas
// holds a WebGL context then, and the CPU path needs a fresh canvas.)
//
// painter.draw(picture) uploads a Bc1Animation picture and draws it; it
// returns false, drawing nothing, while the context is lost (painter.lost),
// and draws again once the browser restores the context.
// painter.readPixels() gives the frame on the canvas as top-down RGBA.
export function createGlPainter(canvas, width, height) {
  if (!(width > 0 && height > 0 && width % 4 === 0 && height % 4 === 0)) {
    throw new RangeError(`frame size ${width}x${height} is not made of whole 4x4 blocks`);
  }
  if (!s3tcAvailable(canvas, width, height)) return null;
  canvas.width = width;
  canvas.height = height;
  const gl = canvas.getContext('webgl2', CONTEXT_ATTRIBUTES);
  let s3tc = gl?.getExtension(S3TC);
  if (!s3tc) return null;
  if (!prepareContext(gl, s3tc, width, height)) return null;

  const bytesPerFrame = (width / 4) * (height / 4) * 8;
  let uploaded = false;

  const painter = {
    bytesPerFrame,
    lost: false,
    // set by the caller to hear of a lost context, e.g. to fall back to the CPU path
    onlost: null,

    draw(picture) {
      if (picture.length !== bytesPerFrame) {
        throw new RangeError(`a ${width}x${height} frame is ${bytesPerFrame} bytes of BC1 blocks, not ${picture.length}`);
      }
      if (painter.lost) return false;
      gl.compressedTexSubImage2D(gl.TEXTURE_2D, 0, 0, 0, width, height, s3tc.COMPRESSED_RGBA_S3TC_DXT1_EXT, picture);
      gl.drawArrays(gl.TRIANGLE_STRIP, 0, 4);
      uploaded = true;
      return true;
    },

    // The frame last drawn, width x height RGBA rows from the top; null while
    // the context is lost or before anything was drawn.
    readPixels() {
      if (painter.lost || !uploaded) return null;
      gl.drawArrays(gl.TRIANGLE_STRIP, 0, 4);
      const bottomUp = new Uint8Array(width * height * 4);
      gl.readPixels(0, 0, width, height, gl.RGBA, gl.UNSIGNED_BYTE, bottomUp);
      const rows = new Uint8Array(bottomUp.length);
      const stride = width * 4;
      for (let y = 0; y < height; y++) {
        rows.set(bottomUp.subarray((height - 1 - y) * stride, (height - y) * stride), y * stride);
      }
      return rows;
    },
  };

  canvas.addEventListener('webglcontextlost', (event) => {
    // asks the browser to restore the context later
    event.preventDefault();
    painter.lost = true;
    uploaded = false;
    painter.onlost?.();
  });
  canvas.addEventListener('webglcontextrestored', () => {
    // a restored context starts afresh, without extensions or objects
    s3tc = gl.getExtension(S3TC);
    painter.lost = !(s3tc && prepareContext(gl, s3tc, width, height));
  });
  return painter;
}
