// Decoding of the bitmaps a module keeps in its resources, shared by
// LoadBitmapA and the dialogs' static pictures.
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

}  // namespace orv::standin
