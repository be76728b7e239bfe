// How close a VELT file's frames come to their sources: PSNR per frame and
// over the whole animation (RGB and alpha apart, as stored), PSNR and SSIM of
// the visible picture (as a viewer sees it), and the worst block by each.
#ifndef VELT_TOOLKIT_FRAME_QUALITY_H
#define VELT_TOOLKIT_FRAME_QUALITY_H

#include <cstdint>
#include <string>
#include <vector>

#include "velt_reader.h"
#include "visible_quality.h"

// The block with the largest error of one kind so far.
template <typename Error>
struct WorstBlockBy {
  bool found = false;  // false while every block is exact
  size_t frame = 0;
  int x = 0;  // top-left pixel
  int y = 0;
  Error error{};
};
using WorstBlock = WorstBlockBy<PictureError>;
using WorstVisibleBlock = WorstBlockBy<VisibleError>;

// The visible picture's figures of one frame.
struct VisibleFrameQuality {
  VisibleError error;
  VisibleSsim ssim;
  uint32_t largest = 0;  // largest_visible_difference, in 1/255 of a level
};

// Sums over every frame so far, for the overall visible figures.
struct VisibleTotals {
  // a frame's squared errors need up to 54 bits, so 65535 frames of them more than 64
  unsigned __int128 over_black = 0;
  unsigned __int128 over_white = 0;
  uint64_t pixels = 0;
  double ssim_over_black = 0;  // sums of the frames' mean SSIM
  double ssim_over_white = 0;
  uint32_t largest = 0;  // the largest of any frame
};

struct QualityReport {
  std::vector<PictureError> frames;
  PictureError overall{};
  WorstBlock worst;

  std::vector<VisibleFrameQuality> visible_frames;
  VisibleTotals visible_overall;
  WorstVisibleBlock worst_visible;
  // the first frame's visible squared error of each 4x4 block (over the
  // worse background), width / 4 to a row: what the heatmap shows
  std::vector<uint64_t> first_frame_blocks;

  std::vector<SsimBlockSums> ssim_scratch;  // working storage
};

// The figures a viewer would agree with: the worse (lower) of over black and
// over white. Overall, each background's squared errors are summed over every
// frame and its SSIM is the mean of the frames' SSIM, and the worse
// background's figure is taken.
double visible_psnr_of_frame(const VisibleFrameQuality& frame);
double visible_ssim_of_frame(const VisibleFrameQuality& frame);
double overall_visible_psnr(const QualityReport& report);
double overall_visible_ssim(const QualityReport& report);

// Adds one frame (decoded and source, both width x height RGBA) to `report`.
// The worst block is the one with the largest squared error over all four
// channels, the worst visible block the one with the largest visible squared
// error over the worse background; the first one met keeps a tie.
void add_frame_quality(const uint8_t* decoded, const uint8_t* source, int width, int height,
                       QualityReport* report);

// The report as a table for people.
std::string quality_table(const QualityReport& report);
// The report as one JSON object; an exact match (infinite PSNR) is null.
std::string quality_json(const std::string& file, const QualityReport& report);

#endif
