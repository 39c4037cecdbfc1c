// Video files, written through FFmpeg's libraries one frame at a time. What
// each name is written as (container, encoder and its settings, what
// --lossless picks) is its row in output_kinds.h.
// Frame k is shown from k / fps to (k + 1) / fps: a constant frame rate.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tools/orvplay/output_kinds.h"
#include "tools/picture.h"
#include "tools/safe_output.h"

namespace orvplay {

// False when this orvplay was built without FFmpeg's libraries.
extern const bool kVideoBuilt;

// Why this orvplay cannot write video, for the message.
std::string NoVideoReason();

class VideoEncoder {
 public:
  // Starts a video of width x height pictures at fps frames per second into
  // file, its kind chosen by file's name, which must be a video kind's.
  // Throws std::runtime_error naming the file and the reason.
  VideoEncoder(orvtools::OutputFile& file, int32_t width, int32_t height, int32_t fps,
               bool lossless);
  ~VideoEncoder();
  VideoEncoder(const VideoEncoder&) = delete;
  VideoEncoder& operator=(const VideoEncoder&) = delete;

  // Encodes the next frame; what the encoder has ready goes to the file.
  void Add(const Picture& frame);
  // Drains the encoder and completes the container. The file is then whole
  // but not yet committed.
  void Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace orvplay
