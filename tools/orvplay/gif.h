// Animated GIF, frame by frame. Each frame gets its own palette of at most
// 256 colours (exact when the frame has that few, median cut otherwise) and
// only the rectangle that changed since the previous frame is stored. A frame
// is quantised and written out as soon as its display time is known, so the
// encoder holds two frames whatever the length of the animation.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "tools/picture.h"

namespace orvplay {

// The smallest GIF delay browsers honour: they play 0 and 1 as 10.
inline constexpr int32_t kMinGifDelay = 2;

class GifEncoder {
 public:
  // Receives the file's bytes in order.
  using Writer = std::function<void(const uint8_t* data, size_t size)>;

  // An animation of the given size that loops forever; the header is written
  // at once.
  GifEncoder(int32_t width, int32_t height, Writer write);

  // Appends a frame shown for delay hundredths of a second. The total time is
  // kept exactly: a frame equal to the last kept one adds its time to it; a
  // frame whose time (with any carried from frames dropped before it) is under
  // kMinGifDelay is dropped and its time carried to the next kept frame.
  void Add(const Picture& frame, int32_t delay);

  // Writes the last frame and the trailer; the encoder is spent afterwards.
  void Finish();

 private:
  struct Box {
    int32_t x = 0, y = 0, w = 0, h = 0;
  };
  void Flush();

  int32_t width_, height_;
  Writer write_;
  std::vector<uint8_t> out_;  // a frame's bytes, before they go to write_
  Picture pending_;           // the last kept frame, written once its time is known
  Box pendingBox_;
  int32_t pendingDelay_ = 0;
  int32_t carried_ = 0;  // time of dropped frames, for the next kept one
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
