#include "frame_quality.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

uint64_t total_squared(const PictureError& error) {
  return error.rgb_squared + error.alpha_squared;
}

std::string decibels(double value) {
  if (std::isinf(value)) return "exact";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f dB", value);
  return text;
}

// SSIM with six decimals: good encodings differ in the third to the fifth
std::string ssim_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", value);
  return text;
}

std::string json_number(double value, int decimals = 4) {
  if (std::isinf(value)) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string json_string(const std::string& text) {
  std::string quoted = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      quoted += escape;
    } else {
      quoted += static_cast<char>(c);
    }
  }
  return quoted + "\"";
}

std::string json_psnr(const PictureError& error) {
  return "\"rgb_psnr\": " + json_number(rgb_psnr(error)) +
         ", \"alpha_psnr\": " + json_number(alpha_psnr(error));
}

// A largest visible difference in levels, to a tenth.
double levels(uint32_t difference) { return difference / 255.0; }

std::string json_visible(double psnr, double ssim, uint32_t largest) {
  return ", \"visible_psnr\": " + json_number(psnr) + ", \"visible_ssim\": " +
         json_number(ssim, 6) + ", \"visible_max_error\": " + json_number(levels(largest), 1);
}

void add_visible_blocks(const uint8_t* decoded, const uint8_t* source, int width, int height,
                        QualityReport* report) {
  const size_t frame = report->visible_frames.size();
  VisibleError total{0, 0, 0};
  if (frame == 0) report->first_frame_blocks.clear();
  for (int by = 0; by < height / 4; ++by) {
    for (int bx = 0; bx < width / 4; ++bx) {
      const VisibleError block = visible_block_error(decoded, source, width, bx, by);
      total.over_black += block.over_black;
      total.over_white += block.over_white;
      total.pixels += block.pixels;
      const uint64_t squared = worse_visible_squared(block);
      if (frame == 0) report->first_frame_blocks.push_back(squared);
      WorstVisibleBlock& worst = report->worst_visible;
      if (squared == 0 || (worst.found && squared <= worse_visible_squared(worst.error))) continue;
      worst = WorstVisibleBlock{true, frame, 4 * bx, 4 * by, block};
    }
  }
  const VisibleSsim ssim = visible_ssim(decoded, source, width, height, &report->ssim_scratch);
  const uint32_t largest = largest_visible_difference(decoded, source, size_t(width) * height);
  report->visible_frames.push_back(VisibleFrameQuality{total, ssim, largest});
  VisibleTotals& overall = report->visible_overall;
  overall.largest = std::max(overall.largest, largest);
  overall.over_black += total.over_black;
  overall.over_white += total.over_white;
  overall.pixels += total.pixels;
  overall.ssim_over_black += ssim.over_black;
  overall.ssim_over_white += ssim.over_white;
}

}  // namespace

double visible_psnr_of_frame(const VisibleFrameQuality& frame) {
  return visible_psnr(frame.error);
}

double visible_ssim_of_frame(const VisibleFrameQuality& frame) {
  return std::min(frame.ssim.over_black, frame.ssim.over_white);
}

double overall_visible_psnr(const QualityReport& report) {
  const VisibleTotals& overall = report.visible_overall;
  return visible_psnr(double(std::max(overall.over_black, overall.over_white)), overall.pixels);
}

double overall_visible_ssim(const QualityReport& report) {
  const VisibleTotals& overall = report.visible_overall;
  if (report.visible_frames.empty()) return 1.0;
  return std::min(overall.ssim_over_black, overall.ssim_over_white) /
         double(report.visible_frames.size());
}

void add_frame_quality(const uint8_t* decoded, const uint8_t* source, int width, int height,
                       QualityReport* report) {
  const size_t frame = report->frames.size();
  report->frames.push_back(picture_error(decoded, source, size_t(width) * size_t(height)));
  add_picture_error(&report->overall, report->frames.back());
  for (int by = 0; by < height / 4; ++by) {
    for (int bx = 0; bx < width / 4; ++bx) {
      PictureError block = block_error(decoded, source, width, bx, by);
      if (total_squared(block) == 0) continue;
      WorstBlock& worst = report->worst;
      if (worst.found && total_squared(block) <= total_squared(worst.error)) continue;
      worst = WorstBlock{true, frame, 4 * bx, 4 * by, block};
    }
  }
  add_visible_blocks(decoded, source, width, height, report);
}

std::string quality_table(const QualityReport& report) {
  std::string text;
  char line[128];
  std::snprintf(line, sizeof line, "%5s  %12s  %12s  %12s  %12s  %11s\n", "frame", "RGB PSNR",
                "alpha PSNR", "visible PSNR", "visible SSIM", "max visible");
  text += line;
  for (size_t i = 0; i < report.frames.size(); ++i) {
    const VisibleFrameQuality& visible = report.visible_frames[i];
    std::snprintf(line, sizeof line, "%5zu  %12s  %12s  %12s  %12s  %11.1f\n", i,
                  decibels(rgb_psnr(report.frames[i])).c_str(),
                  decibels(alpha_psnr(report.frames[i])).c_str(),
                  decibels(visible_psnr_of_frame(visible)).c_str(),
                  ssim_text(visible_ssim_of_frame(visible)).c_str(), levels(visible.largest));
    text += line;
  }
  std::snprintf(line, sizeof line, "%5s  %12s  %12s  %12s  %12s  %11.1f\n", "all",
                decibels(rgb_psnr(report.overall)).c_str(),
                decibels(alpha_psnr(report.overall)).c_str(),
                decibels(overall_visible_psnr(report)).c_str(),
                ssim_text(overall_visible_ssim(report)).c_str(),
                levels(report.visible_overall.largest));
  text += line;
  const WorstBlock& worst = report.worst;
  if (!worst.found) {
    text += "worst block: none, every block is exact\n";
  } else {
    std::snprintf(line, sizeof line, "worst block: frame %zu at x %d, y %d: RGB %s, alpha %s\n",
                  worst.frame, worst.x, worst.y, decibels(rgb_psnr(worst.error)).c_str(),
                  decibels(alpha_psnr(worst.error)).c_str());
    text += line;
  }
  const WorstVisibleBlock& visible = report.worst_visible;
  if (!visible.found) return text + "worst visible block: none, every block looks exact\n";
  std::snprintf(line, sizeof line, "worst visible block: frame %zu at x %d, y %d: %s\n",
                visible.frame, visible.x, visible.y,
                decibels(visible_psnr(visible.error)).c_str());
  return text + line;
}

std::string quality_json(const std::string& file, const QualityReport& report) {
  std::string json = "{\"file\": " + json_string(file) + ", \"frames\": [";
  for (size_t i = 0; i < report.frames.size(); ++i)
    json += std::string(i ? ", " : "") + "{\"frame\": " + std::to_string(i) + ", " +
            json_psnr(report.frames[i]) +
            json_visible(visible_psnr_of_frame(report.visible_frames[i]),
                         visible_ssim_of_frame(report.visible_frames[i]),
                         report.visible_frames[i].largest) +
            "}";
  json += "], \"overall\": {" + json_psnr(report.overall) +
          json_visible(overall_visible_psnr(report), overall_visible_ssim(report),
                       report.visible_overall.largest) +
          "}, \"worst_block\": ";
  const WorstBlock& worst = report.worst;
  if (!worst.found) {
    json += "null";
  } else {
    json += "{\"frame\": " + std::to_string(worst.frame) + ", \"x\": " + std::to_string(worst.x) +
            ", \"y\": " + std::to_string(worst.y) + ", " + json_psnr(worst.error) + "}";
  }
  json += ", \"worst_visible_block\": ";
  const WorstVisibleBlock& visible = report.worst_visible;
  if (!visible.found) return json + "null}\n";
  return json + "{\"frame\": " + std::to_string(visible.frame) +
         ", \"x\": " + std::to_string(visible.x) + ", \"y\": " + std::to_string(visible.y) +
         ", \"visible_psnr\": " + json_number(visible_psnr(visible.error)) + "}}\n";
}
