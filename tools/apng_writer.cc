#include "apng_writer.h"

#include <cstdlib>
#include <cstring>

extern "C" {
#include "lodepng.h"
}

namespace {

using Bytes = std::vector<uint8_t>;

void add32(Bytes& out, uint32_t value) {
  out.resize(out.size() + 4);
  apng_put32(out, out.size() - 4, value);
}

// The distinct colours of the pictures, in order of first use.
Bytes palette_of(const std::vector<const ApngPicture*>& pictures) {
  Bytes palette;
  for (const ApngPicture* p : pictures)
    for (size_t i = 0; i < p->rgba.size(); i += 4) {
      bool known = false;
      for (size_t k = 0; k < palette.size() && !known; k += 4)
        known = memcmp(&palette[k], &p->rgba[i], 4) == 0;
      if (!known) palette.insert(palette.end(), &p->rgba[i], &p->rgba[i] + 4);
    }
  return palette;
}

// The picture as a PNG of `format`; empty when lodepng refuses it.
Bytes encode(const ApngPicture& picture, const ApngFormat& format, const Bytes& palette) {
  LodePNGState state;
  lodepng_state_init(&state);
  LodePNGColorMode& mode = state.info_png.color;
  mode.colortype = LodePNGColorType(format.colour_type);
  mode.bitdepth = format.bit_depth;
  for (size_t k = 0; format.colour_type == LCT_PALETTE && k < palette.size(); k += 4)
    lodepng_palette_add(&mode, palette[k], palette[k + 1], palette[k + 2], palette[k + 3]);
  state.info_png.interlace_method = format.interlaced;
  state.encoder.auto_convert = 0;
  // 16-bit files get each 8-bit sample v as v * 257, which decodes back to v
  Bytes raw = picture.rgba;
  state.info_raw.bitdepth = format.bit_depth == 16 ? 16 : 8;
  if (format.bit_depth == 16) {
    raw.clear();
    for (uint8_t v : picture.rgba) raw.insert(raw.end(), {v, v});
  }
  unsigned char* png = nullptr;
  size_t size = 0;
  unsigned error = lodepng_encode(&png, &size, raw.data(), picture.width, picture.height, &state);
  lodepng_state_cleanup(&state);
  Bytes bytes;
  if (error == 0) bytes.assign(png, png + size);
  free(png);
  return bytes;
}

// The PNG's chunks, IHDR to IEND, without lengths and CRCs.
std::vector<ApngChunk> chunks_of(const Bytes& png) {
  std::vector<ApngChunk> chunks;
  for (size_t at = 8; at + 12 <= png.size();) {
    const size_t length = lodepng_chunk_length(&png[at]);
    chunks.push_back(
        {std::string(&png[at + 4], &png[at + 8]), Bytes(&png[at + 8], &png[at + 8] + length)});
    at += 12 + length;
  }
  return chunks;
}

// The image data of an encoded picture, in two parts where it has two bytes.
std::vector<Bytes> image_data(const std::vector<ApngChunk>& chunks) {
  Bytes all;
  for (const ApngChunk& c : chunks)
    if (c.type == "IDAT") all.insert(all.end(), c.data.begin(), c.data.end());
  const size_t half = all.size() / 2;
  if (half == 0) return {all};
  return {Bytes(all.begin(), all.begin() + half), Bytes(all.begin() + half, all.end())};
}

}  // namespace

void apng_put32(Bytes& data, size_t at, uint32_t value) {
  for (int k = 0; k < 4; ++k) data[at + k] = uint8_t(value >> (24 - 8 * k));
}

Bytes apng_frame_control(uint32_t sequence, const ApngFrameSpec& frame) {
  Bytes data;
  for (uint32_t v : {sequence, frame.picture.width, frame.picture.height, frame.x, frame.y})
    add32(data, v);
  data.insert(data.end(), {uint8_t(frame.delay_num >> 8), uint8_t(frame.delay_num),
                           uint8_t(frame.delay_den >> 8), uint8_t(frame.delay_den),
                           frame.dispose_op, frame.blend_op});
  return data;
}

std::vector<ApngChunk> apng_chunks(uint32_t width, uint32_t height, const ApngFormat& format,
                                   const std::vector<ApngFrameSpec>& frames,
                                   const ApngPicture* default_image) {
  std::vector<const ApngPicture*> pictures;
  if (default_image != nullptr) pictures.push_back(default_image);
  for (const ApngFrameSpec& f : frames) pictures.push_back(&f.picture);
  const Bytes palette = palette_of(pictures);
  std::vector<std::vector<ApngChunk>> encoded;
  for (const ApngPicture* p : pictures) {
    Bytes png = encode(*p, format, palette);
    if (png.empty()) return {};
    encoded.push_back(chunks_of(png));
  }

  // IHDR and what precedes the image data come from the first picture
  std::vector<ApngChunk> out;
  for (const ApngChunk& c : encoded[0]) {
    if (c.type == "IDAT") break;
    out.push_back(c);
  }
  apng_put32(out[0].data, 0, width);
  apng_put32(out[0].data, 4, height);
  Bytes control;
  add32(control, uint32_t(frames.size()));
  add32(control, 0);  // loop for ever
  out.insert(out.begin() + 1, {"acTL", control});

  uint32_t sequence = 0;
  size_t picture = 0;
  if (default_image != nullptr) {
    for (Bytes& part : image_data(encoded[picture++])) out.push_back({"IDAT", part});
  }
  for (const ApngFrameSpec& f : frames) {
    out.push_back({"fcTL", apng_frame_control(sequence++, f)});
    const bool as_image_data = picture == 0;
    for (Bytes& part : image_data(encoded[picture++])) {
      if (as_image_data) {
        out.push_back({"IDAT", part});
        continue;
      }
      Bytes data;
      add32(data, sequence++);
      data.insert(data.end(), part.begin(), part.end());
      out.push_back({"fdAT", data});
    }
  }
  out.push_back({"IEND", {}});
  return out;
}

void apng_renumber(std::vector<ApngChunk>& chunks) {
  uint32_t sequence = 0;
  for (ApngChunk& c : chunks)
    if ((c.type == "fcTL" || c.type == "fdAT") && c.data.size() >= 4)
      apng_put32(c.data, 0, sequence++);
}

Bytes apng_file(const std::vector<ApngChunk>& chunks) {
  Bytes file = {137, 80, 78, 71, 13, 10, 26, 10};
  for (const ApngChunk& c : chunks) {
    const size_t at = file.size();
    add32(file, uint32_t(c.data.size()));
    file.insert(file.end(), c.type.begin(), c.type.end());
    file.insert(file.end(), c.data.begin(), c.data.end());
    add32(file, lodepng_crc32(&file[at + 4], 4 + c.data.size()));
  }
  return file;
}
