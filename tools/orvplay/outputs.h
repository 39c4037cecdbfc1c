// Where the frames of a playback go: an animated GIF, a contact sheet, one PNG
// per frame, or memory only. Each writes through a file or folder opened
// before the playback starts; nothing reaches its final name before the run
// commits every output together, so a playback that fails leaves no
// half-written file behind and no output replaced.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/orvplay/gif.h"
#include "tools/orvplay/stage.h"
#include "tools/orvplay/video.h"
#include "tools/safe_output.h"

namespace orvplay {

class Output : public FrameSink {
 public:
  // Writes what is still held, so that only the move into place is left.
  virtual void Finish() = 0;
  // What moves it into place (orvtools::CommitAll); none for memory.
  virtual orvtools::Staged* staged() = 0;
  // Finish, then the move into place: the output alone.
  void Commit();
  // Where it went, for the summary.
  virtual std::string Where() const = 0;
};

// Frame k is shown from elapsed time k to elapsed time k + 1, counted in whole
// hundredths of a second from the start (so no rounding adds up) and cut at
// the transition's duration; the frame after Finish then stays a second. The
// animation plays for the duration plus that second at any frame rate.
class GifOutput : public Output {
 public:
  static constexpr int32_t kHold = 100;  // hundredths of a second
  GifOutput(std::unique_ptr<orvtools::OutputFile> file, int32_t width, int32_t height,
            int32_t duration);
  void Step(int32_t step, int32_t elapsed, const Shown& window) override;
  void Final(const Shown& window) override;
  void Finish() override { encoder_.Finish(); }
  orvtools::Staged* staged() override { return file_.get(); }
  std::string Where() const override { return file_->path(); }

 private:
  void Release(int32_t until);
  std::unique_ptr<orvtools::OutputFile> file_;
  int32_t duration_;
  GifEncoder encoder_;
  Picture held_;  // the latest frame, added once its display time is known
  int32_t heldElapsed_ = -1;
};

// A video at a constant fps: frame k is the window after step k, and the frame
// after Finish comes last, so it lasts (steps + 1) / fps.
class VideoOutput : public Output {
 public:
  VideoOutput(std::unique_ptr<orvtools::OutputFile> file, int32_t width, int32_t height,
              int32_t fps, bool lossless);
  void Step(int32_t, int32_t, const Shown& window) override { encoder_.Add(window.picture()); }
  void Final(const Shown& window) override { encoder_.Add(window.picture()); }
  void Finish() override { encoder_.Finish(); }
  orvtools::Staged* staged() override { return file_.get(); }
  std::string Where() const override { return file_->path(); }

 private:
  std::unique_ptr<orvtools::OutputFile> file_;
  VideoEncoder encoder_;
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
  SheetOutput(std::unique_ptr<orvtools::OutputFile> file, SheetTitle title, int32_t expectedSteps);
  void Step(int32_t step, int32_t elapsed, const Shown& window) override;
  void Final(const Shown& window) override;
  void Finish() override;
  orvtools::Staged* staged() override { return file_.get(); }
  std::string Where() const override { return file_->path(); }

 private:
  struct Cell {
    std::string label;
    Picture thumbnail;
  };
  bool Wanted(int32_t step) const;
  Picture Thumbnail(const Picture& frame) const;

  std::unique_ptr<orvtools::OutputFile> file_;
  SheetTitle title_;
  int32_t expectedSteps_;
  std::vector<Cell> cells_;
  Cell last_;  // the latest step, kept in case the playback ends early
  int32_t lastStep_ = -1;
};

// Lays out a contact sheet; exposed for the tests.
Picture ContactSheet(const SheetTitle& title,
                     const std::vector<std::pair<std::string, Picture>>& cells);

// DIR/frame-NNNNN.png for every step and DIR/final.png, the folder's set of
// orvplay's files: written as they come and swapped in whole by Commit. The
// step numbers have five digits, or as many as the last of the expected
// steps needs, so that the names sort in step order.
class FramesOutput : public Output {
 public:
  FramesOutput(orvtools::FolderOutput& folder, int32_t expectedSteps);
  void Step(int32_t step, int32_t elapsed, const Shown& window) override;
  void Final(const Shown& window) override;
  void Finish() override {}
  orvtools::Staged* staged() override { return &folder_; }
  std::string Where() const override { return folder_.dir() + "/"; }

 private:
  void Write(const std::string& name, const Picture& picture);
  orvtools::FolderOutput& folder_;
  int32_t expectedSteps_;
  int digits_ = 5;
  int64_t firstTooLong_ = 100000;  // the first step its digits cannot hold
};

// The names of a frame set: frame-NNNNN.png (five digits or more) and final.png.
bool IsFrameSetName(const std::string& name);

// Writes bytes as a whole into a file opened before.
void WriteAll(orvtools::OutputFile& file, const std::vector<uint8_t>& bytes);

// Keeps nothing: each frame stays in the stage's window, in the stage's own
// pixels, as a host would show it; only the frame after Finish is taken.
class MemoryOutput : public Output {
 public:
  void Step(int32_t, int32_t, const Shown&) override {}
  void Final(const Shown& window) override { final = window.picture(); }
  void Finish() override {}
  orvtools::Staged* staged() override { return nullptr; }
  std::string Where() const override { return "memory"; }
  Picture final;
};

// Hands every frame to each output and draws a progress bar on standard error
// when it is a terminal.
class FanOut : public FrameSink {
 public:
  FanOut(std::vector<Output*> outputs, std::string label, int32_t expectedSteps);
  ~FanOut() override;
  void Step(int32_t step, int32_t elapsed, const Shown& window) override;
  void Final(const Shown& window) override;

 private:
  void Draw(int32_t done);
  std::vector<Output*> outputs_;
  std::string label_;
  int32_t expectedSteps_;
  bool bar_;
  int32_t drawn_ = -1;
};

}  // namespace orvplay
