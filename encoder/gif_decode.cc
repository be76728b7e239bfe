#include "gif_decode.h"

#include <stdlib.h>
#include <string.h>

// The LZW table (4096 entries, whatever the file) and one row of the widest
// frame's colour indices, taken once by gif_open.
//
// An entry's string is kept as its last chunk of 1 to 8 bytes and the entry
// that holds the string before that chunk, so that spelling a string copies
// eight bytes a step rather than one.
struct GifDecodeWork {
  uint8_t chunk[4096][8];  // the string's last (length - 1) % 8 + 1 bytes
  uint16_t prefix[4096];   // the entry whose string precedes that chunk
  uint16_t length[4096];
  uint8_t spill[4096 + 8];   // a string that runs past the end of a row
  uint8_t palette[256 * 4];  // the frame's colours as RGBA
  uint8_t* row;              // a row of indices, as wide as the widest frame, and 8 bytes
};

namespace {

enum { BLOCK_END, BLOCK_OTHER, BLOCK_CONTROL, BLOCK_IMAGE };
const uint16_t NO_TRANSPARENCY = 256;  // above every index
const uint32_t MAX_CODES = 4096;       // 12-bit codes
const uint32_t NO_CODE = 0xFFFF;       // no previous code since a clear

// What one block holds that decoding needs.
struct Block {
  int kind;
  // a graphic control extension
  uint8_t disposal;
  uint16_t delay;
  uint16_t transparent;  // an index, or NO_TRANSPARENCY
  // an image descriptor and its data
  uint32_t left, top, width, height;
  bool interlaced;
  size_t table;  // offset of the local colour table, if table_count > 0
  uint32_t table_count;
  uint8_t min_code_size;
  size_t data;  // the first sub-block of image data
};

uint32_t le16(const unsigned char* p) { return p[0] | (uint32_t)p[1] << 8; }

// Moves *at past the sub-block chain that starts there; false when the file
// ends inside it.
bool skip_sub_blocks(const unsigned char* data, size_t size, size_t* at) {
  size_t p = *at;
  while (p < size) {
    size_t n = data[p];
    if (n == 0) {
      *at = p + 1;
      return true;
    }
    if (n >= size - p) return false;
    p += 1 + n;
  }
  return false;
}

// Reads the block at *at and moves past it. A block that ends the file (the
// trailer, the end of the bytes, or a byte that opens no block) is BLOCK_END
// and does not move *at.
unsigned read_block(const unsigned char* data, size_t size, size_t* at, Block* block) {
  size_t p = *at;
  *block = Block{};
  block->kind = BLOCK_END;
  if (p >= size || (data[p] != 0x21 && data[p] != 0x2C)) return GIF_OK;
  if (data[p] == 0x21) {
    if (size - p < 2) return GIF_TRUNCATED;
    const unsigned char* first = data + p + 2;  // the first sub-block, if any
    p += 2;
    if (!skip_sub_blocks(data, size, &p)) return GIF_TRUNCATED;
    block->kind = BLOCK_OTHER;
    // a graphic control extension's fields, when its first sub-block holds them
    if (data[*at + 1] == 0xF9 && first[0] >= 4) {
      block->kind = BLOCK_CONTROL;
      block->disposal = (first[1] >> 2) & 7;
      block->delay = (uint16_t)le16(first + 2);
      block->transparent = (first[1] & 1) ? first[4] : NO_TRANSPARENCY;
    }
    *at = p;
    return GIF_OK;
  }
  if (size - p < 10) return GIF_TRUNCATED;
  const unsigned char* d = data + p;
  block->kind = BLOCK_IMAGE;
  block->left = le16(d + 1);
  block->top = le16(d + 3);
  block->width = le16(d + 5);
  block->height = le16(d + 7);
  block->interlaced = (d[9] & 0x40) != 0;
  block->table_count = (d[9] & 0x80) ? 2u << (d[9] & 7) : 0;
  p += 10;
  block->table = p;
  if (3 * (size_t)block->table_count > size - p) return GIF_TRUNCATED;
  p += 3 * (size_t)block->table_count;
  if (p >= size) return GIF_TRUNCATED;
  block->min_code_size = data[p++];
  block->data = p;
  if (!skip_sub_blocks(data, size, &p)) return GIF_TRUNCATED;
  *at = p;
  return GIF_OK;
}

// Reads blocks from *at up to and including the next image: *image is that
// image with the graphic control that precedes it (or the defaults), or
// BLOCK_END when the file has no image left.
unsigned read_frame(const unsigned char* data, size_t size, size_t* at, Block* image) {
  Block control = {};
  control.transparent = NO_TRANSPARENCY;
  for (;;) {
    unsigned error = read_block(data, size, at, image);
    if (error != GIF_OK || image->kind == BLOCK_END) return error;
    if (image->kind == BLOCK_CONTROL) control = *image;
    if (image->kind != BLOCK_IMAGE) continue;
    image->disposal = control.disposal;
    image->delay = control.delay;
    image->transparent = control.transparent;
    return GIF_OK;
  }
}

// The part of a frame's rectangle inside the canvas: columns [x0, x1) and
// rows [y0, y1) of the canvas; x0 == x1 and y0 == y1 when it is empty.
struct Clip {
  uint32_t x0, y0, x1, y1;
};

Clip clip(const Block& image, uint32_t width, uint32_t height) {
  Clip c;
  c.x0 = image.left < width ? image.left : width;
  c.y0 = image.top < height ? image.top : height;
  c.x1 = image.left + image.width < width ? image.left + image.width : width;
  c.y1 = image.top + image.height < height ? image.top + image.height : height;
  if (c.x1 <= c.x0 || c.y1 <= c.y0) {
    // empty both ways, so that no row of it is saved or cleared
    c.x1 = c.x0;
    c.y1 = c.y0;
  }
  return c;
}

size_t clip_bytes(const Clip& c) { return (size_t)(c.x1 - c.x0) * (c.y1 - c.y0) * 4; }

// What the walk of a whole file finds.
struct Walk {
  uint32_t frames;
  uint32_t widest;  // the widest frame
  size_t saved;     // the largest canvas area a disposal-3 frame covers, in bytes
};

// Walks the frames from `at` to the end of the file, checking every frame and
// noting each one's delay when `delays` is given.
unsigned walk_frames(const GifDecoder* d, size_t at, uint16_t* delays, Walk* walk) {
  *walk = Walk{0, 0, 0};
  for (;;) {
    Block image;
    unsigned error = read_frame(d->data, d->size, &at, &image);
    if (error != GIF_OK) return error;
    if (image.kind == BLOCK_END) return walk->frames == 0 ? GIF_NO_FRAMES : GIF_OK;
    if (walk->frames == ANIMATION_MAX_FRAMES) return GIF_TOO_MANY_FRAMES;
    if (image.table_count == 0 && d->global_count == 0) return GIF_NO_COLOUR_TABLE;
    if (image.min_code_size < 2 || image.min_code_size > 8) return GIF_CODE_SIZE;
    if (delays != nullptr) delays[walk->frames] = image.delay;
    walk->frames++;
    if (image.width > walk->widest) walk->widest = image.width;
    size_t area = clip_bytes(clip(image, d->width, d->height));
    if (image.disposal == 3 && area > walk->saved) walk->saved = area;
  }
}

// Where the LZW codes of one image come from: its sub-blocks, read as one
// stream of bits, least significant first.
struct BitReader {
  const unsigned char* next;  // the next byte of the current sub-block
  const unsigned char* sub_block_end;
  const unsigned char* end;  // the end of the file
  uint64_t bits;
  unsigned count;
  bool done;  // the terminating sub-block was reached
};

// Tops the reader up to more than 56 bits, or as many as the data still has.
void refill(BitReader* r) {
  while (r->count <= 56) {
    if (r->next == r->sub_block_end) {
      // the next sub-block: its length byte, then its bytes
      if (r->done || r->next == r->end || *r->next == 0 || *r->next >= (size_t)(r->end - r->next)) {
        r->done = true;
        return;
      }
      r->sub_block_end = r->next + 1 + *r->next;
      r->next++;
      continue;
    }
    r->bits |= (uint64_t)*r->next++ << r->count;
    r->count += 8;
  }
}

// Turns rows of colour indices into canvas pixels, in the order the image
// stores its rows (the four passes of an interlaced one).
struct RowWriter {
  unsigned char* canvas;
  uint32_t canvas_width, canvas_height;
  const uint8_t* palette;
  uint32_t transparent;
  uint32_t left, top, height;
  uint32_t from, to;  // the columns of a row that are inside the canvas
  bool interlaced;
  uint32_t pass, y;       // the pass and frame row of the row being decoded
  uint32_t rows_left;     // rows of the frame still to come
  uint32_t visible_rows;  // how many of them are inside the canvas
};

// Draws the row just decoded, of which the first `filled` indices are set,
// and moves to the next; false once no row still to come is inside the canvas.
bool write_row(RowWriter* w, const uint8_t* row, uint32_t filled) {
  uint32_t y = w->top + w->y;
  if (y < w->canvas_height) {
    unsigned char* out = w->canvas + ((size_t)y * w->canvas_width + w->left + w->from) * 4;
    const uint8_t* palette = w->palette;
    const uint8_t* in = row + w->from;
    uint32_t to = filled < w->to ? filled : w->to;
    uint32_t n = to > w->from ? to - w->from : 0;
    if (w->transparent == NO_TRANSPARENCY) {
      for (uint32_t x = 0; x < n; x++) memcpy(out + 4 * x, palette + 4 * in[x], 4);
    } else {
      uint32_t transparent = w->transparent;
      for (uint32_t x = 0; x < n; x++) {
        if (in[x] != transparent) memcpy(out + 4 * x, palette + 4 * in[x], 4);
      }
    }
    w->visible_rows--;
  }
  w->rows_left--;
  if (!w->interlaced) {
    w->y++;
  } else {
    // every 8th row from 0, every 8th from 4, every 4th from 2, every 2nd from 1
    static const uint8_t kStart[4] = {0, 4, 2, 1};
    static const uint8_t kStep[4] = {8, 8, 4, 2};
    w->y += kStep[w->pass];
    while (w->y >= w->height && w->pass < 3) {
      w->pass++;
      w->y = kStart[w->pass];
    }
  }
  return w->rows_left > 0 && w->visible_rows > 0;
}

// Writes the `length` bytes of table entry `code`'s string at `out`, last
// chunk first, and up to 7 bytes of no meaning after them.
inline void spell(const GifDecodeWork* work, uint32_t code, uint32_t length, uint8_t* out) {
  uint32_t at = (length - 1) & ~7u;
  for (;;) {
    memcpy(out + at, work->chunk[code], 8);
    if (at == 0) return;
    at -= 8;
    code = work->prefix[code];
  }
}

// Writes the string of `code` at `out` (with the slack of spell) and returns
// its first byte. The code one past the table is the previous string and
// that string's first byte.
inline uint8_t spell_code(const GifDecodeWork* work, uint32_t code, uint32_t next, uint32_t prev,
                          uint32_t length, uint8_t* out) {
  if (code < next) {
    spell(work, code, length, out);
  } else {
    spell(work, prev, length - 1, out);
    out[length - 1] = out[0];
  }
  return out[0];
}

// Decodes an image's LZW codes into rows of indices and hands each full row
// to the writer, until the end code, the end of the data, or the last row
// inside the canvas.
unsigned decode_image(GifDecodeWork* work, const unsigned char* data, size_t size,
                      const Block& image, RowWriter* writer) {
  const uint32_t clear = 1u << image.min_code_size;
  const uint32_t first_width = image.min_code_size + 1u;
  for (uint32_t c = 0; c < clear; c++) {
    work->chunk[c][0] = (uint8_t)c;
    work->length[c] = 1;
  }
  uint32_t next = clear + 2, width = first_width, prev = NO_CODE;
  BitReader reader = {data + image.data, data + image.data, data + size, 0, 0, false};
  uint8_t* row = work->row;
  const uint32_t row_width = image.width;
  uint32_t x = 0;  // where the next string goes in the row
  for (;;) {
    if (reader.count < width) {
      refill(&reader);
      if (reader.count < width) break;
    }
    uint32_t code = (uint32_t)reader.bits & ((1u << width) - 1);
    reader.bits >>= width;
    reader.count -= width;
    if (code == clear) {
      next = clear + 2;
      width = first_width;
      prev = NO_CODE;
      continue;
    }
    if (code == clear + 1) break;
    if (code > next || (code == next && prev == NO_CODE)) return GIF_CODE_PAST_TABLE;
    uint32_t length = code < next ? work->length[code] : work->length[prev] + 1u;
    uint8_t first;
    if (length <= row_width - x) {
      first = spell_code(work, code, next, prev, length, row + x);
      x += length;
      if (x == row_width) {
        x = 0;
        if (!write_row(writer, row, row_width)) return GIF_OK;
      }
    } else {
      // the string runs into the next rows: spelled aside, then copied row by row
      first = spell_code(work, code, next, prev, length, work->spill);
      const uint8_t* from = work->spill;
      while (length > 0) {
        uint32_t n = length < row_width - x ? length : row_width - x;
        memcpy(row + x, from, n);
        from += n;
        length -= n;
        x += n;
        if (x == row_width) {
          x = 0;
          if (!write_row(writer, row, row_width)) return GIF_OK;
        }
      }
    }
    // a full table takes no more entries, and codes stay 12 bits wide until a clear
    if (prev != NO_CODE && next < MAX_CODES) {
      uint32_t before = work->length[prev];
      if (before % 8 == 0) {
        work->prefix[next] = (uint16_t)prev;  // prev's last chunk is full
      } else {
        work->prefix[next] = work->prefix[prev];
        memcpy(work->chunk[next], work->chunk[prev], 8);
      }
      work->chunk[next][before % 8] = first;
      work->length[next] = (uint16_t)(before + 1);
      next++;
      if (next == (1u << width) && width < 12) width++;
    }
    prev = code;
  }
  // the data ended inside a row: draw what it has
  if (x > 0) write_row(writer, row, x);
  return GIF_OK;
}

unsigned fail(GifDecoder* decoder, unsigned error) {
  decoder->error = error;
  return error;
}

}  // namespace

bool gif_signature(const unsigned char* data, size_t size) {
  return size >= 6 && (memcmp(data, "GIF87a", 6) == 0 || memcmp(data, "GIF89a", 6) == 0);
}

unsigned gif_open(GifDecoder* decoder, const unsigned char* data, size_t size, unsigned max_side) {
  GifDecoder* d = decoder;
  memset(d, 0, sizeof *d);
  if (!gif_signature(data, size)) return GIF_NOT_GIF;
  if (size < 13) return GIF_TRUNCATED;
  uint32_t width = le16(data + 6), height = le16(data + 8);
  if (width == 0 || height == 0 || width > max_side || height > max_side) return GIF_CANVAS_SIDE;
  if ((uint64_t)width * height > SIZE_MAX / 4) return GIF_CANVAS_TOO_LARGE;
  d->data = data;
  d->size = size;
  d->width = width;
  d->height = height;
  size_t at = 13;
  if (data[10] & 0x80) {
    d->global_count = 2u << (data[10] & 7);
    d->global_table = at;
    if (3 * (size_t)d->global_count > size - at) {
      gif_close(d);
      return GIF_TRUNCATED;
    }
    at += 3 * (size_t)d->global_count;
  }
  // count first, then take memory for what was counted
  Walk walk;
  unsigned error = walk_frames(d, at, nullptr, &walk);
  if (error == GIF_OK) {
    d->delays = (uint16_t*)malloc(walk.frames * sizeof(uint16_t));
    // zeroed, so that the bytes past a string that spelling copies are never undefined
    d->work = (GifDecodeWork*)calloc(1, sizeof(GifDecodeWork) + walk.widest + 8);
    d->saved = walk.saved > 0 ? (unsigned char*)malloc(walk.saved) : nullptr;
    if (d->delays == nullptr || d->work == nullptr || (walk.saved > 0 && d->saved == nullptr)) {
      error = GIF_OUT_OF_MEMORY;
    }
  }
  if (error == GIF_OK) error = walk_frames(d, at, d->delays, &walk);
  if (error != GIF_OK) {
    gif_close(d);
    return error;
  }
  d->work->row = (uint8_t*)(d->work + 1);
  d->row_capacity = walk.widest;
  d->frame_count = walk.frames;
  d->saved_capacity = walk.saved;
  d->position = at;
  return GIF_OK;
}

FrameDelay gif_frame_delay(const GifDecoder* decoder, uint32_t frame) {
  if (frame >= decoder->frame_count) return FrameDelay{0, 100};
  return FrameDelay{decoder->delays[frame], 100};
}

unsigned gif_next_frame(GifDecoder* decoder, unsigned char* canvas) {
  GifDecoder* d = decoder;
  if (d->error != GIF_OK) return d->error;
  if (d->next_frame >= d->frame_count) return GIF_NO_FRAME_LEFT;
  const size_t stride = (size_t)d->width * 4;

  // what the previous frame leaves behind
  size_t bytes = (size_t)(d->x1 - d->x0) * 4;
  const unsigned char* saved = d->saved;
  for (uint32_t y = d->y0; y < d->y1 && (d->disposal == 2 || d->disposal == 3); y++) {
    unsigned char* to = canvas + y * stride + (size_t)d->x0 * 4;
    if (d->disposal == 2) {
      memset(to, 0, bytes);
    } else {
      memcpy(to, saved, bytes);
      saved += bytes;
    }
  }
  d->disposal = 0;

  Block image;
  unsigned error = read_frame(d->data, d->size, &d->position, &image);
  if (error != GIF_OK) return fail(d, error);
  // the walk in gif_open checked all of this; bytes that changed since are refused
  uint32_t count = image.table_count > 0 ? image.table_count : d->global_count;
  Clip c = clip(image, d->width, d->height);
  if (image.kind != BLOCK_IMAGE || count == 0 || image.min_code_size < 2 ||
      image.min_code_size > 8 || image.width > d->row_capacity ||
      (image.disposal == 3 && clip_bytes(c) > d->saved_capacity)) {
    return fail(d, GIF_CHANGED);
  }
  d->next_frame++;
  d->disposal = image.disposal;
  d->x0 = c.x0;
  d->y0 = c.y0;
  d->x1 = c.x1;
  d->y1 = c.y1;
  bytes = (size_t)(c.x1 - c.x0) * 4;
  unsigned char* keep = d->saved;
  for (uint32_t y = c.y0; y < c.y1 && image.disposal == 3; y++) {
    memcpy(keep, canvas + y * stride + (size_t)c.x0 * 4, bytes);
    keep += bytes;
  }
  if (c.x0 == c.x1) return GIF_OK;  // nothing inside the canvas

  GifDecodeWork* work = d->work;
  const unsigned char* table = d->data + (image.table_count > 0 ? image.table : d->global_table);
  for (uint32_t k = 0; k < 256; k++) {
    // an index past the table's end draws opaque black
    uint8_t* colour = work->palette + 4 * k;
    colour[0] = k < count ? table[3 * k] : 0;
    colour[1] = k < count ? table[3 * k + 1] : 0;
    colour[2] = k < count ? table[3 * k + 2] : 0;
    colour[3] = 255;
  }
  RowWriter writer;
  writer.canvas = canvas;
  writer.canvas_width = d->width;
  writer.canvas_height = d->height;
  writer.palette = work->palette;
  writer.transparent = image.transparent;
  writer.left = image.left;
  writer.top = image.top;
  writer.height = image.height;
  writer.from = c.x0 - image.left;
  writer.to = c.x1 - image.left;
  writer.interlaced = image.interlaced;
  writer.pass = 0;
  writer.y = 0;
  writer.rows_left = image.height;
  writer.visible_rows = c.y1 - c.y0;
  error = decode_image(work, d->data, d->size, image, &writer);
  if (error != GIF_OK) return fail(d, error);
  return GIF_OK;
}

void gif_close(GifDecoder* decoder) {
  free(decoder->delays);
  free(decoder->work);
  free(decoder->saved);
  memset(decoder, 0, sizeof *decoder);
}

const char* gif_error_text(unsigned code) {
  // in the order of GifError
  static const char* const kText[] = {
      "no error",
      "not a GIF file (no GIF87a or GIF89a signature)",
      "truncated: the file ends inside a block",
      "canvas side of 0 or above the size limit",
      "canvas too large for this machine's memory",
      "more frames than an animation may have",
      "no image in the file",
      "a frame has neither a local nor a global colour table",
      "LZW minimum code size outside 2..8",
      "LZW code past the table",
      "out of memory",
      "no frame left to decode",
      "the file's bytes changed after it was opened",
  };
  if (code >= sizeof kText / sizeof kText[0]) return "unknown GIF decoder error";
  return kText[code];
}
