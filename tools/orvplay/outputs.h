// Where the frames of a playback go: an animated GIF, a contact sheet, one PNG
// per frame, or memory only. Nothing reaches its final name before Commit, so
// a playback that fails leaves no half-written file behind.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/orvplay/gif.h"
#include "tools/orvplay/stage.h"

namespace orvplay {

// Writes bytes to a temporary name beside path and renames it into place.
// Throws std::runtime_error naming the path when that fails.
void WriteFileAtomic(const std::string& path, const std::vector<uint8_t>& bytes);

class Output : public FrameSink {
 public:
  // Moves what was made to its final place.
  virtual void Commit() = 0;
  // Where it went, for the summary.
  virtual std::string Where() const = 0;
};

class GifOutput : public Output {
 public:
  GifOutput(std::string path, int32_t width, int32_t height, int32_t fps);
  void Step(int32_t step, int32_t elapsed, const Picture& window) override;
  void Final(const Picture& window) override;
  void Commit() override;
  std::string Where() const override { return path_; }

 private:
  std::string path_;
  int32_t fps_;
  GifEncoder encoder_;
  Picture held_;  // the latest frame, added once its display time is known
  int32_t heldElapsed_ = -1;
};

// Labels of a contact sheet: what is playing and how.
struct SheetTitle {
  std::string heading;   // e.g. "OrvWipe Up (OrvWipeUp)"
  std::string settings;  // e.g. "32 bits  2000 ms  chunk 64  30 fps"
};

// A grid of frames at evenly spaced times, each labelled with its step and
// time, and the frame after Finish last.
class SheetOutput : public Output {
 public:
  static constexpr int32_t kCells = 12;
  SheetOutput(std::string path, SheetTitle title, int32_t expectedSteps);
  void Step(int32_t step, int32_t elapsed, const Picture& window) override;
  void Final(const Picture& window) override;
  void Commit() override;
  std::string Where() const override { return path_; }

 private:
  struct Cell {
    std::string label;
    Picture thumbnail;
  };
  bool Wanted(int32_t step) const;
  Picture Thumbnail(const Picture& frame) const;

  std::string path_;
  SheetTitle title_;
  int32_t expectedSteps_;
  std::vector<Cell> cells_;
  Cell last_;  // the latest step, kept in case the playback ends early
  int32_t lastStep_ = -1;
};

// Lays out a contact sheet; exposed for the tests.
Picture ContactSheet(const SheetTitle& title,
                     const std::vector<std::pair<std::string, Picture>>& cells);

// DIR/frame-NNNNN.png for every step and DIR/final.png, made in a hidden
// staging folder inside DIR and moved into place by Commit, which also removes
// frame files left by an earlier, longer run.
class FramesOutput : public Output {
 public:
  explicit FramesOutput(std::string dir);
  ~FramesOutput() override;
  void Step(int32_t step, int32_t elapsed, const Picture& window) override;
  void Final(const Picture& window) override;
  void Commit() override;
  std::string Where() const override { return dir_ + "/"; }

 private:
  void Write(const std::string& name, const Picture& picture);
  std::string dir_, staging_;
  std::vector<std::string> names_;
  bool created_ = false, committed_ = false;
};

// Encodes nothing: every frame is copied into memory, each over the one
// before, so that a long playback of a large stage does not pile up frames.
class MemoryOutput : public Output {
 public:
  void Step(int32_t, int32_t, const Picture& window) override {
    latest = window;
    ++steps;
  }
  void Final(const Picture& window) override { final = window; }
  void Commit() override {}
  std::string Where() const override { return "memory"; }
  Picture latest;
  int32_t steps = 0;
  Picture final;
};

// Set from a signal handler; the next frame then stops the playback.
extern std::atomic<bool> interrupted;

// Hands every frame to each output and draws a progress bar on standard error
// when it is a terminal.
class FanOut : public FrameSink {
 public:
  FanOut(std::vector<Output*> outputs, std::string label, int32_t expectedSteps);
  ~FanOut() override;
  void Step(int32_t step, int32_t elapsed, const Picture& window) override;
  void Final(const Picture& window) override;

 private:
  void Draw(int32_t done);
  std::vector<Output*> outputs_;
  std::string label_;
  int32_t expectedSteps_;
  bool bar_;
  int32_t drawn_ = -1;
};

}  // namespace orvplay
