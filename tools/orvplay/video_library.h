// The seam between orvplay and its video library (video_ffmpeg.cpp), which
// orvplay loads only when it writes a video. The library keeps no copy of
// orvplay's output files or of its stop on a signal: it writes, seeks and
// checks for a stop through the sink orvplay hands it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/orvplay/output_kinds.h"
#include "tools/picture.h"

namespace orvplay {

class VideoSink {
 public:
  virtual const std::string& path() const = 0;  // as the user named it
  virtual void Write(const void* data, size_t size) = 0;
  virtual int64_t Seek(int64_t offset, int whence) = 0;  // whence as for lseek
  virtual int64_t Size() = 0;
  virtual void CheckStop() = 0;  // throws once a stop signal has come

 protected:
  ~VideoSink() = default;
};

class VideoWriter {
 public:
  virtual ~VideoWriter() = default;
  virtual void Add(const Picture& frame) = 0;
  virtual void Finish() = 0;
};

}  // namespace orvplay

// The library's one export: a new writer of a video in the container (FFmpeg's
// name) through the encoder, or an exception naming the file and the reason.
extern "C" orvplay::VideoWriter* OrvplayOpenVideo(orvplay::VideoSink& file, const char* container,
                                                  const orvplay::VideoCodecFacts& codec,
                                                  int32_t width, int32_t height, int32_t fps);
using OrvplayOpenVideoFn = decltype(&OrvplayOpenVideo);
