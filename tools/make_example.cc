// Draws the bundled example animation: a wheel with five spokes, one of them
// red, turning once over 16 frames on a plain cream background. The wheel's
// pane between the spokes is partly transparent, so the frames carry real
// alpha. Output: <dir>/frame_0.png ... <dir>/frame_15.png, 128x128 RGBA.
//
// The drawing is deterministic: 16 samples per pixel at fixed positions, and
// integer averaging, so the same program always writes the same pixels.
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

extern "C" {
#include "lodepng.h"
}

namespace {

const int kSize = 128;
const int kFrames = 16;
const int kSpokes = 5;
const int kSamples = 4;  // per axis: 4 x 4 samples per pixel
const double kPi = 3.14159265358979323846;

struct Colour {
  int r, g, b, a;
};

const Colour kBackground = {238, 232, 214, 255};
const Colour kPane = {120, 170, 220, 110};
const Colour kRim = {44, 62, 110, 255};
const Colour kBolt = {200, 206, 220, 255};
const Colour kSpoke = {70, 92, 150, 255};
const Colour kMarkedSpoke = {200, 64, 44, 255};
const Colour kHub = {44, 62, 110, 255};
const Colour kAxle = {236, 196, 80, 255};

const double kRimInner = 47.0;
const double kRimOuter = 58.0;
const double kBoltRadius = 2.3;
const int kBolts = 10;
const double kHubRadius = 11.0;
const double kAxleRadius = 4.0;
const double kSpokeHalfWidth = 2.6;

// Colour of the wheel at point (x, y) relative to its centre, turned by
// `angle` radians; the topmost part that covers the point wins.
Colour colour_at(double x, double y, double angle) {
  double r = sqrt(x * x + y * y);
  if (r > kRimOuter) return kBackground;
  if (r < kAxleRadius) return kAxle;
  if (r < kHubRadius) return kHub;
  if (r >= kRimInner) {
    double bolt_ring = (kRimInner + kRimOuter) * 0.5;
    for (int k = 0; k < kBolts; ++k) {
      double phi = angle + k * 2.0 * kPi / kBolts + kPi / kBolts;
      double dx = x - bolt_ring * cos(phi), dy = y - bolt_ring * sin(phi);
      if (dx * dx + dy * dy < kBoltRadius * kBoltRadius) return kBolt;
    }
    return kRim;
  }
  for (int k = 0; k < kSpokes; ++k) {
    double phi = angle + k * 2.0 * kPi / kSpokes;
    double along = x * cos(phi) + y * sin(phi);
    double across = fabs(-x * sin(phi) + y * cos(phi));
    if (along > 0.0 && across < kSpokeHalfWidth) return k == 0 ? kMarkedSpoke : kSpoke;
  }
  return kPane;
}

// Renders one frame into `rgba` (kSize * kSize * 4 bytes).
void draw_frame(int frame, unsigned char* rgba) {
  double angle = frame * 2.0 * kPi / kFrames;
  double centre = kSize * 0.5;
  for (int py = 0; py < kSize; ++py) {
    for (int px = 0; px < kSize; ++px) {
      // average in premultiplied form so edges against the pane keep their colour
      int64_t sum_a = 0, sum_r = 0, sum_g = 0, sum_b = 0;
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          double x = px + (sx + 0.5) / kSamples - centre;
          double y = py + (sy + 0.5) / kSamples - centre;
          Colour c = colour_at(x, y, angle);
          sum_a += c.a;
          sum_r += c.r * c.a;
          sum_g += c.g * c.a;
          sum_b += c.b * c.a;
        }
      }
      const int n = kSamples * kSamples;
      unsigned char* out = rgba + 4 * (py * kSize + px);
      out[0] = static_cast<unsigned char>((sum_r + sum_a / 2) / sum_a);
      out[1] = static_cast<unsigned char>((sum_g + sum_a / 2) / sum_a);
      out[2] = static_cast<unsigned char>((sum_b + sum_a / 2) / sum_a);
      out[3] = static_cast<unsigned char>((sum_a + n / 2) / n);
    }
  }
}

// Writes the frame as an 8-bit RGBA PNG (the encoder's own pixel format),
// not whatever smaller colour type the PNG encoder would pick.
unsigned write_rgba_png(const char* path, const unsigned char* rgba) {
  LodePNGState state;
  lodepng_state_init(&state);
  state.encoder.auto_convert = 0;
  unsigned char* png = NULL;
  size_t png_size = 0;
  unsigned error = lodepng_encode(&png, &png_size, rgba, kSize, kSize, &state);
  if (error == 0) error = lodepng_save_file(png, png_size, path);
  free(png);
  lodepng_state_cleanup(&state);
  return error;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "Usage: %s <output_dir>\n", argv[0]);
    return 1;
  }
  static unsigned char rgba[kSize * kSize * 4];
  for (int frame = 0; frame < kFrames; ++frame) {
    draw_frame(frame, rgba);
    char path[4096];
    snprintf(path, sizeof path, "%s/frame_%d.png", argv[1], frame);
    unsigned error = write_rgba_png(path, rgba);
    if (error != 0) {
      fprintf(stderr, "make-example: cannot write %s: %s\n", path, lodepng_error_text(error));
      return 1;
    }
  }
  printf("make-example: wrote %d frames to %s\n", kFrames, argv[1]);
  return 0;
}
