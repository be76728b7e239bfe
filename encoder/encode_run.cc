// The encoding run: frame discovery, validation, the frame loop and the file
// header, around the per-block work.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "block_encoding.h"
#include "change_map.h"
#include "container.h"
#include "png_decoder.h"
#include "velt_encoder.h"

namespace {

enum {
  FRAME_PATH_SIZE = 256,
  // frame numbers stop here so that the count always fits the header
  LAST_FRAME_NUMBER = 65534,
  MAX_FRAME_COUNT = 65535,
};

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
  uint8_t header[HEADER_SIZE];
  char frame_path[FRAME_PATH_SIZE];
  int32_t frame_counter;
  bool closing_taken;
  bool closing_is_not_first;
  Image current;
  Image previous;
  int32_t result;
  uint8_t change_flags[MAX_BLOCK_COUNT];
  uint8_t change_map[MAX_CHANGE_MAP_SIZE];
  uint8_t record[MAX_RECORD_SIZE];
  BlockState block;
};

EncodingRun run;

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

// The first failure decides the run's result; later ones only add messages.
void fail(int32_t code) {
  if (run.result == VELT_OK) run.result = code;
}

// Decodes `run.frame_path` into run.current. A failed decode leaves an empty
// 0 x 0 image whatever the decoder filled in before it stopped.
unsigned decode_current_frame() {
  unsigned error = lodepng_decode32_file(&run.current.pixels, &run.current.width,
                                         &run.current.height, run.frame_path);
  if (error != 0) release(&run.current);
  return error;
}

// Loads frame `number`. Frame numbers past the last one, and numbers above 0
// of a pattern without 'X', are missing frames. Returns the decoder's error,
// LODEPNG_CANNOT_OPEN for a missing frame, or -1 when the path does not fit.
int load_frame(int32_t number) {
  if (number > LAST_FRAME_NUMBER || (number > 0 && !run.pattern_has_number)) {
    run.frame_path[0] = '\0';
    return LODEPNG_CANNOT_OPEN;
  }
  if (!expand_frame_pattern(run.pattern, number, run.frame_path)) return -1;
  return static_cast<int>(decode_current_frame());
}

void write_bytes(const void* bytes, size_t size) { fwrite(bytes, 1, size, run.out); }

void encode_frame_blocks() {
  const Image& image = run.current;
  uint32_t blocks_across = image.width / 4;
  for (uint32_t y = 0; y < image.height; y += 4) {
    for (uint32_t x = 0; x < image.width; x += 4) {
      if (run.change_flags[(y / 4) * blocks_across + x / 4] == 0) continue;
      int size = encode_block(&run.block, image.pixels, image.width, x, y, run.mode, run.record);
      write_bytes(run.record, static_cast<size_t>(size));
    }
  }
}

// Writes the final header and closes the output; the frame count is the
// number of source frames whose records are in the file.
int32_t finish(int32_t frame_count) {
  if (frame_count > MAX_FRAME_COUNT) printf("Frame num overflow！");
  set_header_frame_count(run.header, static_cast<uint16_t>(frame_count & 0xFFFF));
  if (fseek(run.out, 0, SEEK_SET) != 0) {
    puts("Failed to seek to position");
    fail(VELT_ERR_WRITE);
  }
  write_bytes(run.header, HEADER_SIZE);
  release(&run.previous);
  release(&run.current);
  bool write_failed = ferror(run.out) != 0;
  if (fclose(run.out) != 0) write_failed = true;
  run.out = nullptr;
  if (write_failed) {
    printf("Error!Failed to write %s.\n", run.output_path);
    fail(VELT_ERR_WRITE);
  }
  fflush(stdout);
  return run.result;
}

// Frame 0 could not be loaded: nothing has been written, and nothing is.
int32_t abandon_empty_output(int32_t code) {
  release(&run.current);
  fclose(run.out);
  run.out = nullptr;
  fflush(stdout);
  return code;
}

void report_unreadable_frame(const char* verb, int error) {
  printf("Error!Cannot %s frame %s: %s.\n", verb, run.frame_path,
         lodepng_error_text(static_cast<unsigned>(error)));
}

}  // namespace

int32_t compress_video_wasm(const char* pattern, const char* output, int32_t flags, int32_t fps) {
  puts("compress_video_wasm");
  memset(&run, 0, sizeof run);
  run.pattern = pattern;
  run.output_path = output;
  run.pattern_has_number = false;
  for (const char* p = pattern; *p != '\0'; p++)
    if (*p == 'X') run.pattern_has_number = true;
  run.mode = flags & 3;
  run.rate_code = header_rate_code(fps, flags);

  run.out = fopen(output, "wb");
  if (run.out == nullptr) {
    printf("Error!Cannot open output file %s.\n", output);
    fflush(stdout);
    return VELT_ERR_OPEN_OUTPUT;
  }

  uint32_t first_width = 0;
  uint32_t first_height = 0;
  for (;;) {
    int32_t number = run.frame_counter;
    int error = load_frame(number);
    if (error < 0) {
      puts("Error!Frame path too long.");
      if (number == 0) return abandon_empty_output(VELT_ERR_READ_FRAME);
      fail(VELT_ERR_READ_FRAME);
      return finish(run.frame_counter);
    }
    if (run.current.width % 4 != 0 || run.current.height % 4 != 0) {
      puts("Error!The width and height must be divisible by 4.");
      fail(VELT_ERR_NOT_MULTIPLE_OF_4);
      return finish(run.frame_counter);
    }
    if (error != 0) {
      if (run.closing_taken) return finish(run.frame_counter);
      if (number == 0) {
        report_unreadable_frame("read", error);
        return abandon_empty_output(VELT_ERR_READ_FRAME);
      }
      if (error != LODEPNG_CANNOT_OPEN) {
        report_unreadable_frame("decode", error);
        fail(VELT_ERR_DECODE_FRAME);
      }
      // the sequence has ended: frame 0 again closes the loop
      expand_frame_pattern(run.pattern, 0, run.frame_path);
      run.frame_counter--;
      error = static_cast<int>(decode_current_frame());
      if (error != 0) {
        report_unreadable_frame("read", error);
        fail(VELT_ERR_READ_FRAME);
        return finish(run.frame_counter + 1);
      }
      run.closing_taken = true;
      if (run.frame_counter == 0) run.closing_is_not_first = true;
      number = 0;
    }

    const Image& image = run.current;
    uint32_t blocks_across = image.width / 4;
    uint32_t blocks_down = image.height / 4;
    uint32_t block_count = blocks_across * blocks_down;
    if (run.frame_counter == 0 && !run.closing_is_not_first) {
      set_header_identity(run.header, run.rate_code);
      if ((image.width | image.height) > 1023) {
        printf("Image width and height overflow！");
        fail(VELT_ERR_TOO_LARGE);
        return finish(0);
      }
      set_header_size(run.header, blocks_across, blocks_down);
      write_bytes(run.header, HEADER_SIZE);
      first_width = image.width;
      first_height = image.height;
      memset(run.change_flags, 1, block_count);
    } else {
      if (image.width != first_width || image.height != first_height) {
        printf("Error!Frame %d is %ux%u, but frame 0 is %ux%u.\n", static_cast<int>(number),
               image.width, image.height, first_width, first_height);
        fail(VELT_ERR_SIZE_CHANGED);
        // a closing frame stands for frame 0: the source frames are all in
        return finish(run.closing_taken ? run.frame_counter + 1 : run.frame_counter);
      }
      detect_changes(image.pixels, run.previous.pixels, image.width, image.height,
                     run.change_flags);
    }
    write_bytes(run.change_map, pack_change_map(run.change_flags, block_count, run.change_map));
    encode_frame_blocks();

    release(&run.previous);
    run.previous = run.current;
    run.current = Image{};
    run.frame_counter++;
  }
}
