// A picture of where a frame loses quality: the source frame dimmed to grey,
// with every 4x4 block tinted by its visible error on a fixed scale of colours.
#ifndef VELT_TOOLKIT_QUALITY_HEATMAP_H
#define VELT_TOOLKIT_QUALITY_HEATMAP_H

#include <cstddef>
#include <cstdint>
#include <vector>

// The bands of the scale, by a block's visible mean squared error per
// colour sample, in levels squared (the PSNR each band starts below).
enum HeatBand {
  HEAT_EXACT,     // 0: not tinted
  HEAT_BELOW_1,   // under 1 (above 48.13 dB): blue
  HEAT_BELOW_4,   // 1 to under 4 (42.11 to 48.13 dB): green
  HEAT_BELOW_16,  // 4 to under 16 (36.09 to 42.11 dB): yellow
  HEAT_BELOW_64,  // 16 to under 64 (30.07 to 36.09 dB): orange
  HEAT_WORST,     // 64 and more (30.07 dB and below): red
  HEAT_BANDS
};

struct HeatColour {
  uint8_t r, g, b;
};

// The tint of each band; HEAT_EXACT's is never used.
extern const HeatColour kHeatColours[HEAT_BANDS];

// The band of a 4x4 block whose visible squared error (summed over its 48
// colour samples, in (1/255 level)^2, see visible_quality.h) is `squared`.
HeatBand heat_band(uint64_t squared);

// The heatmap as RGBA, opaque, width x height. `backdrop` is the source
// frame (RGBA): composited over mid grey (128), turned to luma Y
// (BT.601) and dimmed to 64 + Y / 4. A block of band HEAT_EXACT keeps that
// grey; any other block's pixels are the mean of the grey and the band's
// colour (rounded down), so the picture still shows through. `block_squared`
// holds the blocks' visible squared errors, width / 4 to a row.
std::vector<uint8_t> quality_heatmap(const uint8_t* backdrop, int width, int height,
                                     const std::vector<uint64_t>& block_squared);

#endif
