// The stand-in's bitmap decoding for LoadBitmapA and the dialogs' pictures.
#include "platform/standin/gdi_draw.h"

#include <cstring>

namespace orv::standin {

namespace {

uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) {
  return (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | b;
}

// Expands a 5-bit field to 8 bits.
uint8_t Expand5(uint32_t v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }

// RLE8 data into rows of palette indexes (bottom row first, as stored):
// (count, index) runs; 0 then 0 ends a line, 1 the bitmap, 2 moves by the
// next two bytes; 0 then n >= 3 copies n indexes, padded to an even count.
// Pixels the data skips keep index 0.
bool DecodeRle8(const uint8_t* p, size_t size, int32_t width, int32_t height,
                std::vector<uint8_t>* indexes) {
  indexes->assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  int32_t x = 0, y = 0;
  auto put = [&](uint8_t v) {
    if (x < width && y < height) (*indexes)[static_cast<size_t>(y) * width + x] = v;
    ++x;
  };
  size_t i = 0;
  while (i + 2 <= size) {
    const uint8_t count = p[i], value = p[i + 1];
    i += 2;
    if (count != 0) {
      for (int32_t k = 0; k < count; ++k) put(value);
      continue;
    }
    switch (value) {
      case 0:
        x = 0;
        ++y;
        break;
      case 1:
        return true;
      case 2:
        if (i + 2 > size) return false;
        x += p[i];
        y += p[i + 1];
        i += 2;
        break;
      default:
        if (i + value > size) return false;
        for (int32_t k = 0; k < value; ++k) put(p[i + static_cast<size_t>(k)]);
        i += value + (value & 1u);
        break;
    }
  }
  return false;  // no end-of-bitmap marker
}

}  // namespace

bool DecodeBitmap(const uint8_t* data, size_t size, Picture* out) {
  BITMAPINFOHEADER h;
  if (!data || size < sizeof h) return false;
  std::memcpy(&h, data, sizeof h);
  if (h.biSize < sizeof h || h.biSize > size || h.biWidth <= 0 || h.biHeight == 0 ||
      h.biWidth > 16384 || h.biHeight > 16384 || h.biHeight < -16384 || h.biPlanes != 1)
    return false;
  const int32_t bits = h.biBitCount;
  const bool rle8 = h.biCompression == BI_RLE8;
  if (!(h.biCompression == BI_RGB || (rle8 && bits == 8 && h.biHeight > 0))) return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;

  const int32_t width = h.biWidth;
  const bool topDown = h.biHeight < 0;
  const int32_t height = topDown ? -h.biHeight : h.biHeight;
  size_t colours = 0;
  if (bits <= 8) colours = h.biClrUsed ? h.biClrUsed : (size_t{1} << bits);
  if (colours > 256) return false;
  const size_t tableAt = h.biSize, bitsAt = tableAt + colours * 4;
  if (bitsAt > size) return false;
  std::vector<uint32_t> palette(colours);
  for (size_t i = 0; i < colours; ++i) {
    const uint8_t* q = data + tableAt + i * 4;
    palette[i] = Rgb(q[2], q[1], q[0]);
  }
  auto colour = [&](size_t index) { return index < palette.size() ? palette[index] : 0u; };

  Picture picture;
  picture.width = width;
  picture.height = height;
  picture.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  const uint8_t* p = data + bitsAt;
  const size_t available = size - bitsAt;
  // Stored row r is image row (height - 1 - r) for a bottom-up bitmap.
  auto imageRow = [&](int32_t stored) { return topDown ? stored : height - 1 - stored; };
  auto at = [&](int32_t x, int32_t stored) -> uint32_t& {
    return picture.pixels[static_cast<size_t>(imageRow(stored)) * width + x];
  };

  if (rle8) {
    std::vector<uint8_t> indexes;
    if (!DecodeRle8(p, available, width, height, &indexes)) return false;
    for (int32_t r = 0; r < height; ++r)
      for (int32_t x = 0; x < width; ++x)
        at(x, r) = colour(indexes[static_cast<size_t>(r) * width + x]);
    *out = std::move(picture);
    return true;
  }

  const size_t stride = (static_cast<size_t>(width) * bits + 31) / 32 * 4;
  if (stride * static_cast<size_t>(height) > available) return false;
  for (int32_t r = 0; r < height; ++r) {
    const uint8_t* row = p + stride * static_cast<size_t>(r);
    for (int32_t x = 0; x < width; ++x) {
      uint32_t v = 0;
      switch (bits) {
        case 1:
          v = colour((row[x / 8] >> (7 - x % 8)) & 1u);
          break;
        case 4:
          v = colour((row[x / 2] >> (x % 2 ? 0 : 4)) & 0xFu);
          break;
        case 8:
          v = colour(row[x]);
          break;
        case 16: {
          const uint32_t w = row[2 * x] | (static_cast<uint32_t>(row[2 * x + 1]) << 8);
          v = Rgb(Expand5((w >> 10) & 31), Expand5((w >> 5) & 31), Expand5(w & 31));
          break;
        }
        case 24:
          v = Rgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
          break;
        case 32:
          v = Rgb(row[4 * x + 2], row[4 * x + 1], row[4 * x]);
          break;
      }
      at(x, r) = v;
    }
  }
  *out = std::move(picture);
  return true;
}

bool LoadPicture(HMODULE module, LPCSTR name, Picture* out) {
  HRSRC found = FindResourceA(module, name, RT_BITMAP);
  if (!found) return false;
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  const bool ok =
      data && DecodeBitmap(static_cast<const uint8_t*>(data), SizeofResource(module, found), out);
  if (loaded) FreeResource(loaded);
  return ok;
}

}  // namespace orv::standin
