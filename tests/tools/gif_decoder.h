// The tests read orvplay's GIFs with giflib, not with code of ours, so that a
// misreading of the format shared by the encoder and its reader cannot pass.
// Every frame is composited onto the ones before it, as a viewer shows it.
#pragma once

#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/picture.h"

namespace giftest {

struct Gif {
  int32_t width = 0, height = 0;
  int32_t loops = -1;  // the NETSCAPE2.0 block's loop count (0: forever); -1: no such block
  std::vector<orvplay::Picture> frames;  // composited, as a viewer shows them
  std::vector<int32_t> delays;           // hundredths of a second
};

struct GifCloser {
  void operator()(GifFileType* gif) const { DGifCloseFile(gif, nullptr); }
};
using GifFile = std::unique_ptr<GifFileType, GifCloser>;

inline GifFile Slurped(GifFileType* gif, int error) {
  if (!gif) throw std::runtime_error(std::string("giflib: ") + GifErrorString(error));
  GifFile file(gif);
  if (DGifSlurp(gif) != GIF_OK)
    throw std::runtime_error(std::string("giflib: ") + GifErrorString(gif->Error));
  return file;
}

// giflib over bytes in memory.
inline GifFile OpenGif(const std::vector<uint8_t>& bytes) {
  struct Source {
    const std::vector<uint8_t>* bytes;
    size_t at = 0;
  } source{&bytes};
  int error = 0;
  GifFileType* gif = DGifOpen(
      &source,
      [](GifFileType* g, GifByteType* into, int n) {
        auto* s = static_cast<Source*>(g->UserData);
        const size_t taken = std::min(size_t(n), s->bytes->size() - s->at);
        std::memcpy(into, s->bytes->data() + s->at, taken);
        s->at += taken;
        return int(taken);
      },
      &error);
  // Slurping reads everything, so the source need not outlive this call.
  return Slurped(gif, error);
}

// The loop count of a NETSCAPE2.0 application block among blocks, or -1: the
// block's name, then a sub-block of 1 and the count, low byte first.
inline int32_t LoopCount(const ExtensionBlock* blocks, int count) {
  for (int i = 0; i + 1 < count; ++i) {
    const ExtensionBlock &name = blocks[i], &data = blocks[i + 1];
    if (name.Function == APPLICATION_EXT_FUNC_CODE && name.ByteCount == 11 &&
        std::memcmp(name.Bytes, "NETSCAPE2.0", 11) == 0 &&
        data.Function == CONTINUE_EXT_FUNC_CODE && data.ByteCount == 3 && data.Bytes[0] == 1)
      return data.Bytes[1] | data.Bytes[2] << 8;
  }
  return -1;
}

inline Gif Composite(GifFileType* file) {
  Gif gif;
  gif.width = file->SWidth;
  gif.height = file->SHeight;
  orvplay::Picture canvas(gif.width, gif.height);
  for (int n = 0; n < file->ImageCount; ++n) {
    const SavedImage& image = file->SavedImages[n];
    if (gif.loops < 0) gif.loops = LoopCount(image.ExtensionBlocks, image.ExtensionBlockCount);
    GraphicsControlBlock control{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
    DGifSavedExtensionToGCB(file, n, &control);
    // Each frame is drawn over the last one; clearing or restoring after it
    // would need a background these pictures do not have.
    if (control.DisposalMode != DISPOSAL_UNSPECIFIED && control.DisposalMode != DISPOSE_DO_NOT)
      throw std::runtime_error("unexpected disposal " + std::to_string(control.DisposalMode));
    const GifImageDesc& d = image.ImageDesc;
    if (d.Left + d.Width > gif.width || d.Top + d.Height > gif.height)
      throw std::runtime_error("frame outside the screen");
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : file->SColorMap;
    if (!map) throw std::runtime_error("frame without a colour table");
    for (int y = 0; y < d.Height; ++y)
      for (int x = 0; x < d.Width; ++x) {
        const int k = image.RasterBits[size_t(y) * size_t(d.Width) + size_t(x)];
        if (k >= map->ColorCount) throw std::runtime_error("index past the colour table");
        if (k == control.TransparentColor) continue;
        uint8_t* px = canvas.At(d.Left + x, d.Top + y);
        px[0] = map->Colors[k].Red, px[1] = map->Colors[k].Green, px[2] = map->Colors[k].Blue;
      }
    gif.frames.push_back(canvas);
    gif.delays.push_back(control.DelayTime);
  }
  if (gif.loops < 0) gif.loops = LoopCount(file->ExtensionBlocks, file->ExtensionBlockCount);
  return gif;
}

inline Gif DecodeGif(const std::vector<uint8_t>& bytes) { return Composite(OpenGif(bytes).get()); }

inline Gif DecodeGifFile(const std::filesystem::path& path) {
  int error = 0;
  return Composite(Slurped(DGifOpenFileName(path.c_str(), &error), error).get());
}

}  // namespace giftest
