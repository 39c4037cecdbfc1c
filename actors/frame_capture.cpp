#include "actors/frame_capture.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace orv::actors {

using namespace orv::module;

namespace {

constexpr int64_t kLargestBlock = INT32_MAX;

int64_t FloorTo(int64_t value, int64_t unit) {
  const int64_t rest = value % unit;
  return rest < 0 ? value - rest - unit : value - rest;
}

int64_t CeilTo(int64_t value, int64_t unit) { return -FloorTo(-value, unit); }

uint8_t* AlignUp8(void* block) {
  const auto address = reinterpret_cast<uintptr_t>(block);
  return reinterpret_cast<uint8_t*>((address + 7) & ~uintptr_t{7});
}

HostRect Clip(const HostRect& r, int32_t width, int32_t height) {
  HostRect c{std::max(r.top, 0), std::max(r.left, 0), std::min(r.bottom, height),
             std::min(r.right, width)};
  if (c.bottom < c.top) c.bottom = c.top;
  if (c.right < c.left) c.right = c.left;
  return c;
}

bool IsEmpty(const HostRect& r) { return r.bottom <= r.top || r.right <= r.left; }

// A rectangle with no area that lies inside the image plays its duration,
// drawing nothing; one that is reversed, or has nothing inside the image,
// plays as a cut.
bool PlaysAsCut(const HostRect& rect, const HostRect& clipped) {
  const bool reversed = rect.bottom < rect.top || rect.right < rect.left;
  const bool clippedAway = clipped.top != rect.top || clipped.left != rect.left ||
                           clipped.bottom != rect.bottom || clipped.right != rect.right;
  return reversed || (IsEmpty(clipped) && clippedAway);
}

// The widened span of every row: alignedLeft and captureColumns, such that a
// row is a whole number of 8-byte units (at 3 bytes per pixel, of 8 pixels).
// The span never starts before column 0, where the block's first memory row
// would read before the block, and ends inside its own row whenever the row
// has room for it, so that no row reaches into the next.
void ChooseSpan(FrameCapture& c, const HostRect& r) {
  const int64_t bpp = c.bytesPerPixel;
  int64_t left, columns;
  if (bpp == 3) {
    left = FloorTo(r.left, 8);
    columns = CeilTo(r.right - left, 8);
  } else {
    const int64_t o = int64_t{r.bottom} * c.rowBytes;
    left = (FloorTo(o + r.left * bpp, 8) - o) / bpp;
    if (left < 0) left = 0;
    columns = CeilTo((r.right - left) * bpp, 8) / bpp;
  }
  const int64_t length = columns * bpp;
  if (left * bpp + length > c.rowBytes) left = std::max<int64_t>(0, (c.rowBytes - length) / bpp);
  c.alignedLeft = static_cast<int32_t>(left);
  c.captureColumns = static_cast<int32_t>(columns);
  c.alignedRight = static_cast<int32_t>(left + columns);
}

}  // namespace

int64_t RowInside(const FrameCapture& c, int64_t i, int64_t block) {
  return std::clamp<int64_t>(block - i * c.rowBytes, 0, RowLength(c));
}

uint8_t* ScratchRow(const FrameCapture& c) {
  return AlignUp8(c.endBlock) + c.captureRows * RowLength(c);
}

void* AllocatePixels(int64_t bytes) {
  if (bytes < 0 || bytes > kLargestBlock) return nullptr;
  return std::malloc(static_cast<size_t>(std::max<int64_t>(bytes, 1)));
}

void FreePixels(void* block) { std::free(block); }

HostRect ClipToImage(const FrameCapture& capture, const HostRect& rect) {
  return Clip(rect, capture.imageWidth, capture.imageHeight);
}

TargetRoom RoomOf(const FrameCapture& c) {
  const int64_t left = int64_t{c.alignedLeft} * c.bytesPerPixel;
  return {(int64_t{c.imageHeight} - c.rowStart) * c.rowBytes - left, c.rowBytes - left};
}

void TakeRows(const FrameCapture& c, uint8_t* to, int64_t first, int64_t end) {
  const int64_t length = RowLength(c);
  const int64_t room = RoomOf(c).block;
  for (int64_t i = first; i < end; ++i) {
    const int64_t inside = RowInside(c, i, room);
    uint8_t* row = to + i * length;
    std::memcpy(row, c.targetPixels + i * c.rowBytes, static_cast<size_t>(inside));
    std::memset(row + inside, 0, static_cast<size_t>(length - inside));
  }
}

bool RowsInsideBlock(const FrameCapture& c) {
  return c.captureRows <= 0 || RowInside(c, c.captureRows - 1, RoomOf(c).block) == RowLength(c);
}

void CaptureFrames(FrameCapture& c, HostGC* window, HostGC* offscreen, const HostRect& rect,
                   const TransitionParams*, TakeFrame take, void* context) {
  c = FrameCapture{};
  NativeInfo windowInfo{}, offscreenInfo{};
  int32_t depth = 0;
  window->ops->GetNativeInfo(window, &windowInfo);
  offscreen->ops->GetNativeInfo(offscreen, &offscreenInfo);
  offscreen->ops->GetDepth(offscreen, &depth);
  c.depth = depth;
  c.windowExtra = reinterpret_cast<intptr_t>(windowInfo.header);
  c.bytesPerPixel = depth == 8 ? 1 : depth == 24 ? 3 : depth == 32 ? 4 : 2;
  if (depth <= 8 || !offscreenInfo.header || !offscreenInfo.pixels) return;

  c.imageHeight = offscreenInfo.header->biHeight;
  c.imageWidth = offscreenInfo.header->biWidth;
  if (c.imageHeight <= 0 || c.imageWidth <= 0) return;
  const int64_t rowBytes = CeilTo(int64_t{c.imageWidth} * c.bytesPerPixel, 4);
  if (rowBytes > kLargestBlock) return;
  c.rowBytes = static_cast<int32_t>(rowBytes);

  // Only the part of the rectangle inside the image is captured.
  const HostRect r = Clip(rect, c.imageWidth, c.imageHeight);
  if (PlaysAsCut(rect, r)) return;
  c.rowEnd = c.imageHeight - r.top;
  c.rowStart = c.imageHeight - r.bottom;
  ChooseSpan(c, r);
  c.captureRows = c.rowEnd - c.rowStart;
  c.rectWidth = r.right - r.left;
  c.rectHeight = r.bottom - r.top;

  // Each block: the frame, 8 bytes to align it, and (end block) a scratch row
  // for a row whose span is cut at the end of the pixel block.
  const int64_t length = RowLength(c);
  const int64_t frameBytes = c.captureRows * length;
  const int64_t blockBytes = frameBytes + 8 + length;
  if (blockBytes > kLargestBlock) return;
  c.startBlock = AllocatePixels(blockBytes);
  c.endBlock = AllocatePixels(blockBytes);
  if (!HasFrames(c)) {
    FreeFrames(c);
    return;
  }
  c.startPixels = AlignUp8(c.startBlock);
  c.endPixels = AlignUp8(c.endBlock);
  c.targetPixels = offscreenInfo.pixels + int64_t{c.rowStart} * c.rowBytes +
                   int64_t{c.alignedLeft} * c.bytesPerPixel;
  c.windowDC = windowInfo.dc;
  c.offscreenDC = offscreenInfo.dc;

  auto takeFrame = [&](uint8_t* to, bool endFrame) {
    if (take)
      take(c, to, endFrame, context);
    else
      TakeRows(c, to, 0, c.captureRows);
  };
  takeFrame(c.endPixels, true);
  BitBlt(c.offscreenDC, r.left, r.top, c.rectWidth, c.rectHeight, c.windowDC, r.left, r.top,
         SRCCOPY);
  takeFrame(c.startPixels, false);
}

void FreeFrames(FrameCapture& c) {
  FreePixels(c.startBlock);
  FreePixels(c.endBlock);
  c.startBlock = c.endBlock = nullptr;
  c.startPixels = c.endPixels = nullptr;
}

void DropFrames(FrameCapture& c) {
  if (HasFrames(c)) CopyRows(c, c.endPixels, 0, c.captureRows, RoomOf(c));
  FreeFrames(c);
}

HResult ReleaseFrames(FrameCapture& c, HostGC* window, HostGC* offscreen, const HostRect& rect,
                      const TransitionParams*) {
  DropFrames(c);
  return window->ops->Blit(window, &rect, offscreen, &rect, 0, 0, 0);
}

bool FirstStepEnds(FrameCapture& c) {
  c.started = 1;
  return !HasFrames(c);
}

void PresentStep(const FrameCapture& c, const HostRect& rect) {
  const HostRect r = ClipToImage(c, rect);
  if (IsEmpty(r)) return;
  BitBlt(c.windowDC, r.left, r.top, r.right - r.left, r.bottom - r.top, c.offscreenDC, r.left,
         r.top, SRCCOPY);
}

void CopyRows(const FrameCapture& c, const uint8_t* from, int32_t first, int32_t end,
              const TargetRoom& room) {
  const int64_t length = RowLength(c);
  for (int64_t i = std::max(first, 0); i < std::min(end, c.captureRows); ++i)
    std::memcpy(c.targetPixels + i * c.rowBytes, from + i * length,
                static_cast<size_t>(RowInside(c, i, room.block)));
}

}  // namespace orv::actors
