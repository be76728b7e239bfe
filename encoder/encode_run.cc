// The encoding run: frame discovery, validation, the frame loop and the file
// header, around the per-block work; and the encoding of one part of a run, a
// range of frames whose records another process joins with the other parts.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "animation_input.h"
#include "block_encoding.h"
#include "change_map.h"
#include "container.h"
#include "frame_file.h"
#include "frame_padding.h"
#include "velt_encoder.h"
#include "velt_part_format.h"
#include "visible_change.h"

namespace {

enum { FRAME_PATH_SIZE = 256 };

struct Image {
  unsigned char* pixels;
  unsigned width;
  unsigned height;
};

// State of one run. It lives in fixed storage: the change flags and the
// packed map are sized for the largest frame the header can describe.
struct EncodingRun {
  const char* pattern;
  const char* output_path;
  bool pattern_has_number;
  int mode;
  uint8_t rate_code;
  FILE* out;
  uint8_t header[VELT_HEADER_SIZE];
  char frame_path[FRAME_PATH_SIZE];
  Image current;
  Image previous;
  // With a tolerance, the source each displayed block was made from: what
  // a block's source is measured against to decide whether to store it
  int32_t tolerance;
  Image reference;
  // In a part with a tolerance, the hash of the frames read since the last
  // refresh frame, from which the references come: what chains the parts
  bool hashing_window;
  uint64_t window_hash;
  uint32_t first_width;  // frame 0's size, which every frame must have
  uint32_t first_height;
  uint64_t first_hash;  // frame 0's picture, which the closing record must lead back to
  uint64_t payload_size;  // bytes written after a part's header, and their hash
  uint64_t payload_hash;
  int32_t result;
  RunReport report;
  uint8_t change_flags[VELT_MAX_BLOCK_COUNT];
  uint8_t change_map[VELT_MAX_CHANGE_MAP_SIZE];
  uint8_t record[VELT_MAX_RECORD_SIZE];
  BlockState block;
  int32_t fps;
  uint32_t source_width;  // the last frame loaded, before any padding
  uint32_t source_height;
  // an animation file's frames, once frame 0's file turned out to be one
  bool animated;
  AnimationInput animation;
};

EncodingRun run;
// kept from one run to the next
int32_t tolerance_setting = 0;
int32_t input_kind_setting = VELT_INPUT_FRAMES;
bool pad_setting = false;
uint32_t raw_width_setting = 0, raw_height_setting = 0;

// Writes `number` in decimal ("%d") at `out`; returns the digit count.
int format_decimal(int32_t number, char* out) {
  char digits[12];
  int count = 0;
  uint32_t magnitude = number < 0 ? 0u - static_cast<uint32_t>(number) : static_cast<uint32_t>(number);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  int length = 0;
  if (number < 0) out[length++] = '-';
  while (count > 0) out[length++] = digits[--count];
  return length;
}

}  // namespace

// Fills `frame_path` from `pattern` with every 'X' replaced by `number`.
// Returns false, leaving an empty path, when the result does not fit.
bool expand_frame_pattern(const char* pattern, int32_t number, char frame_path[FRAME_PATH_SIZE]) {
  char digits[12];
  int digit_count = format_decimal(number, digits);
  size_t length = 0;
  for (const char* p = pattern; *p != '\0'; p++) {
    size_t piece = *p == 'X' ? static_cast<size_t>(digit_count) : 1;
    if (length + piece >= FRAME_PATH_SIZE) {
      frame_path[0] = '\0';
      return false;
    }
    if (*p == 'X') {
      memcpy(frame_path + length, digits, piece);
    } else {
      frame_path[length] = *p;
    }
    length += piece;
  }
  frame_path[length] = '\0';
  return true;
}

namespace {

void release(Image* image) {
  free(image->pixels);
  image->pixels = nullptr;
  image->width = 0;
  image->height = 0;
}

// The first failure decides the run's result and the report's reason;
// later ones only add messages.
void fail(int32_t code, const char* reason = "") {
  if (run.result != VELT_OK) return;
  run.result = code;
  snprintf(run.report.reason, RUN_REASON_SIZE, "%s", reason);
}

// The reason "WxH" of an image's size.
const char* size_text(const Image& image) {
  static char text[24];
  snprintf(text, sizeof text, "%ux%u", image.width, image.height);
  return text;
}

enum LoadResult {
  LOADED,   // run.current holds the frame
  MISSING,  // no such frame: the sequence ends before it
  FAILED,   // the frame exists but cannot be used; reported and recorded
};

// With animation input, frame 0's file may be an animation: if it is, the
// run's frames come from it from now on. FRAME_LOADED when it is one or
// is not; otherwise why it could not be read or opened (reported).
FrameFileStatus open_animation(FrameFile* frame) {
  unsigned char* data = nullptr;
  size_t size = 0;
  FrameFileStatus status = read_frame_bytes(run.frame_path, &data, &size, &frame->error_number);
  if (status != FRAME_LOADED) return status;
  AnimationKind kind = animation_kind(data, size);
  if (kind == ANIMATION_NONE) {
    free(data);  // a still picture, read again as a frame
    return FRAME_LOADED;
  }
  AnimationStatus opened = animation_open(&run.animation, kind, data, size, run.fps, VELT_MAX_SIDE);
  run.animated = true;
  if (opened == ANIMATION_OK) return FRAME_LOADED;
  if (opened == ANIMATION_TOO_LARGE) {
    frame->width = run.animation.width;
    frame->height = run.animation.height;
    return FRAME_TOO_LARGE;
  }
  char reason[RUN_REASON_SIZE];
  if (opened == ANIMATION_TOO_LONG) {
    snprintf(reason, sizeof reason, "%u frames held at %d fps, more than 65535",
             run.animation.frames, static_cast<int>(run.animation.rate));
    printf("Error!Too many frames: %s makes %s.\n", run.frame_path, reason);
    fail(VELT_ERR_TOO_LONG, reason);
  } else {
    const char* text = opened == ANIMATION_NO_MEMORY ? strerror(ENOMEM) : run.animation.reason;
    printf("Error!Cannot read frame %s: %s.\n", run.frame_path, text);
    fail(VELT_ERR_READ_FRAME, text);
  }
  return FRAME_UNREADABLE;
}

// Held frame `number` of the animation, copied out of its canvas.
FrameFileStatus load_animation_frame(int32_t number, FrameFile* frame) {
  memset(frame, 0, sizeof *frame);
  if (uint32_t(number) >= run.animation.frames) return FRAME_MISSING;
  if (animation_show(&run.animation, uint32_t(number)) != ANIMATION_OK) return FRAME_UNDECODABLE;
  size_t size = size_t(run.animation.width) * run.animation.height * 4;
  frame->pixels = static_cast<unsigned char*>(malloc(size));
  if (frame->pixels == nullptr) {
    frame->error_number = ENOMEM;
    return FRAME_UNREADABLE;
  }
  memcpy(frame->pixels, run.animation.canvas, size);
  frame->width = run.animation.width;
  frame->height = run.animation.height;
  return FRAME_LOADED;
}

const char* load_reason(FrameFileStatus status, const FrameFile& frame) {
  if (run.animated && status == FRAME_UNDECODABLE) return run.animation.reason;
  return frame_file_reason(status, &frame);
}

// Reports a frame whose header gives a size too large to decode: frame 0's
// as too large, a later frame's as a size other than frame 0's.
void report_too_large(int32_t number, const FrameFile& frame) {
  char reason[RUN_REASON_SIZE];
  if (number == 0) {
    puts("Image width and height overflow！");
    snprintf(reason, sizeof reason, "%ux%u", frame.width, frame.height);
    fail(VELT_ERR_TOO_LARGE, reason);
    return;
  }
  printf("Error!Frame %d is %ux%u, but frame 0 is %ux%u.\n", static_cast<int>(number), frame.width,
         frame.height, run.first_width, run.first_height);
  snprintf(reason, sizeof reason, "%ux%u, but frame 0 is %ux%u", frame.width, frame.height,
           run.first_width, run.first_height);
  fail(VELT_ERR_SIZE_CHANGED, reason);
}

// Loads frame `number` into run.current, padded when asked, and checks that
// its sides are multiples of 4. A pattern without 'X' names frame 0 alone.
// Frame 0 is never missing: it is the animation's first frame and its
// closing one.
LoadResult load_frame(int32_t number) {
  if (number > 0 && !run.pattern_has_number && !run.animated) return MISSING;
  if (!expand_frame_pattern(run.pattern, number, run.frame_path)) {
    puts("Error!Frame path too long.");
    fail(VELT_ERR_READ_FRAME, "its path is too long");
    return FAILED;
  }
  FrameFile frame;
  memset(&frame, 0, sizeof frame);
  FrameFileStatus status = FRAME_LOADED;
  if (number == 0 && !run.animated && input_kind_setting == VELT_INPUT_ANIMATION) {
    status = open_animation(&frame);
    if (status == FRAME_UNREADABLE && run.result != VELT_OK) return FAILED;  // reported
  }
  if (status == FRAME_LOADED) {
    if (run.animated) {
      status = load_animation_frame(number, &frame);
    } else {
      FrameFormat format = {0, 0, VELT_MAX_SIDE, pad_setting};
      if (input_kind_setting == VELT_INPUT_RAW) {
        format.raw_width = raw_width_setting;
        format.raw_height = raw_height_setting;
      }
      status = load_frame_file(run.frame_path, format, &frame);
    }
  }
  if (status == FRAME_MISSING && number > 0) return MISSING;
  if (status == FRAME_TOO_LARGE) {
    report_too_large(number, frame);
    return FAILED;
  }
  if ((status == FRAME_UNDECODABLE || status == FRAME_WRONG_SIZE) && number > 0) {
    printf("Error!Cannot decode frame %s: %s.\n", run.frame_path, load_reason(status, frame));
    fail(VELT_ERR_DECODE_FRAME, load_reason(status, frame));
    return FAILED;
  }
  if (status != FRAME_LOADED) {
    printf("Error!Cannot read frame %s: %s.\n", run.frame_path, load_reason(status, frame));
    fail(VELT_ERR_READ_FRAME, load_reason(status, frame));
    return FAILED;
  }
  run.source_width = frame.width;
  run.source_height = frame.height;
  if ((run.animated || pad_setting) &&
      !pad_to_blocks(&frame.pixels, &frame.width, &frame.height,
                     (run.mode & VELT_MODE_ALPHA_AWARE) != 0)) {
    free(frame.pixels);
    printf("Error!Cannot read frame %s: %s.\n", run.frame_path, strerror(ENOMEM));
    fail(VELT_ERR_READ_FRAME, strerror(ENOMEM));
    return FAILED;
  }
  run.current = Image{frame.pixels, frame.width, frame.height};
  if (frame.width % 4 != 0 || frame.height % 4 != 0) {
    // the fixed message as it stands: the frame's size is in the report
    puts("Error!The width and height must be divisible by 4.");
    fail(VELT_ERR_NOT_MULTIPLE_OF_4, size_text(run.current));
    release(&run.current);
    return FAILED;
  }
  return LOADED;
}

// The hash that chains parts and tells frame 0 read again from the frame 0
// encoded first: the image's size, then its pixels.
uint64_t image_hash(const Image& image) {
  if (image.pixels == nullptr) return 0;
  uint8_t size[8];
  velt_part_put32(size, image.width);
  velt_part_put32(size + 4, image.height);
  uint64_t hash = velt_part_hash(VELT_PART_HASH_START, size, sizeof size);
  return velt_part_hash(hash, image.pixels, uint64_t(image.width) * image.height * 4);
}

// Adds run.current, frame `number`, to the window hash when the part keeps
// one: a refresh frame starts it again.
void add_to_window(int32_t number) {
  if (!run.hashing_window) return;
  uint64_t hash = image_hash(run.current);
  if (velt_is_refresh_frame(number)) {
    run.window_hash = hash;
    return;
  }
  uint8_t bytes[8];
  velt_part_put64(bytes, hash);
  run.window_hash = velt_part_hash(run.window_hash, bytes, sizeof bytes);
}

// The hash that chains a part to the next: of the frames the next part's
// records are measured against. Without a tolerance that is frame `image`
// alone; with one, every frame since the last refresh frame.
uint64_t chain_hash(const Image& image) {
  return run.hashing_window ? run.window_hash : image_hash(image);
}

// Writes to the output; the bytes after the header count towards the part's
// payload size and hash.
void write_bytes(const void* bytes, size_t size) {
  fwrite(bytes, 1, size, run.out);
  run.payload_size += size;
  run.payload_hash = velt_part_hash(run.payload_hash, static_cast<const uint8_t*>(bytes), size);
}

// Makes run.current the frame that the next record is measured against,
// without writing a record of it.
void keep_as_previous() {
  release(&run.previous);
  run.previous = run.current;
  run.current = Image{};
}

// Which blocks a frame record stores.
enum FrameKind {
  FIRST_FRAME,    // frame 0: every block
  LATER_FRAME,    // the changed blocks
  REFRESH_FRAME,  // with a tolerance, every block that looks different at all
};

// The kind of the record of frame `number` (0 for the closing record).
FrameKind kind_of_frame(int32_t number, bool closing) {
  if (run.tolerance == 0) return LATER_FRAME;
  return closing || velt_is_refresh_frame(number) ? REFRESH_FRAME : LATER_FRAME;
}

// Makes run.current every block's reference.
void set_all_references() {
  size_t size = size_t(run.current.width) * run.current.height * 4;
  memcpy(run.reference.pixels, run.current.pixels, size);
}

// Fills run.change_flags for run.current's record. With a tolerance, the
// references move on to the blocks it stores: all of them after a first or
// refresh frame, which becomes every block's reference.
void choose_blocks(FrameKind kind) {
  const Image& image = run.current;
  uint32_t block_count = (image.width / 4) * (image.height / 4);
  if (kind == FIRST_FRAME) {
    memset(run.change_flags, 1, block_count);
    if (run.tolerance != 0) set_all_references();
  } else if (run.tolerance == 0) {
    detect_changes(image.pixels, run.previous.pixels, image.width, image.height,
                   run.change_flags);
  } else {
    bool alpha_aware = (run.mode & VELT_MODE_ALPHA_AWARE) != 0;
    int32_t tolerance = kind == REFRESH_FRAME ? 0 : run.tolerance;
    detect_visible_changes(image.pixels, run.reference.pixels, image.width, image.height,
                           alpha_aware, tolerance, run.change_flags);
    if (kind == REFRESH_FRAME) {
      set_all_references();
    } else {
      update_references(image.pixels, run.reference.pixels, image.width, image.height,
                        run.change_flags);
    }
  }
}

// Writes run.current's frame record: the change map, then a record for each
// flagged block. run.current then becomes run.previous.
void encode_frame(FrameKind kind) {
  const Image& image = run.current;
  uint32_t blocks_across = image.width / 4;
  uint32_t block_count = blocks_across * (image.height / 4);
  choose_blocks(kind);
  write_bytes(run.change_map, pack_change_map(run.change_flags, block_count, run.change_map));
  for (uint32_t y = 0; y < image.height; y += 4) {
    for (uint32_t x = 0; x < image.width; x += 4) {
      if (run.change_flags[(y / 4) * blocks_across + x / 4] == 0) continue;
      int size = encode_block(&run.block, image.pixels, image.width, x, y, run.mode, run.record);
      write_bytes(run.record, static_cast<size_t>(size));
    }
  }
  keep_as_previous();
}

// True when run.current has frame 0's size; reports it otherwise.
bool has_first_size(int32_t number, bool closing) {
  const Image& now = run.current;
  if (now.width == run.first_width && now.height == run.first_height) return true;
  if (closing) {
    printf("Error!Frame 0 changed size during the run: it is %ux%u now, %ux%u before.\n",
           now.width, now.height, run.first_width, run.first_height);
  } else {
    printf("Error!Frame %d is %ux%u, but frame 0 is %ux%u.\n", static_cast<int>(number), now.width,
           now.height, run.first_width, run.first_height);
  }
  char reason[RUN_REASON_SIZE];
  snprintf(reason, sizeof reason, "%ux%u, but frame 0 is %ux%u", now.width, now.height,
           run.first_width, run.first_height);
  fail(VELT_ERR_SIZE_CHANGED, reason);
  release(&run.current);
  return false;
}

int32_t end_run() {
  release(&run.previous);
  release(&run.current);
  release(&run.reference);
  if (run.animated) animation_close(&run.animation);
  run.animated = false;
  fflush(stdout);
  run.report.result = run.result;
  return run.result;
}

// Frame 0 could not be encoded: the file is left unfinished, and the host
// does not keep it.
int32_t abandon_output() {
  fclose(run.out);
  run.out = nullptr;
  return end_run();
}

// Sets up the run's state for reading the frames of `pattern` as a run with
// `flags` and `fps` does.
void begin_reading(const char* pattern, int32_t flags, int32_t fps) {
  release(&run.previous);
  release(&run.current);
  release(&run.reference);
  if (run.animated) animation_close(&run.animation);
  memset(&run, 0, sizeof run);
  run.report.failing_frame = -1;
  run.pattern = pattern;
  run.pattern_has_number = false;
  for (const char* p = pattern; *p != '\0'; p++)
    if (*p == 'X') run.pattern_has_number = true;
  run.mode = flags & VELT_MODE_BITS;
  run.rate_code = header_rate_code(fps, flags);
  run.payload_hash = VELT_PART_HASH_START;
  run.tolerance = tolerance_setting;
  run.fps = fps;
}

// Sets up the run's state for `pattern`, `output`, `flags` and `fps`, and
// opens the output; false (reported) when it cannot be opened.
bool begin_run(const char* pattern, const char* output, int32_t flags, int32_t fps) {
  puts("compress_video_wasm");
  begin_reading(pattern, flags, fps);
  run.output_path = output;
  run.out = fopen(output, "wb");
  if (run.out != nullptr) return true;
  printf("Error!Cannot open output file %s.\n", output);
  fail(VELT_ERR_OPEN_OUTPUT);
  return false;
}

// Loads frame 0 into run.current and fills the file header from it; false
// (reported, frame 0 failing) when it cannot be used.
bool load_first_frame() {
  if (load_frame(0) != LOADED) {
    run.report.failing_frame = 0;
    return false;
  }
  set_header_identity(run.header, run.rate_code);
  // the sides are multiples of 4 by now: above 1020 means 1024 or more
  if (run.current.width > VELT_MAX_SIDE || run.current.height > VELT_MAX_SIDE) {
    puts("Image width and height overflow！");
    fail(VELT_ERR_TOO_LARGE, size_text(run.current));
    run.report.failing_frame = 0;
    return false;
  }
  run.first_width = run.current.width;
  run.first_height = run.current.height;
  run.first_hash = image_hash(run.current);
  if (run.tolerance != 0) {
    // the references: one frame, made once for the whole run
    size_t size = size_t(run.current.width) * run.current.height * 4;
    run.reference = Image{static_cast<unsigned char*>(malloc(size)), run.current.width,
                          run.current.height};
    if (run.reference.pixels == nullptr) {
      printf("Error!Cannot read frame %s: %s.\n", run.frame_path, strerror(ENOMEM));
      fail(VELT_ERR_READ_FRAME, strerror(ENOMEM));
      run.report.failing_frame = 0;
      return false;
    }
  }
  set_header_size(run.header, run.current.width / 4, run.current.height / 4);
  return true;
}

// Encodes frames `from` .. `end` - 1 against the frame before each, up to the
// first missing one; a frame that cannot be used ends them just the same, and
// the failure is reported. Returns the first frame not encoded.
int32_t encode_frames(int32_t from, int32_t end) {
  int32_t number = from;
  for (; number < end && !ferror(run.out); number++) {
    LoadResult loaded = load_frame(number);
    if (loaded == MISSING) break;
    if (loaded == FAILED || !has_first_size(number, false)) {
      run.report.failing_frame = number;
      break;
    }
    add_to_window(number);
    encode_frame(kind_of_frame(number, false));
  }
  return number;
}

// The closing record: frame 0 again, as the changes from the last frame.
// Returns false when it could not be written.
// Frame 0 is read again for it: a file replaced during the run would make
// the loop jump to another picture, so it must be the frame 0 encoded first.
bool write_closing_record() {
  if (ferror(run.out)) return false;
  if (load_frame(0) == LOADED && has_first_size(0, true)) {
    if (image_hash(run.current) == run.first_hash) {
      encode_frame(kind_of_frame(0, true));
      return true;
    }
    printf("Error!Frame 0 changed during the run: %s is not the picture encoded first.\n",
           run.frame_path);
    fail(VELT_ERR_FRAME_CHANGED, "read again for the closing record, it is another picture");
    release(&run.current);
  }
  if (run.report.failing_frame < 0) run.report.failing_frame = 0;
  return false;
}

// Writes `header` (of `size` bytes) at the start of the output and closes it.
// True when every write, the seek back and the close succeeded.
bool close_with_header(const uint8_t* header, size_t size) {
  bool written = fflush(run.out) == 0;
  bool seeked = written && fseek(run.out, 0, SEEK_SET) == 0;
  if (written && !seeked) {
    puts("Failed to seek to position");
    fail(VELT_ERR_WRITE);
  }
  if (seeked) fwrite(header, 1, size, run.out);
  if (ferror(run.out)) written = false;
  if (fclose(run.out) != 0) written = false;
  run.out = nullptr;
  if (!written) {
    printf("Error!Failed to write %s.\n", run.output_path);
    fail(VELT_ERR_WRITE);
  }
  return written && seeked;
}

// Writes the final header with the count of source frames and closes the
// output. The file is complete when the closing record was written and every
// write, the seek back to the header and the close succeeded.
int32_t finish(int32_t frame_count, bool closing_written) {
  set_header_frame_count(run.header, static_cast<uint16_t>(frame_count));
  bool closed = close_with_header(run.header, VELT_HEADER_SIZE);
  run.report.frames_encoded = frame_count;
  run.report.file_complete = closing_written && closed ? 1 : 0;
  return end_run();
}

// The part's header, once its records are written: frames `first` .. `end` -
// 1, the closing record when `closing`, the run's result, and the hash of the
// whole part.
void fill_part_header(uint8_t* part, int32_t first, int32_t end, bool closing,
                      uint64_t frame0_hash, uint64_t before_hash, uint64_t last_hash) {
  memset(part, 0, VELT_PART_HEADER_SIZE);
  memcpy(part + VELT_PART_OFFSET_MAGIC, VELT_PART_MAGIC, VELT_PART_MAGIC_SIZE);
  velt_part_put32(part + VELT_PART_OFFSET_VERSION, VELT_PART_VERSION);
  velt_part_put32(part + VELT_PART_OFFSET_MODE, static_cast<uint32_t>(run.mode));
  memcpy(part + VELT_PART_OFFSET_HEADER, run.header, VELT_HEADER_SIZE);
  velt_part_put32(part + VELT_PART_OFFSET_FIRST, static_cast<uint32_t>(first));
  velt_part_put32(part + VELT_PART_OFFSET_END, static_cast<uint32_t>(end));
  velt_part_put32(part + VELT_PART_OFFSET_CLOSING, closing ? 1 : 0);
  velt_part_put32(part + VELT_PART_OFFSET_RESULT, static_cast<uint32_t>(run.result));
  velt_part_put32(part + VELT_PART_OFFSET_FAILING, static_cast<uint32_t>(run.report.failing_frame));
  velt_part_put64(part + VELT_PART_OFFSET_FRAME0_HASH, frame0_hash);
  velt_part_put64(part + VELT_PART_OFFSET_BEFORE_HASH, before_hash);
  velt_part_put64(part + VELT_PART_OFFSET_LAST_HASH, last_hash);
  velt_part_put64(part + VELT_PART_OFFSET_PAYLOAD_SIZE, run.payload_size);
  velt_part_put32(part + VELT_PART_OFFSET_TOLERANCE, static_cast<uint32_t>(run.tolerance));
  velt_part_put32(part + VELT_PART_OFFSET_REFRESH, VELT_REFRESH_INTERVAL);
  snprintf(reinterpret_cast<char*>(part + VELT_PART_OFFSET_REASON), VELT_PART_REASON_SIZE, "%s",
           run.report.reason);
  // last: the hash covers every other field, its own still zero
  velt_part_put64(part + VELT_PART_OFFSET_HASH, velt_part_file_hash(run.payload_hash, part));
}

// Reads what the records of a part that starts at frame `first` are measured
// against, leaving frame `first` - 1 in run.current: that frame, and with a
// tolerance, the references the frames before it leave, from the last
// refresh frame on. The part's frames follow them: one that is missing is a
// failure (reported), not the end of the frames.
bool read_frames_before(int32_t first) {
  for (int32_t number = velt_part_first_read(first, run.tolerance); number < first; number++) {
    LoadResult loaded = load_frame(number);
    if (loaded == MISSING) {
      printf("Error!Cannot read frame %s: it is missing.\n", run.frame_path);
      fail(VELT_ERR_READ_FRAME, strerror(ENOENT));
    }
    if (loaded != LOADED || !has_first_size(number, false)) {
      run.report.failing_frame = number;
      return false;
    }
    add_to_window(number);
    // the references as the run that stores this frame leaves them
    if (run.tolerance != 0 && velt_is_refresh_frame(number)) {
      set_all_references();
    } else if (run.tolerance != 0) {
      choose_blocks(LATER_FRAME);
    }
    if (number < first - 1) release(&run.current);
  }
  return true;
}

}  // namespace

int32_t compress_video_wasm(const char* pattern, const char* output, int32_t flags, int32_t fps) {
  if (!begin_run(pattern, output, flags, fps)) return end_run();

  // frame 0: the header, then every block
  if (!load_first_frame()) return abandon_output();
  write_bytes(run.header, VELT_HEADER_SIZE);
  encode_frame(FIRST_FRAME);

  // frames 1, 2, ... up to the first missing one; the header's count is 16
  // bits, so frame 65535 is one too many
  int32_t end = encode_frames(1, VELT_MAX_FRAME_COUNT);
  bool too_many = false;
  if (end == VELT_MAX_FRAME_COUNT) {
    expand_frame_pattern(run.pattern, end, run.frame_path);
    too_many = frame_file_exists(run.frame_path);
  }

  bool closing_written = write_closing_record();
  int32_t result = finish(end, closing_written);
  if (too_many && result == VELT_OK) {
    puts("Error!Too many frames: frame 65535 and later were not encoded.");
    fail(VELT_ERR_TOO_MANY_FRAMES);
    fflush(stdout);
    run.report.failing_frame = VELT_MAX_FRAME_COUNT;
    result = run.report.result = run.result;
  }
  return result;
}

int32_t encode_part(const char* pattern, const char* output, int32_t flags, int32_t fps,
                    int32_t first, int32_t end, int32_t closing) {
  if (!begin_run(pattern, output, flags, fps)) return end_run();
  if (first < 0 || end < first || end > VELT_MAX_FRAME_COUNT || (end == 0 && closing != 0)) {
    puts("Error!Not a range of frames.");
    fail(VELT_ERR_PART_RANGE);
    return abandon_output();
  }

  // frame 0 sets the size every frame must have, and the closing record
  run.hashing_window = run.tolerance != 0;
  if (!load_first_frame()) return abandon_output();
  uint64_t frame0_hash = run.first_hash;
  uint8_t part[VELT_PART_HEADER_SIZE];
  memset(part, 0, sizeof part);
  fwrite(part, 1, sizeof part, run.out);  // in place of the header, written last

  // the frame the range's first record is measured against
  uint64_t before_hash = 0;
  int32_t from = first;
  if (first == 0 && end > 0) {
    add_to_window(0);
    encode_frame(FIRST_FRAME);
    from = 1;
  } else if (first == 0) {
    release(&run.current);
  } else {
    release(&run.current);
    if (!read_frames_before(first)) return abandon_output();
    before_hash = chain_hash(run.current);
    keep_as_previous();
  }

  // the range, up to a missing or failing frame; either ends the sequence
  // there, as in a single run, so the part then ends with the closing record
  int32_t stop = end > from ? encode_frames(from, end) : end;
  uint64_t last_hash = chain_hash(run.previous);
  bool wants_closing = closing != 0 || stop < end;
  bool closing_written = wants_closing && write_closing_record();

  fill_part_header(part, first, stop, closing_written, frame0_hash, before_hash, last_hash);
  bool closed = close_with_header(part, sizeof part);
  run.report.frames_encoded = stop - first;
  run.report.file_complete = closed && closing_written == wants_closing ? 1 : 0;
  return end_run();
}

const RunReport* last_run_report(void) { return &run.report; }

int32_t set_tolerance(int32_t levels) {
  if (levels < 0 || levels > VELT_MAX_TOLERANCE) return -1;
  tolerance_setting = levels;
  return 0;
}

int32_t set_input(int32_t kind, int32_t pad, int32_t raw_width, int32_t raw_height) {
  if (kind < VELT_INPUT_FRAMES || kind > VELT_INPUT_RAW || (pad != 0 && pad != 1)) return -1;
  if (kind == VELT_INPUT_RAW && (raw_width < 1 || raw_height < 1 ||
                                 padded_side(uint32_t(raw_width)) > VELT_MAX_SIDE ||
                                 padded_side(uint32_t(raw_height)) > VELT_MAX_SIDE))
    return -1;
  input_kind_setting = kind;
  pad_setting = pad != 0;
  raw_width_setting = kind == VELT_INPUT_RAW ? uint32_t(raw_width) : 0;
  raw_height_setting = kind == VELT_INPUT_RAW ? uint32_t(raw_height) : 0;
  return 0;
}

namespace {

InputReport input_report;
SourceFrame source_report;
// the pattern source_frame reads, kept for the calls that follow
char source_pattern[1024];
int32_t source_flags, source_fps;
bool source_open = false;

int32_t source_kind() {
  if (run.animated) return run.animation.kind == ANIMATION_GIF ? VELT_SOURCE_GIF : VELT_SOURCE_APNG;
  return input_kind_setting == VELT_INPUT_RAW ? VELT_SOURCE_RAW : VELT_SOURCE_PNG;
}

}  // namespace

const InputReport* probe_input(const char* pattern, int32_t flags, int32_t fps) {
  source_open = false;
  begin_reading(pattern, flags, fps);
  memset(&input_report, 0, sizeof input_report);
  LoadResult loaded = load_frame(0);
  if (loaded == LOADED &&
      (run.current.width > VELT_MAX_SIDE || run.current.height > VELT_MAX_SIDE)) {
    puts("Image width and height overflow！");
    fail(VELT_ERR_TOO_LARGE, size_text(run.current));
  }
  input_report.result = run.result;
  input_report.source_kind = source_kind();
  input_report.source_width = loaded == LOADED ? run.source_width : 0;
  input_report.source_height = loaded == LOADED ? run.source_height : 0;
  input_report.width = run.current.width;
  input_report.height = run.current.height;
  input_report.source_frames = run.animated ? int32_t(run.animation.source_frames) : 1;
  input_report.rate = run.animated ? run.animation.rate : fps;
  input_report.frames = run.animated ? int32_t(run.animation.frames) : 1;
  input_report.timing_error_us = run.animated ? int32_t(run.animation.timing_error_us) : 0;
  snprintf(input_report.reason, RUN_REASON_SIZE, "%s", run.report.reason);
  end_run();
  return &input_report;
}

const SourceFrame* source_frame(const char* pattern, int32_t flags, int32_t fps, int32_t number) {
  memset(&source_report, 0, sizeof source_report);
  bool same = source_open && strcmp(pattern, source_pattern) == 0 && flags == source_flags &&
              fps == source_fps && run.result == VELT_OK;
  if (!same) {
    source_open = false;
    if (strlen(pattern) >= sizeof source_pattern) {
      source_report.result = VELT_ERR_READ_FRAME;
      snprintf(source_report.reason, RUN_REASON_SIZE, "its path is too long");
      return &source_report;
    }
    memcpy(source_pattern, pattern, strlen(pattern) + 1);
    source_flags = flags;
    source_fps = fps;
    begin_reading(source_pattern, flags, fps);
    // frame 0 first: it tells whether the frames come from an animation
    if (number > 0 && load_frame(0) == LOADED) release(&run.current);
    source_open = run.result == VELT_OK;
  }
  release(&run.current);
  LoadResult loaded = run.result == VELT_OK ? load_frame(number) : FAILED;
  if (loaded == LOADED) {
    source_report.width = run.current.width;
    source_report.height = run.current.height;
    source_report.pixels = uint32_t(reinterpret_cast<uintptr_t>(run.current.pixels));
    source_report.next = run.animated ? int32_t(animation_next_picture(&run.animation, uint32_t(number)))
                                      : number + 1;
  }
  source_report.result = loaded == MISSING ? 1 : run.result;
  snprintf(source_report.reason, RUN_REASON_SIZE, "%s", run.report.reason);
  fflush(stdout);
  return &source_report;
}
