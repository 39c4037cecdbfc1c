// An independent model of the six transitions, pixel by pixel, from their
// definitions: the start frame (the window's rectangle at Cue), the end frame
// (the offscreen image's rectangle at Cue), the weight or band position of
// each step and the per-field formulas. It yields the two pictures the host
// must see after Cue, after each Continue and after Finish.
#pragma once

#include <cstdint>
#include <vector>

#include "module/host_services.h"
#include "tests/actors/stage.h"

namespace actors_test {

using orv::module::HostRect;

// Per-field formulas, one pixel of bytesPerPixel bytes (2: 5-5-5, bit 15 0).
// Fade: (a * (256 - w) + b * w) / 256; the portable 16-bit form uses v = w >> 3
// of 32 instead.
uint32_t FadeMix(uint32_t a, uint32_t b, int32_t weight, int32_t bytesPerPixel, bool mmx);
// Band: near side b at m = 0, far side a at m = 32: (b * (32 - m) + a * m) / 32.
uint32_t BandMix(uint32_t a, uint32_t b, int32_t m, int32_t bytesPerPixel);
// One colour: the grey (sum / 3) in the kept channels; a 4th byte unchanged.
uint32_t Tint(uint32_t pixel, int32_t colorChoice, int32_t bytesPerPixel);

// The rectangle clipped to the image; empty when nothing is left.
HostRect ClippedRect(const HostRect& rect, int32_t width, int32_t height);

// The span of the captured rows: first column and number of columns.
struct Span {
  int32_t left, columns;
};

struct ModelSetup {
  Kind kind = Kind::kFade;
  bool mmx = false;
  int32_t chunkSize = 64;
  int32_t duration = 1000;
  int32_t colorChoice = 6;
  bool cut = false;  // no frames: 8 bits per pixel, nothing to capture, no memory
};

class TransitionModel {
 public:
  // The two pictures before Cue.
  TransitionModel(const ModelSetup& setup, const HostRect& rect, Memory window, Memory offscreen);

  // Cue with the span the module chose (checked on its own by the worked
  // examples); the horizontal wipes' band runs over its columns.
  void Cue(const Span& span);
  // The done flag the step reports.
  int32_t Continue(int32_t elapsed);
  void Finish();

  Memory window, offscreen;

  // What the last step did, for the worked tables.
  int32_t bandPosition = 0;
  int32_t revealEdge = 0;
  int32_t weight = 0;

 private:
  int32_t Rows() const { return rect_.bottom - rect_.top; }
  int32_t Columns() const { return rect_.right - rect_.left; }
  // Rectangle pixels by capture row r (0 = bottom) and column c (0 = left).
  uint32_t& At(std::vector<uint32_t>& frame, int32_t r, int32_t c) {
    return frame[static_cast<size_t>(r) * Columns() + c];
  }
  void Show(const std::vector<uint32_t>& frame);
  void VerticalStep(int64_t t, int64_t d);
  void HorizontalStep(int64_t t, int64_t d);

  ModelSetup setup_;
  HostRect rect_;
  int32_t bpp_;
  bool empty_;
  bool emptyPlays_;  // empty and inside the image: plays its duration, drawing nothing
  bool ended_ = false;
  Span span_{};
  int32_t bandSelector_ = 0, bandHeight_ = 32;
  std::vector<uint32_t> start_, end_, tinted_, current_, work_;
};

}  // namespace actors_test
