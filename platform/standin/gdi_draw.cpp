// The stand-in's drawing calls: stock pens and brushes, bitmaps loaded from
// a module's resources (decoded here for the dialogs' pictures too) and
// stretched copies between device contexts.
#include "platform/standin/gdi_draw.h"

#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/standin/resources.h"

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
  return UseResource(module, name, RT_BITMAP, [out](const uint8_t* data, size_t size) {
    return DecodeBitmap(data, size, out);
  });
}

// ---- pens and brushes ----

namespace {

// The stock objects by number: 0-5 brushes (white ... null), 6-8 pens
// (white, black, null). Their addresses are their handles.
struct StockObject {
  int32_t number;
};
constexpr int32_t kStockCount = 9;
constexpr int32_t kFirstPen = 6;
constexpr int32_t kWhiteBrush = 0;
constexpr int32_t kBlackPen = 7;
const StockObject kStock[kStockCount] = {{0}, {1}, {2}, {3}, {4}, {5}, {6}, {7}, {8}};

HGDIOBJ Stock(int32_t number) { return const_cast<StockObject*>(&kStock[number]); }

const StockObject* StockOf(HGDIOBJ object) {
  for (const StockObject& s : kStock)
    if (object == &s) return &s;
  return nullptr;
}

struct Held {
  HGDIOBJ pen = Stock(kBlackPen);
  HGDIOBJ brush = Stock(kWhiteBrush);
};

// Only DCs that had a pen or brush selected have an entry.
std::map<HDC, Held>& HeldByDC() {
  static auto& held = *new std::map<HDC, Held>;
  return held;
}

}  // namespace

bool IsPenOrBrush(HGDIOBJ object) { return StockOf(object) != nullptr; }

HGDIOBJ SelectPenOrBrush(HDC dc, HGDIOBJ object) {
  Held& held = HeldByDC()[dc];
  HGDIOBJ& slot = StockOf(object)->number >= kFirstPen ? held.pen : held.brush;
  HGDIOBJ previous = slot;
  slot = object;
  return previous;
}

void ForgetPensAndBrushes(HDC dc) { HeldByDC().erase(dc); }

// ---- pixels of a selected bitmap ----

namespace {

uint32_t ReadPixel(const BitmapView& v, int32_t x, int32_t y) {
  const uint8_t* p = v.Pixel(x, y);
  switch (v.bits) {
    case 8: {
      if (p[0] >= v.colours) return 0;
      const RGBQUAD& q = v.palette[p[0]];
      return Rgb(q.rgbRed, q.rgbGreen, q.rgbBlue);
    }
    case 16: {
      const uint32_t w = p[0] | (static_cast<uint32_t>(p[1]) << 8);
      return Rgb(Expand5((w >> 10) & 31), Expand5((w >> 5) & 31), Expand5(w & 31));
    }
    default:
      return Rgb(p[2], p[1], p[0]);
  }
}

// The palette entry nearest to colour, by squared distance; the first wins ties.
uint8_t NearestIndex(const BitmapView& v, uint32_t colour) {
  const int32_t r = (colour >> 16) & 0xFF, g = (colour >> 8) & 0xFF, b = colour & 0xFF;
  int64_t best = INT64_MAX;
  size_t bestIndex = 0;
  for (size_t i = 0; i < v.colours; ++i) {
    const RGBQUAD& q = v.palette[i];
    const int64_t dr = q.rgbRed - r, dg = q.rgbGreen - g, db = q.rgbBlue - b;
    const int64_t d = dr * dr + dg * dg + db * db;
    if (d < best) best = d, bestIndex = i;
  }
  return static_cast<uint8_t>(bestIndex);
}

void WritePixel(const BitmapView& v, int32_t x, int32_t y, uint32_t colour) {
  uint8_t* p = v.Pixel(x, y);
  const uint8_t r = static_cast<uint8_t>(colour >> 16), g = static_cast<uint8_t>(colour >> 8),
                b = static_cast<uint8_t>(colour);
  switch (v.bits) {
    case 8:
      p[0] = NearestIndex(v, colour);
      break;
    case 16: {
      const uint32_t w = ((r >> 3u) << 10) | ((g >> 3u) << 5) | (b >> 3u);
      p[0] = static_cast<uint8_t>(w);
      p[1] = static_cast<uint8_t>(w >> 8);
      break;
    }
    case 24:
      p[0] = b, p[1] = g, p[2] = r;
      break;
    default:
      p[0] = b, p[1] = g, p[2] = r, p[3] = 0;
      break;
  }
}

// The steps 0..count-1 along one axis of a copy that starts at origin and
// goes forward (positive extent) or backward (negative: step k lands on
// origin - 1 - k), limited to those that land in 0..limit-1.
struct Span {
  int64_t first, end;
};
Span StepsInside(int64_t origin, bool forward, int64_t count, int64_t limit) {
  int64_t first = forward ? -origin : origin - limit;
  int64_t end = forward ? limit - origin : origin;
  first = first < 0 ? 0 : first;
  end = end > count ? count : end;
  return {first, end};
}

int64_t Along(int64_t origin, bool forward, int64_t step) {
  return forward ? origin + step : origin - 1 - step;
}

}  // namespace

}  // namespace orv::standin

using namespace orv::standin;

HGDIOBJ WINAPI GetStockObject(int which) {
  return which >= 0 && which < kStockCount ? Stock(which) : nullptr;
}

// A 32-bit DIB section stands in for the display-compatible bitmap the
// system makes.
HBITMAP WINAPI LoadBitmapA(HINSTANCE module, LPCSTR name) {
  Picture picture;
  if (!LoadPicture(module, name, &picture)) return nullptr;
  BITMAPINFO info{};
  info.bmiHeader = BITMAPINFOHEADER{
      sizeof(BITMAPINFOHEADER), picture.width, picture.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap) return nullptr;
  auto* rows = static_cast<uint8_t*>(bits);
  const size_t stride = static_cast<size_t>(picture.width) * 4;
  for (int32_t y = 0; y < picture.height; ++y) {
    uint8_t* out = rows + static_cast<size_t>(picture.height - 1 - y) * stride;
    for (int32_t x = 0; x < picture.width; ++x) {
      const uint32_t c = picture.pixels[static_cast<size_t>(y) * picture.width + x];
      out[4 * x] = static_cast<uint8_t>(c);
      out[4 * x + 1] = static_cast<uint8_t>(c >> 8);
      out[4 * x + 2] = static_cast<uint8_t>(c >> 16);
      out[4 * x + 3] = 0;
    }
  }
  return bitmap;
}

// SRCCOPY with the nearest source pixel: destination step i of |w| takes
// source step (2i + 1) * |sw| / (2 |w|), the source pixel under the centre of
// the destination pixel. A negative extent runs its axis backwards from its
// origin (step k at origin - 1 - k), so opposite signs mirror the picture.
// Pixels outside either bitmap are left out.
BOOL WINAPI StretchBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, int sw, int sh,
                       DWORD rop) {
  BitmapView to, from;
  if (rop != SRCCOPY || !SelectedBitmap(dst, &to) || !SelectedBitmap(src, &from)) return 0;
  if (w == 0 || h == 0 || sw == 0 || sh == 0) return 1;
  const int64_t cw = std::llabs(int64_t{w}), ch = std::llabs(int64_t{h});
  const int64_t csw = std::llabs(int64_t{sw}), csh = std::llabs(int64_t{sh});
  const Span rows = StepsInside(y, h > 0, ch, to.height);
  const Span columns = StepsInside(x, w > 0, cw, to.width);
  for (int64_t j = rows.first; j < rows.end; ++j) {
    const int64_t fy = Along(sy, sh > 0, (2 * j + 1) * csh / (2 * ch));
    if (fy < 0 || fy >= from.height) continue;
    const auto ty = static_cast<int32_t>(Along(y, h > 0, j));
    for (int64_t i = columns.first; i < columns.end; ++i) {
      const int64_t fx = Along(sx, sw > 0, (2 * i + 1) * csw / (2 * cw));
      if (fx < 0 || fx >= from.width) continue;
      WritePixel(to, static_cast<int32_t>(Along(x, w > 0, i)), ty,
                 ReadPixel(from, static_cast<int32_t>(fx), static_cast<int32_t>(fy)));
    }
  }
  return 1;
}
