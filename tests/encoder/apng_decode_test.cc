// Animated PNG decoding: frames composited as a browser shows them, every
// malformed structure refused by apng_open with its own code, and each
// frame's image data bounded by the frame's size.
#include "apng_decode.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "apng_writer.h"
#include "png_bomb.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Chunks = std::vector<ApngChunk>;

// The colours of the tests' pictures, one letter each; the last four are
// what compositing makes of the others (exact "over", rounded to nearest).
const std::pair<char, std::array<uint8_t, 4>> kColours[] = {
    {'.', {0, 0, 0, 0}},      {'x', {10, 20, 30, 0}},  // transparent, with a colour
    {'R', {255, 0, 0, 255}},  {'G', {0, 255, 0, 255}},    {'B', {0, 0, 255, 255}},
    {'h', {255, 0, 0, 128}},  {'b', {0, 0, 200, 100}},
    {'p', {128, 0, 127, 255}},  // h over B
    {'m', {184, 0, 56, 178}},   // h over b
    {'n', {112, 0, 112, 178}},  // b over h
    {'H', {255, 0, 0, 192}},    // h over h
};

// A picture drawn as rows of letters separated by '|'.
ApngPicture picture(const std::string& rows) {
  ApngPicture p{uint32_t(std::min(rows.find('|'), rows.size())), 1, {}};
  for (char letter : rows) {
    if (letter == '|') p.height++;
    for (const auto& [name, rgba] : kColours)
      if (name == letter) p.rgba.insert(p.rgba.end(), rgba.begin(), rgba.end());
  }
  return p;
}

// The canvas in letters, '?' for a colour that has none.
std::string letters(const Bytes& rgba, uint32_t width) {
  std::string rows;
  for (size_t i = 0; i < rgba.size(); i += 4) {
    if (i > 0 && i / 4 % width == 0) rows += '|';
    char letter = '?';
    for (const auto& [name, colour] : kColours)
      if (memcmp(colour.data(), &rgba[i], 4) == 0) letter = name;
    rows += letter;
  }
  return rows;
}

enum : uint8_t {
  KEEP = APNG_DISPOSE_NONE,
  CLEAR = APNG_DISPOSE_BACKGROUND,
  RESTORE = APNG_DISPOSE_PREVIOUS,
  SOURCE = APNG_BLEND_SOURCE,
  OVER = APNG_BLEND_OVER,
};

struct Frame {
  const char* picture;
  uint32_t x, y;
  uint8_t dispose, blend;
  const char* canvas;  // after this frame
  uint16_t num = 1, den = 10;
  FrameDelay delay = {1, 10};
};

// The animation of `frames` on a canvas of the first frame's size.
Bytes animation(const ApngFormat& format, const std::vector<Frame>& frames,
                const char* default_image = nullptr) {
  const ApngPicture canvas = picture(frames[0].canvas);
  std::vector<ApngFrameSpec> specs;
  for (const Frame& f : frames)
    specs.push_back({picture(f.picture), f.x, f.y, f.num, f.den, f.dispose, f.blend});
  const ApngPicture first = picture(default_image == nullptr ? "" : default_image);
  Chunks chunks = apng_chunks(canvas.width, canvas.height, format, specs,
                              default_image == nullptr ? nullptr : &first);
  EXPECT_FALSE(chunks.empty());
  return apng_file(chunks);
}

TEST(ApngDecode, CompositesEveryFrameAsShown) {
  const ApngFormat rgba8, palette{3, 8}, rgba16{6, 16}, interlaced{6, 8, true};
  struct Case {
    const char* why;
    ApngFormat format;
    const char* default_image;
    std::vector<Frame> frames;
  };
  const Case cases[] = {
      {"IDAT is frame 0; a region at an offset; delays 0/1, 0/0 and 65535/65535 kept",
       rgba8, nullptr,
       {{"RRR|RRR", 0, 0, KEEP, SOURCE, "RRR|RRR", 0, 1, {0, 1}},
        {"GB", 1, 1, KEEP, SOURCE, "RRR|RGB", 0, 0, {0, 100}},
        {"B", 0, 0, KEEP, OVER, "BRR|RGB", 65535, 65535, {65535, 65535}}}},
      {"the default image is skipped; frame 0 covers a corner", rgba8, "BBB|BBB",
       {{"R", 2, 0, KEEP, SOURCE, "..R|..."}, {"G", 0, 1, KEEP, SOURCE, "..R|G.."}}},
      {"BACKGROUND clears the region to transparent", rgba8, nullptr,
       {{"RR|RR", 0, 0, CLEAR, SOURCE, "RR|RR"},
        {"G", 1, 1, KEEP, SOURCE, "..|.G"},
        {"B", 0, 0, KEEP, SOURCE, "B.|.G"}}},
      {"PREVIOUS restores the region as it was after the previous disposal", rgba8, nullptr,
       {{"RR", 0, 0, KEEP, SOURCE, "RR"},
        {"G", 0, 0, RESTORE, SOURCE, "GR"},
        {"BB", 0, 0, RESTORE, SOURCE, "BB"},
        {"G", 1, 0, KEEP, SOURCE, "RG"}}},
      {"a first frame's PREVIOUS clears", rgba8, nullptr,
       {{"RR", 0, 0, RESTORE, SOURCE, "RR"}, {"G", 1, 0, KEEP, SOURCE, ".G"}}},
      {"OVER with partial alpha; frame 0 replaces; alpha 0 leaves, 255 replaces", rgba8,
       nullptr,
       {{"xhbB", 0, 0, KEEP, OVER, "xhbB"},
        {"hbhh", 0, 0, KEEP, OVER, "hnmp"},
        {"x.R", 1, 0, KEEP, OVER, "hnmR"},
        {"hb", 2, 0, KEEP, SOURCE, "hnhb"}}},
      {"palette with tRNS", palette, nullptr,
       {{"Rh|b.", 0, 0, KEEP, SOURCE, "Rh|b."}, {"h", 1, 0, KEEP, OVER, "RH|b."}}},
      {"16-bit samples", rgba16, nullptr,
       {{"bhB", 0, 0, KEEP, SOURCE, "bhB"}, {"hbh", 0, 0, KEEP, OVER, "mnp"}}},
      {"interlaced frames of two sizes", interlaced, nullptr,
       {{"RGBRG|GBRGB|BRGBR|RGBRG|GBRGB", 0, 0, KEEP, SOURCE, "RGBRG|GBRGB|BRGBR|RGBRG|GBRGB"},
        {"hbB|xRG", 2, 3, KEEP, SOURCE, "RGBRG|GBRGB|BRGBR|RGhbB|GBxRG"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const Bytes file = animation(c.format, c.frames, c.default_image);
    EXPECT_TRUE(apng_signature(file.data(), file.size()));
    ApngDecoder decoder;
    ASSERT_EQ(apng_open(&decoder, file.data(), file.size(), 1020), 0u);
    const ApngPicture size = picture(c.frames[0].canvas);
    EXPECT_EQ(apng_width(&decoder), size.width);
    EXPECT_EQ(apng_height(&decoder), size.height);
    ASSERT_EQ(apng_frame_count(&decoder), c.frames.size());
    Bytes canvas(size_t{size.width} * size.height * 4, 0);
    for (uint32_t i = 0; i < c.frames.size(); ++i) {
      const FrameDelay delay = apng_frame_delay(&decoder, i);
      EXPECT_EQ(delay.numerator, c.frames[i].delay.numerator) << "frame " << i;
      EXPECT_EQ(delay.denominator, c.frames[i].delay.denominator) << "frame " << i;
      ASSERT_EQ(apng_next_frame(&decoder, canvas.data()), 0u) << "frame " << i;
      EXPECT_EQ(letters(canvas, size.width), c.frames[i].canvas) << "frame " << i;
    }
    EXPECT_EQ(apng_next_frame(&decoder, canvas.data()), unsigned(APNG_NO_MORE_FRAMES));
    apng_close(&decoder);
  }
}

// Three frames on a 3x2 canvas: the IDAT chunks, then two of fdAT chunks.
Chunks base_chunks() {
  std::vector<ApngFrameSpec> frames = {
      {picture("RRR|RRR")}, {picture("GB"), 1, 1}, {picture("B"), 0, 0, 1, 10, 0, 1}};
  return apng_chunks(3, 2, ApngFormat{}, frames);
}

// The n-th chunk of `type`.
ApngChunk& nth(Chunks& chunks, const char* type, int n) {
  for (ApngChunk& c : chunks)
    if (c.type == type && n-- == 0) return c;
  abort();
}

// The base animation after `change`, then with the sequence numbers redone
// when `renumber` is set.
template <typename Change>
Bytes changed(Change change, bool renumber = true) {
  Chunks chunks = base_chunks();
  change(chunks);
  if (renumber) apng_renumber(chunks);
  return apng_file(chunks);
}

// The image data of a 2x1 PNG that inflates to 1 MiB.
Bytes bomb_data() {
  const Bytes png = make_png_bomb({2, 1, 6, 8, false}, 1u << 20);
  return Bytes(png.begin() + 8 + 25 + 8, png.end() - 12 - 4);
}

// A 1x1 animation of 70,000 frames whose acTL says 65,535.
Bytes seventy_thousand_frames() {
  Chunks chunks = apng_chunks(1, 1, ApngFormat{}, {{picture("R")}, {picture("G")}});
  const Chunks frame(chunks.end() - 4, chunks.end() - 1);  // an fcTL and its two fdAT
  for (int k = 2; k < 70000; ++k) chunks.insert(chunks.end() - 1, frame.begin(), frame.end());
  apng_put32(nth(chunks, "acTL", 0).data, 0, 65535);
  apng_renumber(chunks);
  return apng_file(chunks);
}

TEST(ApngDecode, RefusesHostileFilesCleanly) {
  auto set = [](const char* type, int n, size_t at, uint32_t value) {
    return [=](Chunks& c) { apng_put32(nth(c, type, n).data, at, value); };
  };
  auto set_byte = [](const char* type, int n, size_t at, uint8_t value) {
    return [=](Chunks& c) { nth(c, type, n).data[at] = value; };
  };
  auto crc_broken = [](Bytes file) {
    file[8 + 25 + 20 + 8 + 26] ^= 1;  // the first fcTL's CRC
    return file;
  };
  Chunks base = base_chunks();
  const Bytes still =
      apng_file({base[0], nth(base, "IDAT", 0), nth(base, "IDAT", 1), base.back()});
  struct Case {
    const char* why;
    Bytes file;
    unsigned open_error;
    unsigned frame_error = APNG_NO_MORE_FRAMES;  // of the first frame that fails
  };
  const Case cases[] = {
      {"fdAT sequence numbers swapped",
       changed([](Chunks& c) { std::swap(nth(c, "fdAT", 0).data, nth(c, "fdAT", 1).data); },
               false),
       APNG_SEQUENCE},
      {"fdAT sequence number repeated", changed(set("fdAT", 1, 0, 2), false), APNG_SEQUENCE},
      {"fcTL sequence number skipped", changed(set("fcTL", 2, 0, 7), false), APNG_SEQUENCE},
      {"region past the right edge", changed(set("fcTL", 1, 12, 2)), APNG_REGION},
      {"region past the bottom edge", changed(set("fcTL", 1, 16, 2)), APNG_REGION},
      {"offset that wraps around 32 bits", changed(set("fcTL", 1, 12, ~0u)), APNG_REGION},
      {"empty region", changed(set("fcTL", 2, 8, 0)), APNG_REGION},
      {"IDAT frame smaller than the canvas", changed(set("fcTL", 0, 4, 2)), APNG_FIRST_REGION},
      {"acTL counts a frame more", changed(set("acTL", 0, 0, 4)), APNG_FRAME_COUNT},
      {"acTL counts a frame less", changed(set("acTL", 0, 0, 2)), APNG_FRAME_COUNT},
      {"acTL counts no frame", changed(set("acTL", 0, 0, 0)), APNG_FRAME_COUNT},
      {"acTL counts 70,000 frames", changed(set("acTL", 0, 0, 70000)), APNG_TOO_MANY_FRAMES},
      {"70,000 fcTL chunks", seventy_thousand_frames(), APNG_TOO_MANY_FRAMES},
      {"a 65535x65535 canvas",
       changed([](Chunks& c) {
         apng_put32(c[0].data, 0, 65535);
         apng_put32(c[0].data, 4, 65535);
       }),
       APNG_CANVAS_TOO_LARGE},
      {"a side one over the limit", changed(set("IHDR", 0, 4, 1021)), APNG_CANVAS_TOO_LARGE},
      {"a side at the limit passes it", changed(set("IHDR", 0, 4, 1020)), APNG_FIRST_REGION},
      {"frame data inflating past the frame's size",
       changed([](Chunks& c) {
         nth(c, "fdAT", 1).data.resize(4);  // the frame's second part: empty
         Bytes& data = nth(c, "fdAT", 0).data;
         data.resize(4);
         const Bytes bomb = bomb_data();
         data.insert(data.end(), bomb.begin(), bomb.end());
       }),
       0, 109},
      {"unknown dispose op", changed(set_byte("fcTL", 1, 24, 3)), APNG_OPERATION},
      {"unknown blend op", changed(set_byte("fcTL", 2, 25, 2)), APNG_OPERATION},
      {"a frame without data",
       changed([](Chunks& c) { c.erase(c.end() - 3, c.end() - 1); }), APNG_NO_FRAME_DATA},
      {"fdAT for a frame whose data is IDAT",
       changed([](Chunks& c) { c.insert(c.begin() + 5, nth(c, "fdAT", 0)); }),
       APNG_CHUNK_PLACE},
      {"IDAT after the fdAT chunks",
       changed([](Chunks& c) { c.insert(c.end() - 1, nth(c, "IDAT", 0)); }), APNG_CHUNK_PLACE},
      {"a second acTL",
       changed([](Chunks& c) { c.insert(c.begin() + 2, nth(c, "acTL", 0)); }),
       APNG_CHUNK_PLACE},
      {"acTL after the IDAT chunks",
       changed([](Chunks& c) { std::rotate(c.begin() + 1, c.begin() + 2, c.end() - 1); }),
       APNG_NOT_ANIMATED},
      {"a still PNG", still, APNG_NOT_ANIMATED},
      {"an fcTL's CRC broken", crc_broken(changed([](Chunks&) {})), APNG_CHUNK_CRC},
      {"an fcTL of 25 bytes", changed([](Chunks& c) { nth(c, "fcTL", 1).data.resize(25); }),
       APNG_CHUNK_SIZE},
      {"an fdAT of 3 bytes", changed([](Chunks& c) { nth(c, "fdAT", 2).data.resize(3); }),
       APNG_CHUNK_SIZE},
      {"no IEND", changed([](Chunks& c) { c.pop_back(); }), APNG_CHUNK_TRUNCATED},
      {"not a PNG", Bytes(64, 'x'), 28},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ApngDecoder decoder;
    unsigned error = apng_open(&decoder, c.file.data(), c.file.size(), 1020);
    EXPECT_EQ(error, c.open_error) << apng_error_text(error);
    if (error == 0) {
      Bytes canvas(size_t{decoder.width} * decoder.height * 4, 0);
      while ((error = apng_next_frame(&decoder, canvas.data())) == 0) {
      }
      EXPECT_EQ(error, c.frame_error) << apng_error_text(error);
    }
    apng_close(&decoder);
  }
}

TEST(ApngDecode, EveryTruncationFailsInOpen) {
  const Bytes file = apng_file(base_chunks());
  for (size_t cut = 0; cut < file.size(); ++cut) {
    SCOPED_TRACE(cut);
    // a buffer of exactly the cut's size, so that a sanitizer sees any read past it
    Bytes prefix(file.begin(), file.begin() + cut);
    apng_signature(prefix.data(), prefix.size());
    ApngDecoder decoder;
    EXPECT_NE(apng_open(&decoder, prefix.data(), prefix.size(), 1020), 0u);
    apng_close(&decoder);
  }
}

// What `command` writes to its standard output; empty when it fails.
Bytes output_of(const std::string& command) {
  Bytes out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  uint8_t buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.insert(out.end(), buffer, buffer + n);
  if (pclose(pipe) != 0) out.clear();
  return out;
}

// Files from another program's encoder, against that program's own decoding:
// a square moving over a background, stored as frames of a region each. A
// translucent one over a translucent background in three formats, and an
// opaque one over a transparent background, which its encoder disposes of by
// clearing. 16-bit samples are cut to 8 bits here as the PNG decoder does, by
// their high byte.
TEST(ApngDecode, MatchesFfmpegOnItsFiles) {
  if (system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
  const std::pair<std::string, std::string> runs[] = {
      {"0x3366cc80 0xffcc0099", "rgba"},
      {"0x3366cc80 0xffcc0099", "pal8"},
      {"0x3366cc80 0xffcc0099", "rgba64be"},
      {"0x00000000 0xffcc00ff", "rgba"},
  };
  for (const auto& [colours, format] : runs) {
    const std::string source =
        "color=c=" + colours.substr(0, 10) + ":size=40x30:rate=5,format=rgba[bg];" +
        "color=c=" + colours.substr(11) + ":size=8x8:rate=5,format=rgba[fg];" +
        "[bg][fg]overlay=x='t*25':y='5+t*10':format=auto,format=rgba";
    SCOPED_TRACE(colours + " " + format);
    const std::string path = testing::TempDir() + "apng_decode_" + format + ".png";
    const Bytes file = output_of("ffmpeg -v error -y -f lavfi -i \"" + source +
                                 "\" -frames:v 6 -pix_fmt " + format +
                                 " -plays 0 -f apng " + path + " && cat " + path);
    const bool deep = format == "rgba64be";
    Bytes frames = output_of("ffmpeg -v error -i " + path +
                             " -vsync passthrough -f rawvideo -pix_fmt " +
                             (deep ? "rgba64be" : "rgba") + " -");
    for (size_t i = 0; deep && 2 * i < frames.size(); ++i) frames[i] = frames[2 * i];
    if (deep) frames.resize(frames.size() / 2);
    ASSERT_FALSE(file.empty());
    ApngDecoder decoder;
    ASSERT_EQ(apng_open(&decoder, file.data(), file.size(), 1020), 0u);
    const size_t frame_bytes = size_t{decoder.width} * decoder.height * 4;
    ASSERT_EQ(frames.size(), frame_bytes * decoder.frame_count);
    Bytes canvas(frame_bytes, 0);
    for (uint32_t i = 0; i < decoder.frame_count; ++i) {
      ASSERT_EQ(apng_next_frame(&decoder, canvas.data()), 0u);
      EXPECT_TRUE(memcmp(canvas.data(), &frames[i * frame_bytes], frame_bytes) == 0)
          << "frame " << i;
    }
    apng_close(&decoder);
    remove(path.c_str());
  }
}

}  // namespace
