#include "tools/orvplay/video.h"

#include <stdexcept>

#ifdef ORVPLAY_VIDEO
#include <dlfcn.h>

#include <filesystem>
#include <mutex>

#include "tools/orvplay/video_library.h"
#endif

namespace orvplay {

std::string NoVideoReason() {
  // The Debian packages a build needs for video, from scripts/packages.sh.
  return "this orvplay was built without video; install " + std::string(ORV_VIDEO_PACKAGES) +
         " and build it again";
}

#ifndef ORVPLAY_VIDEO

const bool kVideoBuilt = false;

struct VideoEncoder::State {};
VideoEncoder::VideoEncoder(orvtools::OutputFile& file, int32_t, int32_t, int32_t, bool) {
  throw std::runtime_error(file.path() + ": " + NoVideoReason());
}
VideoEncoder::~VideoEncoder() = default;
void VideoEncoder::Add(const Picture&) {}
void VideoEncoder::Finish() {}

#else

const bool kVideoBuilt = true;

namespace {

// The video library beside the running program, loaded once and kept.
OrvplayOpenVideoFn OpenVideoFunction(const std::string& forPath) {
  static std::once_flag once;
  static OrvplayOpenVideoFn open = nullptr;
  static std::string failure;
  std::call_once(once, [] {
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::string library =
        (error ? std::filesystem::path(".") : program.parent_path()) / ORVPLAY_VIDEO_LIBRARY;
    void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle) open = reinterpret_cast<OrvplayOpenVideoFn>(::dlsym(handle, "OrvplayOpenVideo"));
    if (!open) {
      const char* why = ::dlerror();
      failure = "cannot load orvplay's video library: " + std::string(why ? why : library);
    }
  });
  if (!open) throw std::runtime_error(forPath + ": " + failure);
  return open;
}

}  // namespace

// The output file as the library sees it.
struct VideoEncoder::State final : VideoSink {
  explicit State(orvtools::OutputFile& f) : file(f) {}
  const std::string& path() const override { return file.path(); }
  void Write(const void* data, size_t size) override { file.Write(data, size); }
  int64_t Seek(int64_t offset, int whence) override { return file.Seek(offset, whence); }
  int64_t Size() override { return file.Size(); }
  void CheckStop() override { orvtools::CheckStop(); }

  orvtools::OutputFile& file;
  std::unique_ptr<VideoWriter> writer;
};

VideoEncoder::VideoEncoder(orvtools::OutputFile& file, int32_t width, int32_t height, int32_t fps,
                           bool lossless)
    : state_(std::make_unique<State>(file)) {
  const OutputKind* kind = OutputKindFor(file.path());
  if (!kind || !kind->IsVideo()) throw std::logic_error(file.path() + ": not a video name");
  state_->writer.reset(OpenVideoFunction(file.path())(
      *state_, kind->container, CodecFor(*kind, lossless), width, height, fps));
}

VideoEncoder::~VideoEncoder() = default;

void VideoEncoder::Add(const Picture& frame) { state_->writer->Add(frame); }

void VideoEncoder::Finish() { state_->writer->Finish(); }

#endif

}  // namespace orvplay
