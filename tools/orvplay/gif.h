// Animated GIF, frame by frame. Each frame gets its own palette of at most
// 256 colours (exact when the frame has that few, median cut otherwise) and
// only the rectangle that changed since the previous frame is stored.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/orvplay/picture.h"

namespace orvplay {

// The smallest GIF delay most viewers honour; shorter ones play slowly.
inline constexpr int32_t kMinGifDelay = 2;

class GifEncoder {
 public:
  // An animation of the given size that loops forever.
  GifEncoder(int32_t width, int32_t height);

  // Appends a frame shown for delay hundredths of a second (at least
  // kMinGifDelay). A frame equal to the previous one lengthens its delay.
  void Add(const Picture& frame, int32_t delay);

  // The complete file; the encoder is spent afterwards.
  std::vector<uint8_t> Finish();

 private:
  struct Box {
    int32_t x = 0, y = 0, w = 0, h = 0;
  };
  void Flush();

  int32_t width_, height_;
  std::vector<uint8_t> out_;
  Picture pending_;
  Box pendingBox_;
  int32_t pendingDelay_ = 0;
  bool hasPending_ = false;
};

// A frame's pixels as palette indices.
struct IndexedImage {
  std::vector<uint8_t> palette;  // R, G, B per entry, at most 256 entries
  std::vector<uint8_t> indices;  // one per pixel, row by row
};

// Reduces the w x h area at (x, y) of a picture to at most 256 colours.
IndexedImage Quantize(const Picture& picture, int32_t x, int32_t y, int32_t w, int32_t h);

// LZW-compresses indices for a GIF image block, starting with the minimum code
// size byte and ending with the block terminator.
std::vector<uint8_t> LzwEncode(const std::vector<uint8_t>& indices, int32_t minCodeSize);

}  // namespace orvplay
