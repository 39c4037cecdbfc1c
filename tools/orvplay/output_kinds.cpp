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

VideoCodec CodecFor(const OutputKind& kind, bool lossless) {
  return lossless && kind.lossless ? *kind.lossless : kind.codec.value();
}

}  // namespace orvplay
