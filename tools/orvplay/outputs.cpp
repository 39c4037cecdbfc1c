#include "tools/orvplay/outputs.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "tools/orvplay/font.h"
#include "tools/png_io.h"

namespace orvplay {

namespace {

constexpr Rgb kBackground{28, 30, 36};
constexpr Rgb kHeading{235, 235, 240};
constexpr Rgb kLabel{170, 180, 195};
constexpr Rgb kFrameEdge{70, 74, 84};

}  // namespace

void WriteAll(orvtools::OutputFile& file, const std::vector<uint8_t>& bytes) {
  file.Write(bytes.data(), bytes.size());
  file.Commit();
}

void Output::Commit() {
  Finish();
  if (orvtools::Staged* s = staged()) orvtools::CommitAll({s});
}

// ---- GIF ----

GifOutput::GifOutput(std::unique_ptr<orvtools::OutputFile> file, int32_t width, int32_t height,
                     int32_t duration)
    : file_(std::move(file)),
      duration_(duration),
      encoder_(width, height,
               [this](const uint8_t* data, size_t size) { file_->Write(data, size); }) {}

void GifOutput::Release(int32_t until) {
  if (heldElapsed_ < 0) return;
  const auto cs = [this](int32_t ms) { return std::min(ms, duration_) / 10; };
  encoder_.Add(held_, cs(until) - cs(heldElapsed_));
}

void GifOutput::Step(int32_t, int32_t elapsed, const Shown& window) {
  // A frame stays up until the next one replaces it.
  Release(elapsed);
  held_ = window.picture();
  heldElapsed_ = elapsed;
}

void GifOutput::Final(const Shown& window) {
  Release(duration_);
  // The end frame stays a while before the animation starts over.
  encoder_.Add(window.picture(), kHold);
}

// ---- video ----

VideoOutput::VideoOutput(std::unique_ptr<orvtools::OutputFile> file, int32_t width, int32_t height,
                         int32_t fps, bool lossless)
    : file_(std::move(file)), encoder_(*file_, width, height, fps, lossless) {}

// ---- contact sheet ----

SheetOutput::SheetOutput(std::unique_ptr<orvtools::OutputFile> file, SheetTitle title,
                         int32_t expectedSteps)
    : file_(std::move(file)), title_(std::move(title)), expectedSteps_(expectedSteps) {}

bool SheetOutput::Wanted(int32_t step) const {
  // kCells - 1 steps spread evenly from the first to the expected last; the
  // frame after Finish takes the last cell.
  const int32_t slots = kCells - 1;
  if (expectedSteps_ <= slots) return true;
  for (int32_t i = 0; i < slots; ++i)
    if (int32_t((int64_t(i) * (expectedSteps_ - 1) * 2 + slots - 1) / (2 * (slots - 1))) == step)
      return true;
  return false;
}

Picture SheetOutput::Thumbnail(const Picture& frame) const {
  const int32_t w = std::min(frame.width, int32_t(240));
  const int32_t h = std::max(int32_t(1), int32_t(int64_t(frame.height) * w / frame.width));
  return Shrink(frame, w, h);
}

void SheetOutput::Step(int32_t step, int32_t elapsed, const Shown& window) {
  std::string label = "step " + std::to_string(step) + "  " + std::to_string(elapsed) + " ms";
  if (Wanted(step)) {
    cells_.push_back({std::move(label), Thumbnail(window.picture())});
    lastStep_ = -1;
  } else {
    last_ = {std::move(label), window.picture()};
    lastStep_ = step;
  }
}

void SheetOutput::Final(const Shown& window) {
  // A playback that ended before its last wanted step still shows that end.
  if (lastStep_ >= 0) cells_.push_back({last_.label, Thumbnail(last_.thumbnail)});
  cells_.push_back({"after Finish", Thumbnail(window.picture())});
}

void SheetOutput::Finish() {
  std::vector<std::pair<std::string, Picture>> cells;
  for (auto& c : cells_) cells.emplace_back(c.label, std::move(c.thumbnail));
  const std::vector<uint8_t> bytes = EncodePng(ContactSheet(title_, cells));
  file_->Write(bytes.data(), bytes.size());
}

Picture ContactSheet(const SheetTitle& title,
                     const std::vector<std::pair<std::string, Picture>>& cells) {
  constexpr int32_t kMargin = 12, kGap = 12, kLabelScale = 2;
  constexpr int32_t kLabelHeight = kGlyphHeight * kLabelScale + 6;
  const int32_t columns = std::min<int32_t>(4, std::max<int32_t>(1, int32_t(cells.size())));
  const int32_t rows = (int32_t(cells.size()) + columns - 1) / columns;
  int32_t cellW = 1, cellH = 1;
  for (const auto& [label, thumb] : cells) {
    cellW = std::max({cellW, thumb.width, TextWidth(label, kLabelScale)});
    cellH = std::max(cellH, thumb.height);
  }
  const int32_t headerH = kMargin + kGlyphHeight * 3 + 6 + kGlyphHeight * 2 + kMargin;
  const int32_t width = std::max({2 * kMargin + columns * cellW + (columns - 1) * kGap,
                                  2 * kMargin + TextWidth(title.heading, 3),
                                  2 * kMargin + TextWidth(title.settings, 2)});
  const int32_t height = headerH + rows * (cellH + kLabelHeight) + (rows - 1) * kGap + kMargin;

  Picture sheet(width, height);
  FillRect(sheet, 0, 0, width, height, kBackground);
  DrawText(sheet, kMargin, kMargin, title.heading, 3, kHeading);
  DrawText(sheet, kMargin, kMargin + kGlyphHeight * 3 + 6, title.settings, 2, kLabel);
  for (size_t i = 0; i < cells.size(); ++i) {
    const auto& [label, thumb] = cells[i];
    const int32_t x = kMargin + int32_t(i % size_t(columns)) * (cellW + kGap);
    const int32_t y = headerH + int32_t(i / size_t(columns)) * (cellH + kLabelHeight + kGap);
    FillRect(sheet, x - 1, y - 1, thumb.width + 2, thumb.height + 2, kFrameEdge);
    for (int32_t ty = 0; ty < thumb.height; ++ty)
      std::copy_n(thumb.At(0, ty), thumb.width * 3, sheet.At(x, y + ty));
    DrawText(sheet, x, y + thumb.height + 5, label, kLabelScale, kLabel);
  }
  return sheet;
}

// ---- one PNG per frame ----

bool IsFrameSetName(const std::string& name) {
  if (name == "final.png") return true;
  if (name.size() < 15 || name.rfind("frame-", 0) != 0 || name.substr(name.size() - 4) != ".png")
    return false;
  const std::string digits = name.substr(6, name.size() - 10);
  return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

FramesOutput::FramesOutput(orvtools::FolderOutput& folder, int32_t expectedSteps)
    : folder_(folder), expectedSteps_(expectedSteps) {
  while (firstTooLong_ <= expectedSteps - 1) {
    ++digits_;
    firstTooLong_ *= 10;
  }
}

void FramesOutput::Write(const std::string& name, const Picture& picture) {
  WriteAll(*folder_.Open(name), EncodePng(picture));
}

void FramesOutput::Step(int32_t step, int32_t, const Shown& window) {
  // A longer name would sort before the shorter ones.
  if (step >= firstTooLong_)
    throw std::runtime_error(Where() + ": the transition played past the " +
                             std::to_string(expectedSteps_) +
                             " steps that its frames' names were counted for");
  char name[32];
  std::snprintf(name, sizeof name, "frame-%0*d.png", digits_, step);
  Write(name, window.picture());
}

void FramesOutput::Final(const Shown& window) { Write("final.png", window.picture()); }

// ---- fan-out and progress ----

FanOut::FanOut(std::vector<Output*> outputs, std::string label, int32_t expectedSteps)
    : outputs_(std::move(outputs)),
      label_(std::move(label)),
      expectedSteps_(std::max(expectedSteps, int32_t(1))),
      bar_(::isatty(2) == 1) {}

FanOut::~FanOut() {
  if (bar_ && drawn_ >= 0) std::fprintf(stderr, "\r\033[K");
}

void FanOut::Draw(int32_t done) {
  if (!bar_) return;
  constexpr int32_t kWidth = 30;
  const int32_t filled = int32_t(int64_t(std::min(done, expectedSteps_)) * kWidth / expectedSteps_);
  drawn_ = done;
  std::fprintf(stderr, "\r%-14s [%s%s] %d/%d", label_.c_str(),
               std::string(size_t(filled), '#').c_str(),
               std::string(size_t(kWidth - filled), '.').c_str(), done, expectedSteps_);
  std::fflush(stderr);
}

void FanOut::Step(int32_t step, int32_t elapsed, const Shown& window) {
  orvtools::CheckStop();
  for (Output* o : outputs_) o->Step(step, elapsed, window);
  Draw(step + 1);
}

void FanOut::Final(const Shown& window) {
  for (Output* o : outputs_) o->Final(window);
}

}  // namespace orvplay
