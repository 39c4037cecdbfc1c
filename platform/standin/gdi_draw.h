// The stand-in's drawing calls (gdi_draw.cpp) and what they share with the
// device contexts and bitmaps of gdi.cpp and with the dialogs: decoding of
// the bitmaps a module keeps in its resources, the pens and brushes a DC
// holds, and a view of the bitmap selected into a DC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/win32.h"

namespace orv::standin {

// A decoded picture: 0x00RRGGBB pixels, top row first.
struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;
};

// Decodes a bitmap resource: BITMAPINFOHEADER, colour table, bits. Handles 1,
// 4 and 8 bits per pixel with a colour table (8 also RLE8-compressed) and 16
// (5-5-5), 24 and 32 bits, bottom-up or top-down. False when the data is
// malformed or cut short; then out is untouched.
bool DecodeBitmap(const uint8_t* data, size_t size, Picture* out);

// Finds, loads and decodes the bitmap resource name of module.
bool LoadPicture(HMODULE module, LPCSTR name, Picture* out);

// The bitmap selected into a DC, to read or write its pixels in place.
struct BitmapView {
  int32_t width = 0;
  int32_t height = 0;
  int32_t bits = 0;  // 8, 16 (5-5-5), 24 or 32
  bool topDown = false;
  size_t stride = 0;
  uint8_t* pixels = nullptr;
  const RGBQUAD* palette = nullptr;  // 8 bits: its colours
  size_t colours = 0;

  uint8_t* Pixel(int32_t x, int32_t y) const {
    const int32_t memoryRow = topDown ? y : height - 1 - y;
    return pixels + static_cast<size_t>(memoryRow) * stride +
           static_cast<size_t>(x) * static_cast<size_t>(bits / 8);
  }
};

// gdi.cpp: false for an unknown DC or one that holds no pixels.
bool SelectedBitmap(HDC dc, BitmapView* view);

// Pens and brushes, kept here for gdi.cpp's SelectObject, DeleteObject and
// DeleteDC. Only the stock ones exist; a DC starts with the black pen and the
// white brush.
bool IsPenOrBrush(HGDIOBJ object);
// Selects object into a known DC, returning what it held of that kind.
HGDIOBJ SelectPenOrBrush(HDC dc, HGDIOBJ object);
void ForgetPensAndBrushes(HDC dc);

}  // namespace orv::standin

#if !defined(_WIN32)
// Device contexts and bitmaps alive (gdi.cpp), stock objects left out, so
// that a test can tell that nothing made was left behind.
ORV_PLATFORM_API int32_t OrvLiveGdiObjects();
#endif
