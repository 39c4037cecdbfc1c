// FrameCapture: an actor's two captured frames and its target in the
// offscreen image. The pixel kernels receive this record by value.
#pragma once

#include <cstddef>
#include <cstdint>

#include "module/abi.h"
#include "platform/win32.h"

struct FrameCapture {
  void* startBlock;          // allocation holding the start buffer, or null
  void* endBlock;            // allocation holding the end buffer, or null
  uint8_t* startPixels;      // start frame, 8-byte aligned; weight-0 side
  uint8_t* endPixels;        // end frame, 8-byte aligned; full-weight side
  uint8_t* targetPixels;     // offscreen memory row rowStart, column alignedLeft
  int32_t bytesPerPixel;     // 1, 2, 3 or 4
  int32_t rowBytes;          // distance between offscreen memory rows
  int32_t depth;             // offscreen bits per pixel as the host reports it
  int32_t imageHeight;       // biHeight
  int32_t imageWidth;        // biWidth
  int32_t captureRows;       // rows in each buffer
  int32_t captureColumns;    // pixels in each buffer row (widened for alignment)
  int32_t rectHeight;        // |top - bottom|
  int32_t rectWidth;         // |right - left|
  int32_t rowEnd;            // imageHeight - top
  int32_t alignedLeft;       // image column where buffer rows begin
  int32_t rowStart;          // imageHeight - bottom: memory row of the bottom row
  int32_t alignedRight;      // alignedLeft + captureColumns
  HDC windowDC;              // destination of each step's copy
  HDC offscreenDC;           // source of each step's copy
  intptr_t windowExtra;      // third word of the window's native description
  int32_t started;           // 1 once the first Continue ran
};

ORV_LAYOUT32(sizeof(FrameCapture) == 88, "FrameCapture is 22 words");
ORV_LAYOUT32(offsetof(FrameCapture, targetPixels) == 16, "FrameCapture field 5");
ORV_LAYOUT32(offsetof(FrameCapture, captureRows) == 40, "FrameCapture field 11");
ORV_LAYOUT32(offsetof(FrameCapture, alignedRight) == 68, "FrameCapture field 18");
ORV_LAYOUT32(offsetof(FrameCapture, started) == 84, "FrameCapture field 22");
