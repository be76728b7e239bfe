// Moves through an animation's frame records as a looping player does and
// keeps the picture of the record in hand.
//
// Records 0..N-1 give frames 0..N-1 and the closing record N gives frame 0
// again, so the loop after record N goes on with record 1.

export class FrameStepper {
  constructor(animation) {
    this.animation = animation;
    this.picture = animation.newPicture();
    this.position = 0;
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
    this.position = this.position < this.frameCount ? this.position + 1 : 1;
    this.animation.applyRecord(this.position, this.picture);
  }

  // Back from frame 0 wraps round to the last frame. Records only hold
  // changes, so going back decodes again from record 0.
  back() {
    this.seek(this.position > 0 ? this.position - 1 : this.frameCount - 1);
  }

  seek(index) {
    for (let i = 0; i <= index; i++) this.animation.applyRecord(i, this.picture);
    this.position = index;
  }
}
