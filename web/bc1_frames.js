// VELT animations as BC1 texture frames: the 8-byte block records follow BC1's
// palette rules, so a frame can go to a GPU as it is stored, compressed, and
// the GPU decodes it. A picture here is the whole frame as BC1 blocks, 8 bytes
// a block, blocks row-major: an eighth of the frame's RGBA size.
//
// Works the same in the page and under node (no browser or node APIs used).

// A VELT row byte holds pixel column 0 in bits 7..6, a BC1 row byte in bits
// 1..0: the entry for a row byte has its four 2-bit groups in reverse order.
const BC1_ROW = new Uint8Array(256);
for (let row = 0; row < 256; row++) {
  BC1_ROW[row] = ((row & 0x03) << 6) | ((row & 0x0c) << 2) | ((row & 0x30) >> 2) | (row >> 6);
}

export class Bc1Animation {
  // Wraps a VeltAnimation of 8-byte records (opaque or alpha); throws a
  // RangeError for 12-byte records, which have no BC1 equivalent.
  constructor(animation) {
    if (animation.recordSize !== 8) {
      throw new RangeError(`${animation.mode} records are ${animation.recordSize} bytes: only 8-byte records are BC1 blocks`);
    }
    // the file as checked: bytes, mode, header, recordSize, records
    Object.assign(this, animation);
  }

  get frameCount() {
    return this.header.frameCount;
  }

  // A frame of BC1 blocks to apply records to.
  newPicture() {
    return new Uint8Array(this.header.blockCount * 8);
  }

  // Replaces each block whose change-map bit is set in record `index` by its
  // block record: endpoints as stored (both little-endian RGB565, and c0 > c1
  // selects four colours in both), row bytes reordered for BC1.
  applyRecord(index, picture) {
    const bytes = this.bytes;
    const { offset, changedBlocks } = this.records[index];
    const mapSize = Math.ceil(this.header.blockCount / 8);
    let recordAt = offset + mapSize;
    let left = changedBlocks;
    // padding bits were checked to be 0, so every set bit names a block
    for (let mapByte = 0; left > 0 && mapByte < mapSize; mapByte++) {
      const bits = bytes[offset + mapByte];
      if (bits === 0) continue;
      for (let bit = 0; bit < 8; bit++) {
        if ((bits & (0x80 >> bit)) === 0) continue;
        const to = (mapByte * 8 + bit) * 8;
        picture[to] = bytes[recordAt];
        picture[to + 1] = bytes[recordAt + 1];
        picture[to + 2] = bytes[recordAt + 2];
        picture[to + 3] = bytes[recordAt + 3];
        picture[to + 4] = BC1_ROW[bytes[recordAt + 4]];
        picture[to + 5] = BC1_ROW[bytes[recordAt + 5]];
        picture[to + 6] = BC1_ROW[bytes[recordAt + 6]];
        picture[to + 7] = BC1_ROW[bytes[recordAt + 7]];
        recordAt += 8;
        left--;
      }
    }
  }

  // The frame after records 0..index, from the start.
  pictureAt(index) {
    const picture = this.newPicture();
    for (let i = 0; i <= index; i++) this.applyRecord(i, picture);
    return picture;
  }
}
