#include "tools/orvplay/output_kinds.h"

#include <algorithm>
#include <filesystem>

#include "tools/args.h"

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

int64_t VideoBytes(VideoCodec codec, int64_t pixels) {
  const VideoCodecFacts& facts = FactsOf(codec);
  constexpr int64_t kPacketCap = int64_t(1) << 31;
  return pixels * facts.bytesPerPixel + std::min(pixels * facts.packetBytesPerPixel, kPacketCap);
}

VideoCodec CodecFor(const OutputKind& kind, bool lossless) {
  return lossless && kind.lossless ? *kind.lossless : kind.codec.value();
}

}  // namespace orvplay
