#include "quality_heatmap.h"

namespace {

// A block's 48 colour samples, each squared error in (1/255 level)^2: the
// squared error that is a mean of one level squared per sample.
constexpr uint64_t kOneLevelSquaredPerBlock = 48 * 255 * 255;

// The backdrop's grey for one pixel: over mid grey, luma, dimmed.
int dimmed_grey(const uint8_t* p) {
  const int a = p[3];
  int channel[3];
  for (int c = 0; c < 3; ++c) channel[c] = (p[c] * a + 128 * (255 - a) + 127) / 255;
  const int luma = (299 * channel[0] + 587 * channel[1] + 114 * channel[2] + 500) / 1000;
  return 64 + luma / 4;
}

}  // namespace

const HeatColour kHeatColours[HEAT_BANDS] = {
    {0, 0, 0},      // exact: not tinted
    {0, 0, 255},    // blue
    {0, 255, 0},    // green
    {255, 255, 0},  // yellow
    {255, 140, 0},  // orange
    {255, 0, 0},    // red
};

HeatBand heat_band(uint64_t squared) {
  if (squared == 0) return HEAT_EXACT;
  if (squared < 1 * kOneLevelSquaredPerBlock) return HEAT_BELOW_1;
  if (squared < 4 * kOneLevelSquaredPerBlock) return HEAT_BELOW_4;
  if (squared < 16 * kOneLevelSquaredPerBlock) return HEAT_BELOW_16;
  if (squared < 64 * kOneLevelSquaredPerBlock) return HEAT_BELOW_64;
  return HEAT_WORST;
}

std::vector<uint8_t> quality_heatmap(const uint8_t* backdrop, int width, int height,
                                     const std::vector<uint64_t>& block_squared) {
  std::vector<uint8_t> heatmap(size_t(width) * size_t(height) * 4);
  const size_t across = size_t(width / 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const size_t i = (size_t(y) * size_t(width) + size_t(x)) * 4;
      const int grey = dimmed_grey(backdrop + i);
      const HeatBand band = heat_band(block_squared[size_t(y / 4) * across + size_t(x / 4)]);
      const HeatColour& tint = kHeatColours[band];
      const bool tinted = band != HEAT_EXACT;
      heatmap[i + 0] = uint8_t(tinted ? (grey + tint.r) / 2 : grey);
      heatmap[i + 1] = uint8_t(tinted ? (grey + tint.g) / 2 : grey);
      heatmap[i + 2] = uint8_t(tinted ? (grey + tint.b) / 2 : grey);
      heatmap[i + 3] = 255;
    }
  }
  return heatmap;
}
