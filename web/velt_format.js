// The VELT container: the 10-byte header and the walk over every frame record.
// Everything here treats the file as untrusted and reports the first fault
// with the byte offset where it lies.

export const HEADER_SIZE = 10;
const MAGIC = [0x56, 0x45, 0x4c, 0x54]; // "VELT"
const MAX_SIZE_CODE = 254; // blocks across or down, minus one

// The block modes a file can be written in, by the encoder's flag value.
// The header only marks that some flag was set, so a reader is told the mode.
export const BLOCK_MODES = ['opaque', 'alpha', 'opaque12', 'alpha12'];

export function recordSizeOf(mode) {
  if (!BLOCK_MODES.includes(mode)) throw new RangeError(`unknown block mode "${mode}"`);
  return mode === 'opaque12' || mode === 'alpha12' ? 12 : 8;
}

export class VeltFormatError extends Error {
  constructor(offset, reason) {
    super(`byte ${offset}: ${reason}`);
    this.name = 'VeltFormatError';
    this.offset = offset;
    this.reason = reason;
  }
}

// Reads and checks the header. Returns its fields and the sizes derived from it.
export function readHeader(bytes) {
  for (let i = 0; i < Math.min(MAGIC.length, bytes.length); i++) {
    if (bytes[i] !== MAGIC[i]) throw new VeltFormatError(0, 'not a VELT file (it does not start with "VELT")');
  }
  if (bytes.length < HEADER_SIZE) {
    throw new VeltFormatError(bytes.length, `the file ends inside the ${HEADER_SIZE}-byte header`);
  }
  if (bytes[4] !== 0) throw new VeltFormatError(4, `reserved byte is ${bytes[4]}, not 0`);

  const rateCode = bytes[5];
  const flagsMarked = (rateCode & 0x80) !== 0;
  // rate code = 2 x fps - 1, in 7 bits when bit 7 marks the flags
  const fps = ((flagsMarked ? rateCode & 0x7f : rateCode) + 1) / 2;
  const frameCount = (bytes[6] << 8) | bytes[7];
  if (frameCount === 0) throw new VeltFormatError(6, 'frame count is 0');
  for (const [at, what] of [[8, 'width'], [9, 'height']]) {
    if (bytes[at] > MAX_SIZE_CODE) {
      throw new VeltFormatError(at, `${what} code ${bytes[at]} is above ${MAX_SIZE_CODE} (frames are below 1024 pixels)`);
    }
  }
  const blocksAcross = bytes[8] + 1;
  const blocksDown = bytes[9] + 1;
  return {
    rateCode,
    flagsMarked,
    fps,
    frameCount,
    blocksAcross,
    blocksDown,
    blockCount: blocksAcross * blocksDown,
    width: blocksAcross * 4,
    height: blocksDown * 4,
  };
}

function countBits(byte) {
  let n = 0;
  for (let b = byte; b !== 0; b &= b - 1) n++;
  return n;
}

// Checks the whole file in the given block mode and finds every frame record:
// frames 0..N-1 and then the closing record that leads back to frame 0.
// Each record is { offset, size, changedBlocks } with offset at its change map.
// A file whose header marks no flags is always read as opaque.
// Work and memory grow with the file's length, never with header values alone.
export function readLayout(bytes, requestedMode) {
  recordSizeOf(requestedMode); // refuses an unknown mode, also for files read as opaque
  const header = readHeader(bytes);
  const mode = header.flagsMarked ? requestedMode : 'opaque';
  const recordSize = recordSizeOf(mode);
  const mapSize = Math.ceil(header.blockCount / 8);
  const usedBitsInLastByte = header.blockCount % 8;
  const paddingMask = usedBitsInLastByte === 0 ? 0 : 0xff >> usedBitsInLastByte;
  const recordCount = header.frameCount + 1;

  const records = [];
  let offset = HEADER_SIZE;
  for (let index = 0; index < recordCount; index++) {
    const name = index === header.frameCount ? `closing frame record ${index}` : `frame record ${index}`;
    if (offset === bytes.length) {
      throw new VeltFormatError(offset, `the file ends before ${name} (${recordCount} records expected)`);
    }
    if (bytes.length - offset < mapSize) {
      throw new VeltFormatError(bytes.length, `the file ends inside the change map of ${name}`);
    }
    const lastMapByte = offset + mapSize - 1;
    if ((bytes[lastMapByte] & paddingMask) !== 0) {
      throw new VeltFormatError(lastMapByte, `padding bits of the change map of ${name} are not 0`);
    }
    let changedBlocks = 0;
    for (let i = offset; i <= lastMapByte; i++) {
      changedBlocks += countBits(bytes[i]);
    }
    if (index === 0 && changedBlocks !== header.blockCount) {
      let missing = offset;
      while (bytes[missing] === (missing === lastMapByte ? 0xff & ~paddingMask : 0xff)) missing++;
      throw new VeltFormatError(missing, 'frame record 0 does not store every block');
    }
    const size = mapSize + changedBlocks * recordSize;
    if (bytes.length - offset < size) {
      throw new VeltFormatError(bytes.length, `the file ends inside the block records of ${name}`);
    }
    records.push({ offset, size, changedBlocks });
    offset += size;
  }
  if (offset !== bytes.length) {
    throw new VeltFormatError(offset, `${bytes.length - offset} bytes follow the closing frame record`);
  }
  return { header, mode, recordSize, records };
}
