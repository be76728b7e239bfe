// How close a VELT file's frames come to their sources: PSNR per frame and
// over the whole animation (RGB and alpha apart), and the worst block.
#ifndef VELT_TOOLKIT_FRAME_QUALITY_H
#define VELT_TOOLKIT_FRAME_QUALITY_H

#include <cstdint>
#include <string>
#include <vector>

#include "velt_reader.h"

struct WorstBlock {
  bool found = false;  // false while every block is exact
  size_t frame = 0;
  int x = 0;  // top-left pixel
  int y = 0;
  PictureError error{};
};

struct QualityReport {
  std::vector<PictureError> frames;
  PictureError overall{};
  WorstBlock worst;
};

// Adds one frame (decoded and source, both width x height RGBA) to `report`.
// The worst block is the one with the largest squared error over all four
// channels; the first one met keeps a tie.
void add_frame_quality(const uint8_t* decoded, const uint8_t* source, int width, int height,
                       QualityReport* report);

// The report as a table for people.
std::string quality_table(const QualityReport& report);
// The report as one JSON object; an exact match (infinite PSNR) is null.
std::string quality_json(const std::string& file, const QualityReport& report);

#endif
