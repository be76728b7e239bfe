#include "frame_quality.h"

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

std::string json_number(double value) {
  if (std::isinf(value)) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", value);
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

}  // namespace

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
}

std::string quality_table(const QualityReport& report) {
  std::string text;
  char line[128];
  std::snprintf(line, sizeof line, "%5s  %12s  %12s\n", "frame", "RGB PSNR", "alpha PSNR");
  text += line;
  for (size_t i = 0; i < report.frames.size(); ++i) {
    std::snprintf(line, sizeof line, "%5zu  %12s  %12s\n", i,
                  decibels(rgb_psnr(report.frames[i])).c_str(),
                  decibels(alpha_psnr(report.frames[i])).c_str());
    text += line;
  }
  std::snprintf(line, sizeof line, "%5s  %12s  %12s\n", "all",
                decibels(rgb_psnr(report.overall)).c_str(),
                decibels(alpha_psnr(report.overall)).c_str());
  text += line;
  const WorstBlock& worst = report.worst;
  if (!worst.found) return text + "worst block: none, every block is exact\n";
  std::snprintf(line, sizeof line, "worst block: frame %zu at x %d, y %d: RGB %s, alpha %s\n",
                worst.frame, worst.x, worst.y, decibels(rgb_psnr(worst.error)).c_str(),
                decibels(alpha_psnr(worst.error)).c_str());
  return text + line;
}

std::string quality_json(const std::string& file, const QualityReport& report) {
  std::string json = "{\"file\": " + json_string(file) + ", \"frames\": [";
  for (size_t i = 0; i < report.frames.size(); ++i)
    json += std::string(i ? ", " : "") + "{\"frame\": " + std::to_string(i) + ", " +
            json_psnr(report.frames[i]) + "}";
  json += "], \"overall\": {" + json_psnr(report.overall) + "}, \"worst_block\": ";
  const WorstBlock& worst = report.worst;
  if (!worst.found) return json + "null}\n";
  return json + "{\"frame\": " + std::to_string(worst.frame) +
         ", \"x\": " + std::to_string(worst.x) + ", \"y\": " + std::to_string(worst.y) + ", " +
         json_psnr(worst.error) + "}}\n";
}
