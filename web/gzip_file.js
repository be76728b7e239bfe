// A .velt file kept gzip-compressed (file.velt.gz) for static hosts that
// compress nothing: fetched as it is, known by the gzip magic bytes and
// unpacked with the browser's DecompressionStream. (A file the server sends
// with Content-Encoding: gzip or br arrives unpacked already.)
// Works the same in the page and under node.

// deflate expands up to 1032 times, so a small hostile file could fill the
// page's memory: more than this is refused, far above any animation a page
// plays
export const MAX_UNPACKED_BYTES = 512 * 1024 * 1024;

export class GzipError extends Error {
  constructor(message) {
    super(message);
    this.name = 'GzipError';
  }
}

// True when `bytes` start as a gzip file does (1f 8b); a VELT file starts
// with "VELT", so the two never meet.
export function isGzip(bytes) {
  return bytes.length >= 2 && bytes[0] === 0x1f && bytes[1] === 0x8b;
}

// The bytes the gzip file `bytes` holds. Rejects with a GzipError when the
// stream is broken or cut short, has bytes after its end, or unpacks to more
// than `limit` bytes.
export async function unpackGzip(bytes, limit = MAX_UNPACKED_BYTES) {
  const reader = new Blob([bytes]).stream().pipeThrough(new DecompressionStream('gzip')).getReader();
  const pieces = [];
  let size = 0;
  try {
    for (;;) {
      const { done, value } = await reader.read();
      if (done) break;
      size += value.length;
      if (size > limit) {
        reader.cancel().catch(() => {});
        throw new GzipError(`the gzip file unpacks to more than ${limit} bytes`);
      }
      pieces.push(value);
    }
  } catch (error) {
    if (error instanceof GzipError) throw error;
    throw new GzipError(`broken gzip data: ${error.message}`);
  }
  const unpacked = new Uint8Array(size);
  let at = 0;
  for (const piece of pieces) {
    unpacked.set(piece, at);
    at += piece.length;
  }
  return unpacked;
}
