#include "tools/orvplay/output_kinds.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "tools/args.h"
#include "tools/orvplay/outputs.h"

namespace orvplay {

const OutputKind* OutputKindFor(const std::string& path) {
  const std::string ext = orvtools::Lower(std::filesystem::path(path).extension().string());
  for (const OutputKind& k : kOutputKinds)
    if (ext == k.extension) return &k;
  return nullptr;
}

const OutputKind* GalleryKind(GalleryPlace place) {
  for (const OutputKind& k : kOutputKinds)
    if (k.gallery == place) return &k;
  return nullptr;
}

std::vector<std::string> OutputExtensions() {
  std::vector<std::string> extensions;
  for (const OutputKind& k : kOutputKinds) extensions.push_back(k.extension);
  return extensions;
}

int64_t VideoBytes(const VideoCodecFacts& codec, int64_t pixels) {
  constexpr int64_t kPacketCap = int64_t(1) << 31;
  return pixels * codec.bytesPerPixel + std::min(pixels * codec.packetBytesPerPixel, kPacketCap);
}

const VideoCodecFacts& CodecFor(const OutputKind& kind, bool lossless) {
  if (!kind.codec) throw std::logic_error(std::string(kind.extension) + " is not a video kind");
  return lossless && kind.lossless ? *kind.lossless : *kind.codec;
}

std::unique_ptr<Output> OpenGifOutput(std::unique_ptr<orvtools::OutputFile> file,
                                      const OutputRun& run) {
  return std::make_unique<GifOutput>(std::move(file), run.width, run.height, run.duration);
}

std::unique_ptr<Output> OpenSheetOutput(std::unique_ptr<orvtools::OutputFile> file,
                                        const OutputRun& run) {
  return std::make_unique<SheetOutput>(std::move(file), SheetTitle{run.heading, run.settings},
                                       run.expectedSteps);
}

std::unique_ptr<Output> OpenVideoOutput(std::unique_ptr<orvtools::OutputFile> file,
                                        const OutputRun& run) {
  return std::make_unique<VideoOutput>(std::move(file), run.width, run.height, run.fps,
                                       run.lossless);
}

}  // namespace orvplay
