#include "tools/orvplay/output_kinds.h"

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

const char* CodecName(VideoCodec codec) {
  switch (codec) {
    case VideoCodec::kH264:
      return "H.264";
    case VideoCodec::kH264Rgb:
      return "H.264 RGB";
    case VideoCodec::kVp9:
      return "VP9";
    case VideoCodec::kFfv1:
      return "FFV1";
  }
  return "?";
}

VideoCodec CodecFor(const OutputKind& kind, bool lossless) {
  return lossless && kind.lossless ? *kind.lossless : kind.codec.value();
}

}  // namespace orvplay
