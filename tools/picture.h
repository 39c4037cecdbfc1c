// A picture as the tools handle it: 8-bit R, G, B per pixel, top row first.
// (orvplay's type, which orvhost's picture commands share.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace orvplay {

// Memory for frames: large blocks in huge pages where the system grants them
// (a 1080p frame then faults a few times on first touch, not two thousand),
// and elements left unset when a vector grows, for frames written whole
// right after.
void* AllocateFrameBytes(size_t bytes);
void FreeFrameBytes(void* block) noexcept;

template <typename T>
struct FrameAllocator {
  using value_type = T;
  FrameAllocator() = default;
  template <typename U>
  FrameAllocator(const FrameAllocator<U>&) noexcept {}
  T* allocate(size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(AllocateFrameBytes(n * sizeof(T)));
  }
  void deallocate(T* p, size_t) noexcept { FreeFrameBytes(p); }
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <typename U>
  bool operator==(const FrameAllocator<U>&) const noexcept {
    return true;
  }
};

struct Picture {
  int32_t width = 0, height = 0;
  std::vector<uint8_t, FrameAllocator<uint8_t>> rgb;  // width * height * 3 bytes

  // For a picture every pixel of which is written next.
  struct Unset {};

  Picture() = default;
  Picture(int32_t w, int32_t h) : width(w), height(h), rgb(size_t(w) * size_t(h) * 3, 0) {}
  Picture(int32_t w, int32_t h, Unset) : width(w), height(h), rgb(size_t(w) * size_t(h) * 3) {}
  uint8_t* At(int32_t x, int32_t y) {
    return rgb.data() + (size_t(y) * size_t(width) + size_t(x)) * 3;
  }
  const uint8_t* At(int32_t x, int32_t y) const {
    return rgb.data() + (size_t(y) * size_t(width) + size_t(x)) * 3;
  }
  bool operator==(const Picture&) const = default;
};

// The largest picture the tools take: each side at most kMaxSide pixels and
// at most kMaxPixels in all (8192 x 8192). A run holds about 25 bytes per
// pixel (the two pictures, the stage's window and offscreen image, the
// actor's buffers and the frame being written), and an output more: up to
// about 210 for a small .mkv (README).
inline constexpr int64_t kMaxSide = 16384;
inline constexpr int64_t kMaxPixels = int64_t(1) << 26;
// Empty when a w x h picture is within the limits, otherwise why not, as
// "NAME: W x H is larger than the ... limit".
std::string PictureSizeProblem(const std::string& name, int64_t width, int64_t height);

// A bottom-up stage image row by row, in one of the stage's pixel formats.
// How a picture enters a row of the given depth, and how it leaves again:
//   32: B, G, R, 0    24: B, G, R
//   16: 5-bit fields, red bits 10-14, green 5-9, blue 0-4; c enters as c >> 3
//       and leaves as (v << 3) | (v >> 2)
//    8: 3-3-2 (red bits 5-7, green 2-4, blue 0-1), widened the same way
void PackRow(const uint8_t* rgb, int32_t width, int32_t depth, uint8_t* row);
void UnpackRow(const uint8_t* row, int32_t width, int32_t depth, uint8_t* rgb);
// The same with an opaque alpha after each pixel (R, G, B, 255), as a
// browser's canvas takes it.
void UnpackRowRgba(const uint8_t* row, int32_t width, int32_t depth, uint8_t* rgba);

// The depths the stage can have.
bool IsStageDepth(int32_t depth);

// Scales a picture down (or copies it) to the given size by averaging the
// source pixels each target pixel covers.
Picture Shrink(const Picture& source, int32_t width, int32_t height);

}  // namespace orvplay
