// GIF decoding: frames composited as a browser shows them, built here with a
// small LZW encoder; hostile files refused or decoded within their bytes.
#include "gif_decode.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Colour k of the global table, and the pixel it draws as 0xRRGGBBAA.
uint32_t rgba(uint32_t k) { return k << 24 | (255 - k) << 16 | ((k * 37) & 255) << 8 | 255; }
const uint32_t kClear = 0;

void put16(Bytes* b, uint32_t v) { b->insert(b->end(), {uint8_t(v), uint8_t(v >> 8)}); }

// The image data of `indices`: the minimum code size, then LZW codes in
// sub-blocks. A full table either sends a clear or, as decoders must
// accept, keeps 12-bit codes without new entries.
Bytes lzw(const Bytes& indices, int min_size, bool clear_when_full = false) {
  const uint32_t clear = 1u << min_size;
  std::map<std::pair<uint32_t, uint8_t>, uint32_t> table;
  uint32_t next = clear + 2, width = min_size + 1, count = 0;
  uint64_t bits = 0;
  Bytes codes;
  auto put = [&](uint32_t code) {
    for (bits |= uint64_t(code) << count, count += width; count >= 8; bits >>= 8, count -= 8) {
      codes.push_back(uint8_t(bits));
    }
  };
  put(clear);
  uint32_t current = indices[0];
  for (size_t i = 1; i < indices.size(); ++i) {
    auto found = table.find({current, indices[i]});
    if (found != table.end()) {
      current = found->second;
      continue;
    }
    put(current);
    if (next < 4096) {
      table[{current, indices[i]}] = next++;
      if (next > (1u << width) && width < 12) width++;  // a step ahead of the decoder
    } else if (clear_when_full) {
      put(clear);
      table.clear();
      next = clear + 2;
      width = min_size + 1;
    }
    current = indices[i];
  }
  put(current);
  put(clear + 1);
  if (count > 0) codes.push_back(uint8_t(bits));
  Bytes data{uint8_t(min_size)};
  for (size_t at = 0; at < codes.size(); at += 255) {
    size_t n = std::min<size_t>(255, codes.size() - at);
    data.push_back(uint8_t(n));
    data.insert(data.end(), codes.begin() + at, codes.begin() + at + n);
  }
  data.push_back(0);
  return data;
}

struct Frame {
  uint16_t left, top, width, height;
  Bytes indices;  // row by row
  int disposal = 0, transparent = -1;
  uint16_t delay = 0;
  bool interlaced = false;
  Bytes local = {};   // a local colour table of RGB triples
  Bytes data = {};    // the image data; lzw(indices, 8) when empty
  Bytes before = {};  // blocks before the frame's graphic control
};

Frame fill(uint16_t left, uint16_t top, uint16_t w, uint16_t h, uint8_t k, int disposal = 0,
           int transparent = -1) {
  Frame f{left, top, w, h, Bytes(size_t(w) * h, k)};
  f.disposal = disposal;
  f.transparent = transparent;
  return f;
}

// A whole file; `table` is the global colour table's entry count (0: none).
Bytes gif(uint16_t w, uint16_t h, const std::vector<Frame>& frames, uint32_t table = 256,
          const Bytes& ending = {0x3B}) {
  Bytes b{'G', 'I', 'F', '8', '9', 'a'};
  put16(&b, w);
  put16(&b, h);
  b.insert(b.end(), {uint8_t(table ? 0x80 | (__builtin_ctz(table) - 1) : 0), 0, 0});
  for (uint32_t k = 0; k < table; ++k)
    b.insert(b.end(), {uint8_t(k), uint8_t(255 - k), uint8_t(k * 37)});
  for (const Frame& f : frames) {
    b.insert(b.end(), f.before.begin(), f.before.end());
    b.insert(b.end(), {0x21, 0xF9, 4, uint8_t(f.disposal << 2 | (f.transparent >= 0))});
    put16(&b, f.delay);
    b.insert(b.end(), {uint8_t(f.transparent), 0, 0x2C});
    for (uint32_t v : {f.left, f.top, f.width, f.height}) put16(&b, v);
    uint32_t local = f.local.size() / 3;
    b.push_back(uint8_t((local ? 0x80 | (__builtin_ctz(local) - 1) : 0) | f.interlaced << 6));
    b.insert(b.end(), f.local.begin(), f.local.end());
    Bytes stored;  // the rows in the order the file keeps them: four passes, or the last alone
    for (int pass = f.interlaced ? 0 : 3; pass < 4; ++pass) {
      const int start[] = {0, 4, 2, f.interlaced}, step[] = {8, 8, 4, 1 + f.interlaced};
      for (int y = start[pass]; y < f.height; y += step[pass]) {
        stored.insert(stored.end(), f.indices.begin() + y * f.width,
                      f.indices.begin() + (y + 1) * f.width);
      }
    }
    const Bytes data = f.data.empty() ? lzw(stored, 8) : f.data;
    b.insert(b.end(), data.begin(), data.end());
  }
  b.insert(b.end(), ending.begin(), ending.end());
  return b;
}

struct Decoded {
  unsigned open_error = 0, frame_error = 0;
  uint32_t width = 0;
  std::vector<Bytes> canvases;
  std::vector<uint16_t> delays;
  uint32_t pixel(size_t frame, uint32_t x, uint32_t y) const {
    const uint8_t* p = &canvases.at(frame)[(size_t(y) * width + x) * 4];
    return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
  }
};

// Every frame's canvas; the file is copied to an allocation of its exact
// size, so that the sanitizer build sees a read past its end.
Decoded decode(const Bytes& file, unsigned max_side = 1024) {
  Decoded out;
  const Bytes exact(file);
  GifDecoder d;
  out.open_error = gif_open(&d, exact.data(), exact.size(), max_side);
  out.width = d.width;
  Bytes canvas(size_t(d.width) * d.height * 4, 0);
  for (uint32_t k = 0; k < d.frame_count && out.frame_error == 0; ++k) {
    out.frame_error = gif_next_frame(&d, canvas.data());
    out.canvases.push_back(canvas);
    out.delays.push_back(gif_frame_delay(&d, k).numerator);
    EXPECT_EQ(gif_frame_delay(&d, k).denominator, 100);
  }
  if (out.open_error == 0 && out.frame_error == 0) {
    EXPECT_EQ(gif_next_frame(&d, canvas.data()), unsigned(GIF_NO_FRAME_LEFT));
  }
  gif_close(&d);
  gif_close(&d);
  return out;
}

Bytes pattern(size_t n, uint32_t modulo, uint32_t seed = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t((seed = seed * 1103515245 + 12345) >> 16) % modulo;
  return b;
}

// The pixel a picture's character stands for: a digit is that colour of the
// global table, '.' transparent, 'K' opaque black, 'L' the local table's 1.
uint32_t drawn(char c) {
  if (c == '.') return 0;
  if (c == 'K') return 0x000000FF;
  if (c == 'L') return 0x28323CFF;
  return rgba(c - '0');
}

TEST(GifDecode, CompositesFramesAsBrowsersShowThem) {
  struct Case {
    std::string why;
    Bytes file;
    std::vector<std::string> pictures;  // each frame's canvas, rows joined by '/'
    Bytes whole = {};                   // or the last canvas's colour indices, every one
    std::vector<uint16_t> delays = {};
  };
  Bytes noise = pattern(128 * 64, 256);
  noise.insert(noise.end(), noise.begin(), noise.end());  // strings from all over the table
  Frame big{0, 0, 128, 128, noise}, big_clear = big, interlaced{0, 0, 5, 11, pattern(55, 256)};
  big_clear.data = lzw(noise, 8, true);
  ASSERT_NE(lzw(noise, 8), big_clear.data);  // the table fills up
  Frame periodic{0, 0, 8, 300, Bytes(2400)}, short_passes{0, 0, 4, 3, pattern(12, 256)};
  for (size_t i = 0; i < periodic.indices.size(); ++i) periodic.indices[i] = uint8_t(i % 13);
  interlaced.interlaced = short_passes.interlaced = true;
  Frame two_colours{0, 0, 16, 16, pattern(256, 4)}, local = fill(1, 1, 2, 1, 1);
  two_colours.data = lzw(two_colours.indices, 2);
  local.local = {10, 20, 30, 40, 50, 60};
  Frame under = fill(0, 0, 3, 1, 2, 0, 9), holes = fill(0, 0, 3, 1, 9, 0, 9);
  under.indices[2] = 9;
  holes.indices[1] = 4;
  Frame delayed = fill(0, 0, 1, 1, 5), after_blocks = fill(0, 0, 1, 1, 8);
  delayed.delay = 65535;
  Frame early = fill(0, 0, 4, 2, 6), past = fill(0, 0, 2, 2, 200);
  early.data = lzw(Bytes(3, 6), 8);  // ends after 3 of its 8 pixels
  past.data = lzw(Bytes(9, 7), 8);   // a pixel more than the rectangle holds
  after_blocks.before = {0x21, 0xFF, 3,  'a', 'b', 'c', 2, 1, 1, 0,  // application
                         0x21, 0xFE, 1,  'x', 0,                     // comment
                         0x21, 0x01, 12, 0,   0,   0,   0, 4, 0, 4, 0, 8, 8, 1, 0, 1, 'y', 0};
  const Frame one = fill(0, 0, 1, 1, 8);
  const std::vector<Case> cases = {
      {"12-bit codes on a full table, no clear", gif(128, 128, {big}), {}, noise},
      {"a clear when the table is full", gif(128, 128, {big_clear}), {}, noise},
      {"interlaced rows in their four passes", gif(5, 11, {interlaced}), {}, interlaced.indices},
      {"interlaced, with a pass of no rows", gif(4, 3, {short_passes}), {}, short_passes.indices},
      {"strings longer than a row", gif(8, 300, {periodic}), {}, periodic.indices},
      {"minimum code size 2", gif(16, 16, {two_colours}, 4), {}, two_colours.indices},
      {"a local table over the global one",
       gif(4, 2, {fill(0, 0, 4, 2, 3), local}),
       {"3333/3333", "3333/3LL3"}},
      {"transparent pixels keep what is under them", gif(3, 1, {under, holes}), {"22.", "24."}},
      {"disposal 1 keeps the frame",
       gif(4, 1, {fill(0, 0, 2, 1, 1, 1), fill(2, 0, 2, 1, 2)}),
       {"11..", "1122"}},
      {"disposal 2 clears the rectangle to transparent",
       gif(4, 1, {fill(0, 0, 4, 1, 1), fill(1, 0, 2, 1, 2, 2), fill(3, 0, 1, 1, 3)}),
       {"1111", "1221", "1..3"}},
      {"disposal 3 restores what was under the frame",
       gif(4, 1, {fill(0, 0, 4, 1, 1), fill(0, 0, 3, 1, 2, 3), fill(3, 0, 1, 1, 3, 3), one}),
       {"1111", "2221", "1113", "8111"}},
      {"disposal 3 on the first frame restores the empty canvas",
       gif(2, 1, {fill(0, 0, 2, 1, 5, 3), fill(1, 0, 1, 1, 6)}),
       {"55", ".6"}},
      {"a rectangle across the canvas edge is clipped, its disposal too",
       gif(4, 2, {fill(0, 0, 4, 2, 1), fill(2, 1, 5, 4, 2, 2), one}),
       {"1111/1111", "1111/1122", "8111/11.."}},
      {"a rectangle wholly outside draws nothing",
       gif(2, 2, {fill(0, 0, 2, 2, 1), fill(2, 0, 3, 3, 2, 2), fill(60000, 60000, 9, 9, 3)}),
       {"11/11", "11/11", "11/11"}},
      {"an index past the colour table draws opaque black",
       gif(2, 2, {fill(0, 0, 2, 2, 3)}, 2),
       {"KK/KK"}},
      {"data that ends early leaves the rest as it was",
       gif(4, 2, {fill(0, 0, 4, 2, 1), early}),
       {"1111/1111", "6661/1111"}},
      {"data past the rectangle is not read", gif(2, 2, {past}), {"77/77"}},
      {"delays of 0 and 65535 hundredths are kept",
       gif(1, 1, {one, delayed}),
       {"8", "5"},
       {},
       {0, 65535}},
      {"no trailer after the last frame", gif(1, 1, {one}, 256, {}), {"8"}},
      {"a stray byte after the last frame ends the file", gif(1, 1, {one}, 256, {0, 1}), {"8"}},
      {"application, comment and plain text blocks are skipped",
       gif(1, 1, {fill(0, 0, 1, 1, 3), after_blocks}),
       {"3", "8"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Decoded d = decode(c.file);
    ASSERT_EQ(d.open_error, 0u) << gif_error_text(d.open_error);
    ASSERT_EQ(d.frame_error, 0u) << gif_error_text(d.frame_error);
    if (c.whole.empty()) {
      ASSERT_EQ(d.canvases.size(), c.pictures.size());
    }
    for (size_t k = 0; k < c.pictures.size(); ++k) {
      uint32_t x = 0, y = 0;
      for (char p : c.pictures[k]) {
        if (p == '/') {
          x = 0;
          y++;
          continue;
        }
        EXPECT_EQ(d.pixel(k, x, y), drawn(p)) << "frame " << k << " at " << x << "," << y;
        x++;
      }
    }
    for (size_t i = 0; i < c.whole.size(); ++i) {
      ASSERT_EQ(d.pixel(d.canvases.size() - 1, i % d.width, i / d.width), rgba(c.whole[i])) << i;
    }
    if (!c.delays.empty()) {
      EXPECT_EQ(d.delays, c.delays);
    }
  }
}

TEST(GifDecode, RefusesHostileFilesCleanly) {
  struct Case {
    std::string why;
    Bytes file;
    unsigned open_error, frame_error;
  };
  // 3-bit codes of minimum code size 2: clear, then 7 or 6 with 6 the first free entry
  Frame past = fill(0, 0, 4, 4, 1), next = past, hidden = fill(0, 0, 2, 2, 1);
  past.data = {2, 2, 4 | 7 << 3, 0, 0};
  next.data = {2, 2, 4 | 6 << 3, 0, 0};
  // clear, 1, 1, clear, 7: the bad code comes after the canvas's last row
  const uint32_t codes = 4 | 1 << 3 | 1 << 6 | 4 << 9 | 7 << 12;
  hidden.data = {2, 3, uint8_t(codes), uint8_t(codes >> 8), uint8_t(codes >> 16), 0};
  Frame no_width = fill(1, 0, 0, 2, 1, 3);
  no_width.data = lzw({1}, 8);
  Bytes tiny = gif(1, 1, {fill(0, 0, 1, 1, 0)}, 2, {});
  const Bytes frame(tiny.begin() + 19, tiny.end());
  Bytes many = tiny;
  for (int k = 1; k < 70000; ++k) many.insert(many.end(), frame.begin(), frame.end());
  Bytes bad_size = tiny;
  std::vector<Case> cases = {
      {"an LZW code past the table", gif(4, 4, {past}, 4), 0, GIF_CODE_PAST_TABLE},
      {"the first free entry right after a clear", gif(4, 4, {next}, 4), 0, GIF_CODE_PAST_TABLE},
      {"a bad code below the canvas is never read", gif(2, 1, {hidden}, 4), 0, 0},
      {"a disposal-3 frame of no width", gif(2, 2, {no_width, fill(0, 0, 1, 1, 2)}), 0, 0},
      {"70,000 frames", many, GIF_TOO_MANY_FRAMES, 0},
      {"a 65535 x 65535 canvas", gif(65535, 65535, {fill(0, 0, 1, 1, 0)}), GIF_CANVAS_SIDE, 0},
      {"an empty canvas", gif(0, 5, {fill(0, 0, 1, 1, 0)}), GIF_CANVAS_SIDE, 0},
      {"no colour table", gif(1, 1, {fill(0, 0, 1, 1, 0)}, 0), GIF_NO_COLOUR_TABLE, 0},
      {"no image", gif(1, 1, {}), GIF_NO_FRAMES, 0},
      {"not a GIF", Bytes{'G', 'I', 'F', '9', '0', 'a', 1, 0, 1, 0, 0, 0, 0}, GIF_NOT_GIF, 0},
  };
  for (const uint8_t size : {0, 1, 9}) {
    bad_size[19 + 8 + 10] = size;  // after the table, graphic control and image descriptor
    cases.push_back({"minimum code size " + std::to_string(size), bad_size, GIF_CODE_SIZE, 0});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Decoded d = decode(c.file, 16384);
    EXPECT_EQ(d.open_error, c.open_error) << gif_error_text(d.open_error);
    EXPECT_EQ(d.frame_error, c.frame_error) << gif_error_text(d.frame_error);
  }

  // every prefix of a file with each kind of block opens with a clean error,
  // or decodes the frames it holds whole
  Frame interlaced = fill(0, 0, 3, 9, 1, 3, 2);
  interlaced.interlaced = true;
  interlaced.local = Bytes(12, 70);
  const Bytes whole = gif(4, 9, {fill(1, 1, 2, 2, 1, 2), interlaced, fill(0, 0, 4, 9, 200)}, 4,
                          {0x21, 0xFE, 2, 'h', 'i', 0, 0x3B});
  for (size_t n = 0; n < whole.size(); ++n) {
    SCOPED_TRACE("cut at " + std::to_string(n));
    Decoded d = decode(Bytes(whole.begin(), whole.begin() + n));
    EXPECT_TRUE(d.open_error == GIF_TRUNCATED || d.open_error == GIF_NOT_GIF ||
                d.open_error == GIF_NO_FRAMES || (d.open_error == 0 && d.frame_error == 0))
        << gif_error_text(d.open_error) << ", " << gif_error_text(d.frame_error);
  }
}

}  // namespace
