// Moves through an animation's frame records as a looping player does and
// keeps the picture of the record in hand.
//
// Records 0..N-1 give frames 0..N-1 and the closing record N gives frame 0
// again, so the loop after record N goes on with record 1.

// Memory for copies of passed pictures, so that stepping back decodes from
// the nearest copy instead of from record 0.
const DEFAULT_SNAPSHOT_BYTES = 64 * 1024 * 1024;

export class FrameStepper {
  constructor(animation, { snapshotBytes = DEFAULT_SNAPSHOT_BYTES } = {}) {
    this.animation = animation;
    this.picture = animation.newPicture();
    this.position = 0;
    // the picture after record i is the same however playback reached i,
    // so copies taken at every snapshotEvery-th record stay valid
    const copies = Math.max(1, Math.floor(snapshotBytes / this.picture.length));
    this.snapshotEvery = Math.max(1, Math.ceil((animation.frameCount + 1) / copies));
    this.snapshots = new Map();
    animation.applyRecord(0, this.picture);
  }

  get frameCount() {
    return this.animation.frameCount;
  }

  // The frame the current picture shows.
  get frameNumber() {
    return this.position === this.frameCount ? 0 : this.position;
  }

  get atClosingRecord() {
    return this.position === this.frameCount;
  }

  // What the current record costs in the file.
  get recordStats() {
    const { changedBlocks, size } = this.animation.records[this.position];
    return { record: this.position, changedBlocks, bytes: size };
  }

  forward() {
    this.#apply(this.position < this.frameCount ? this.position + 1 : 1);
  }

  // Back from frame 0 wraps round to the last frame. Records only hold
  // changes, so going back decodes again from an earlier picture.
  back() {
    this.seek(this.position > 0 ? this.position - 1 : this.frameCount - 1);
  }

  seek(index) {
    let start = index - (index % this.snapshotEvery);
    while (start > 0 && !this.snapshots.has(start)) start -= this.snapshotEvery;
    if (start > 0) {
      this.picture.set(this.snapshots.get(start));
      this.position = start;
    } else {
      this.#apply(0);
    }
    for (let i = this.position + 1; i <= index; i++) this.#apply(i);
  }

  #apply(index) {
    this.animation.applyRecord(index, this.picture);
    this.position = index;
    if (index > 0 && index % this.snapshotEvery === 0 && !this.snapshots.has(index)) {
      this.snapshots.set(index, this.picture.slice());
    }
  }
}
