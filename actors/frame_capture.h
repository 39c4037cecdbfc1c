// FrameCapture: an actor's two captured frames and its target in the
// offscreen image. The pixel kernels receive this record by value.
#pragma once

#include <cstddef>
#include <cstdint>

#include "module/abi.h"
#include "module/host_services.h"
#include "platform/win32.h"

namespace orv::module {
struct TransitionParams;
}  // namespace orv::module

namespace orv::actors {

using module::HostGC;
using module::HostRect;
using module::HResult;
using module::TransitionParams;

struct FrameCapture {
  void* startBlock;        // allocation holding the start buffer, or null
  void* endBlock;          // allocation holding the end buffer, or null
  uint8_t* startPixels;    // start frame, 8-byte aligned; weight-0 side
  uint8_t* endPixels;      // end frame, 8-byte aligned; full-weight side
  uint8_t* targetPixels;   // offscreen memory row rowStart, column alignedLeft
  int32_t bytesPerPixel;   // 1, 2, 3 or 4
  int32_t rowBytes;        // distance between offscreen memory rows
  int32_t depth;           // offscreen bits per pixel as the host reports it
  int32_t imageHeight;     // biHeight
  int32_t imageWidth;      // biWidth
  int32_t captureRows;     // rows in each buffer
  int32_t captureColumns;  // pixels in each buffer row (widened for alignment)
  int32_t rectHeight;      // |top - bottom|
  int32_t rectWidth;       // |right - left|
  int32_t rowEnd;          // imageHeight - top
  int32_t alignedLeft;     // image column where buffer rows begin
  int32_t rowStart;        // imageHeight - bottom: memory row of the bottom row
  int32_t alignedRight;    // alignedLeft + captureColumns
  HDC windowDC;            // destination of each step's copy
  HDC offscreenDC;         // source of each step's copy
  intptr_t windowExtra;    // third word of the window's native description
  int32_t started;         // 1 once the first Continue ran
};

ORV_LAYOUT32(sizeof(FrameCapture) == 88, "FrameCapture is 22 words");
ORV_LAYOUT32(offsetof(FrameCapture, targetPixels) == 16, "FrameCapture field 5");
ORV_LAYOUT32(offsetof(FrameCapture, captureRows) == 40, "FrameCapture field 11");
ORV_LAYOUT32(offsetof(FrameCapture, alignedRight) == 68, "FrameCapture field 18");
ORV_LAYOUT32(offsetof(FrameCapture, started) == 84, "FrameCapture field 22");

// Takes both frames of the transition over rect, clipped to the offscreen
// image: the end frame from the offscreen image, then, once the window's
// rectangle is copied into it, the start frame. Each buffer row spans the
// rectangle's row widened to whole 8-byte units. Above 8 bits per pixel, with
// a rectangle that is not reversed and has something inside the image or is
// an empty one inside it (no rows or no columns to draw), and with buffers to
// be had, the record holds both frames (HasFrames); otherwise the transition
// plays as a cut.
//
// take, when given, moves each frame out of the offscreen image into its
// buffer instead of TakeRows (the end frame first, with endFrame set, the
// start frame once the window's rectangle is in the image): an actor that
// keeps its frames in another form makes that form in the same pass.
using TakeFrame = void (*)(const FrameCapture& capture, uint8_t* to, bool endFrame, void* context);
void CaptureFrames(FrameCapture& capture, HostGC* window, HostGC* offscreen, const HostRect& rect,
                   const TransitionParams* params, TakeFrame take = nullptr,
                   void* context = nullptr);

// Copies target rows first..end-1 into buffer rows of to, as they lie in the
// offscreen image; bytes past the pixel block read as 0.
void TakeRows(const FrameCapture& capture, uint8_t* to, int64_t first, int64_t end);

// Every buffer row's span lies inside the pixel block: the rows can be read
// straight out of the image.
bool RowsInsideBlock(const FrameCapture& capture);

// Puts the end frame back into the offscreen image, frees the buffers and has
// the host show rect in the window. Returns the host's Blit result.
HResult ReleaseFrames(FrameCapture& capture, HostGC* window, HostGC* offscreen,
                      const HostRect& rect, const TransitionParams* params);

// Gives up the frames after a failure at Cue: the end frame goes back into the
// offscreen image and the buffers are freed, so the transition plays as a cut.
void DropFrames(FrameCapture& capture);

// Frees the buffers without touching the image (an actor released unfinished).
void FreeFrames(FrameCapture& capture);

// Bytes in a buffer row: captureColumns pixels.
inline int64_t RowLength(const FrameCapture& capture) {
  return int64_t{capture.captureColumns} * capture.bytesPerPixel;
}

inline bool HasFrames(const FrameCapture& capture) {
  return capture.startBlock != nullptr && capture.endBlock != nullptr;
}

// The first-step rule: marks the capture started and tells whether the step
// ends the transition at once, drawing nothing (a cut: no frames).
bool FirstStepEnds(FrameCapture& capture);

// Shows the step: copies rect, clipped to the image, from the offscreen image
// to the window.
void PresentStep(const FrameCapture& capture, const HostRect& rect);

// The capture's rectangle, clipped to the image; empty when nothing is left.
HostRect ClipToImage(const FrameCapture& capture, const HostRect& rect);

// Where the rows go. block: bytes from targetPixels to the end of the pixel
// block (rows near its end have their widened span cut there); row: bytes of
// a row's span inside its own memory row, less than the span when the span is
// wider than the room the row has.
struct TargetRoom {
  int64_t block;
  int64_t row;
};
TargetRoom RoomOf(const FrameCapture& capture);

// Bytes of buffer row i that lie inside the pixel block, `block` bytes long
// from targetPixels.
int64_t RowInside(const FrameCapture& capture, int64_t i, int64_t block);

// The spare row after the end frame in the end block, where a row whose span
// would pass the end of the pixel block is mixed before it is copied back.
uint8_t* ScratchRow(const FrameCapture& capture);

// Copies buffer rows first..end-1 of from to their target rows, each cut at
// the end of the block.
void CopyRows(const FrameCapture& capture, const uint8_t* from, int32_t first, int32_t end,
              const TargetRoom& room);

// The module's own heap for pixel buffers; null when the size is not a
// 32-bit count or the heap has no room. A size of 0 (the buffers of an empty
// rectangle) still has a block.
void* AllocatePixels(int64_t bytes);
void FreePixels(void* block);

}  // namespace orv::actors
