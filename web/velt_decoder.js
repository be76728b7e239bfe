// Decodes VELT animations: checks a whole file first, then rebuilds pictures
// record by record, replacing the blocks each change map marks.
// Works the same in the page and under node (no browser or node APIs used).

import { readLayout } from './velt_format.js';
import { decodeBlock } from './velt_blocks.js';

export { BLOCK_MODES, VeltFormatError, readHeader, readLayout, recordSizeOf } from './velt_format.js';
export { decodeBlock } from './velt_blocks.js';

export class VeltAnimation {
  // Throws VeltFormatError (with .offset) when the file is not a complete,
  // well-formed VELT file in this block mode. A file whose header marks no
  // flags is read as opaque whatever mode is asked for.
  constructor(bytes, mode) {
    const layout = readLayout(bytes, mode);
    this.bytes = bytes;
    this.mode = layout.mode;
    this.header = layout.header;
    this.recordSize = layout.recordSize;
    // frames 0..N-1, then the closing record, which gives frame 0 again
    this.records = layout.records;
  }

  get frameCount() {
    return this.header.frameCount;
  }

  // A picture (width x height RGBA, row-major) to apply records to.
  newPicture() {
    return new Uint8ClampedArray(this.header.width * this.header.height * 4);
  }

  // Replaces each block whose change-map bit is set in record `index` by its
  // decoded block record. Applying records 0..k to any picture gives frame k.
  applyRecord(index, picture) {
    const { offset, changedBlocks } = this.records[index];
    const { blockCount, blocksAcross, width } = this.header;
    const mapSize = Math.ceil(blockCount / 8);
    const block = new Uint8Array(64);
    let recordAt = offset + mapSize;
    let left = changedBlocks;
    // padding bits were checked to be 0, so every set bit names a block
    for (let mapByte = 0; left > 0 && mapByte < mapSize; mapByte++) {
      const bits = this.bytes[offset + mapByte];
      for (let bit = 0; bits !== 0 && bit < 8; bit++) {
        if ((bits & (0x80 >> bit)) === 0) continue;
        decodeBlock(this.bytes, recordAt, this.mode, block);
        recordAt += this.recordSize;
        left--;
        const k = mapByte * 8 + bit;
        const x = (k % blocksAcross) * 4;
        const y = Math.floor(k / blocksAcross) * 4;
        for (let row = 0; row < 4; row++) {
          picture.set(block.subarray(row * 16, row * 16 + 16), ((y + row) * width + x) * 4);
        }
      }
    }
  }

  // The picture after records 0..index, decoded from the start.
  pictureAt(index) {
    const picture = this.newPicture();
    for (let i = 0; i <= index; i++) this.applyRecord(i, picture);
    return picture;
  }
}
