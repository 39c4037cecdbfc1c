// Memory device contexts and DIB sections, as the system's graphics services
// provide them: a DC made by the host is known to the module and back, and
// every handle is checked against the objects alive, so that a stale or
// foreign handle fails the call instead of touching memory.
//
// Each DIB's pixels sit in their own mapping between two inaccessible pages,
// the block's last byte right against the upper one: a read or write past
// the block faults at once (and before it too, when the block fills its pages).
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "platform/standin/gdi_draw.h"
#include "platform/win32.h"

namespace {

struct Bitmap {
  int32_t width = 0;
  int32_t height = 0;  // rows, whatever the orientation
  int32_t bits = 0;
  bool topDown = false;
  size_t stride = 0;  // bytes per row, a multiple of 4
  uint8_t* pixels = nullptr;
  uint8_t* mapping = nullptr;
  size_t mappingBytes = 0;
  std::vector<RGBQUAD> palette;
  HDC selectedInto = nullptr;
  bool stock = false;

  uint8_t* Row(int64_t y) const {
    const int64_t memoryRow = topDown ? y : height - 1 - y;
    return pixels + static_cast<size_t>(memoryRow) * stride;
  }
};

struct DeviceContext {
  Bitmap* bitmap = nullptr;
};

// Never destroyed: DCs and bitmaps may outlive the exit handlers in modules
// that are unloaded last.
struct Objects {
  std::map<HDC, std::unique_ptr<DeviceContext>> dcs;
  std::map<HGDIOBJ, std::unique_ptr<Bitmap>> bitmaps;
  Bitmap* defaultBitmap = nullptr;  // what a new memory DC holds: 1 x 1, 1 bit
};

Objects& Live() {
  static Objects& objects = []() -> Objects& {
    auto* o = new Objects;
    auto stock = std::make_unique<Bitmap>();
    stock->width = stock->height = 1;
    stock->bits = 1;
    stock->stride = 4;
    stock->stock = true;
    o->defaultBitmap = stock.get();
    o->bitmaps[stock.get()] = std::move(stock);
    return *o;
  }();
  return objects;
}

DeviceContext* FindDC(HDC dc) {
  auto& dcs = Live().dcs;
  auto it = dcs.find(dc);
  return it == dcs.end() ? nullptr : it->second.get();
}

Bitmap* FindBitmap(HGDIOBJ object) {
  auto& bitmaps = Live().bitmaps;
  auto it = bitmaps.find(object);
  return it == bitmaps.end() ? nullptr : it->second.get();
}

// Pixels between two inaccessible pages, the block ending against the upper one.
bool MapPixels(Bitmap& b, size_t bytes) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t span = (bytes + page - 1) / page * page;
  if (span < bytes || span > SIZE_MAX - 2 * page) return false;
  void* map =
      mmap(nullptr, span + 2 * page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (map == MAP_FAILED) return false;
  auto* base = static_cast<uint8_t*>(map);
  if (span && mprotect(base + page, span, PROT_READ | PROT_WRITE) != 0) {
    munmap(map, span + 2 * page);
    return false;
  }
#if defined(MADV_HUGEPAGE)
  // A large image in huge pages where the system grants them: first touches
  // fault a few times, not once a page. Only advice; small pages serve too.
  if (span >= (size_t(2) << 20)) madvise(base + page, span, MADV_HUGEPAGE);
#endif
  b.mapping = base;
  b.mappingBytes = span + 2 * page;
  b.pixels = base + page + (span - bytes);
  return true;
}

struct Rgb {
  uint8_t r, g, b;
};

Rgb ReadPixel(const Bitmap& b, const uint8_t* p) {
  switch (b.bits) {
    case 8: {
      const RGBQUAD q = p[0] < b.palette.size() ? b.palette[p[0]] : RGBQUAD{0, 0, 0, 0};
      return {q.rgbRed, q.rgbGreen, q.rgbBlue};
    }
    case 16: {
      const unsigned v = p[0] | (p[1] << 8);
      auto widen = [](unsigned field) { return static_cast<uint8_t>((field << 3) | (field >> 2)); };
      return {widen((v >> 10) & 31), widen((v >> 5) & 31), widen(v & 31)};
    }
    default:
      return {p[2], p[1], p[0]};
  }
}

void WritePixel(const Bitmap& b, uint8_t* p, Rgb c) {
  switch (b.bits) {
    case 16: {
      const unsigned v = ((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3);
      p[0] = static_cast<uint8_t>(v);
      p[1] = static_cast<uint8_t>(v >> 8);
      break;
    }
    case 24:
      p[0] = c.b, p[1] = c.g, p[2] = c.r;
      break;
    default:
      p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = 0;
      break;
  }
}

}  // namespace

HDC WINAPI CreateCompatibleDC(HDC dc) {
  if (dc && !FindDC(dc)) return nullptr;
  auto made = std::make_unique<DeviceContext>();
  made->bitmap = Live().defaultBitmap;
  HDC handle = reinterpret_cast<HDC>(made.get());
  Live().dcs[handle] = std::move(made);
  return handle;
}

BOOL WINAPI DeleteDC(HDC dc) {
  DeviceContext* context = FindDC(dc);
  if (!context) return 0;
  if (!context->bitmap->stock) context->bitmap->selectedInto = nullptr;
  orv::standin::ForgetPensAndBrushes(dc);
  Live().dcs.erase(dc);
  return 1;
}

HBITMAP WINAPI CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits,
                                void* section, DWORD) {
  if (bits) *bits = nullptr;
  if (dc && !FindDC(dc)) return nullptr;
  if (!info || section || usage != DIB_RGB_COLORS) return nullptr;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biPlanes != 1 || h.biCompression != BI_RGB)
    return nullptr;
  if (h.biBitCount != 8 && h.biBitCount != 16 && h.biBitCount != 24 && h.biBitCount != 32)
    return nullptr;
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) return nullptr;

  auto b = std::make_unique<Bitmap>();
  b->width = h.biWidth;
  b->topDown = h.biHeight < 0;
  b->height = b->topDown ? -h.biHeight : h.biHeight;
  b->bits = h.biBitCount;
  const uint64_t stride = (static_cast<uint64_t>(b->width) * b->bits + 31) / 32 * 4;
  const uint64_t bytes = stride * static_cast<uint64_t>(b->height);
  if (bytes > SIZE_MAX / 2) return nullptr;
  b->stride = static_cast<size_t>(stride);
  if (b->bits == 8) {
    const DWORD colours = h.biClrUsed && h.biClrUsed < 256 ? h.biClrUsed : 256;
    const auto* table =
        reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const uint8_t*>(info) + h.biSize);
    b->palette.assign(table, table + colours);
  }
  if (!MapPixels(*b, static_cast<size_t>(bytes))) return nullptr;
  if (bits) *bits = b->pixels;
  HBITMAP handle = reinterpret_cast<HBITMAP>(b.get());
  Live().bitmaps[handle] = std::move(b);
  return handle;
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
  DeviceContext* context = FindDC(dc);
  if (context && orv::standin::IsPenOrBrush(object))
    return orv::standin::SelectPenOrBrush(dc, object);
  Bitmap* b = FindBitmap(object);
  if (!context || !b) return nullptr;
  // A bitmap lives in one DC at a time; the stock one may be in many.
  if (!b->stock && b->selectedInto && b->selectedInto != dc) return nullptr;
  Bitmap* previous = context->bitmap;
  if (!previous->stock) previous->selectedInto = nullptr;
  if (!b->stock) b->selectedInto = dc;
  context->bitmap = b;
  return previous;
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
  if (orv::standin::IsPenOrBrush(object)) return 1;  // stock: nothing to delete
  Bitmap* b = FindBitmap(object);
  if (!b) return 0;
  if (b->stock) return 1;
  if (b->selectedInto) return 0;
  if (b->mapping) munmap(b->mapping, b->mappingBytes);
  Live().bitmaps.erase(object);
  return 1;
}

int WINAPI GetObjectA(HGDIOBJ object, int size, void* out) {
  const Bitmap* b = FindBitmap(object);
  if (!b) return 0;
  if (!out) return static_cast<int>(sizeof(BITMAP));
  if (size < static_cast<int>(sizeof(BITMAP))) return 0;
  BITMAP description{};
  description.bmWidth = b->width;
  description.bmHeight = b->height;
  description.bmWidthBytes = static_cast<LONG>(b->stride);
  description.bmPlanes = 1;
  description.bmBitsPixel = static_cast<WORD>(b->bits);
  description.bmBits = b->pixels;
  std::memcpy(out, &description, sizeof description);
  return static_cast<int>(sizeof(BITMAP));
}

// SRCCOPY only, clipped to both bitmaps; pixels of another depth are
// converted through 8-bit RGB. Copying into an 8-bit bitmap from another
// depth is not offered.
BOOL WINAPI BitBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop) {
  DeviceContext* to = FindDC(dst);
  DeviceContext* from = FindDC(src);
  if (!to || !from || rop != SRCCOPY) return 0;
  const Bitmap& d = *to->bitmap;
  const Bitmap& s = *from->bitmap;
  if (!d.pixels || !s.pixels) return 0;
  if (d.bits != s.bits && d.bits == 8) return 0;

  // Clip in 64 bits: the destination first, then the source, moving both together.
  int64_t dx = x, dy = y, ox = sx, oy = sy, cw = w, ch = h;
  auto clip = [&](int64_t& a, int64_t& other, int64_t& extent, int64_t limit) {
    if (a < 0) {
      extent += a;
      other -= a;
      a = 0;
    }
    if (a + extent > limit) extent = limit - a;
  };
  clip(dx, ox, cw, d.width);
  clip(dy, oy, ch, d.height);
  clip(ox, dx, cw, s.width);
  clip(oy, dy, ch, s.height);
  if (cw <= 0 || ch <= 0) return 1;

  const size_t sourceBytes = static_cast<size_t>(s.bits / 8);
  const size_t targetBytes = static_cast<size_t>(d.bits / 8);
  // A copy within one bitmap may overlap: take the source rows first.
  std::vector<uint8_t> held;
  if (&d == &s) {
    held.resize(static_cast<size_t>(cw * ch) * sourceBytes);
    for (int64_t r = 0; r < ch; ++r)
      std::memcpy(held.data() + static_cast<size_t>(r * cw) * sourceBytes,
                  s.Row(oy + r) + static_cast<size_t>(ox) * sourceBytes,
                  static_cast<size_t>(cw) * sourceBytes);
  }
  // Rows in the order they lie in the destination's memory: a bottom-up
  // bitmap (the usual DIB) from its last row up.
  for (int64_t k = 0; k < ch; ++k) {
    const int64_t r = d.topDown ? k : ch - 1 - k;
    const uint8_t* in = held.empty() ? s.Row(oy + r) + static_cast<size_t>(ox) * sourceBytes
                                     : held.data() + static_cast<size_t>(r * cw) * sourceBytes;
    uint8_t* out = d.Row(dy + r) + static_cast<size_t>(dx) * targetBytes;
    if (d.bits == s.bits) {
      std::memcpy(out, in, static_cast<size_t>(cw) * sourceBytes);
      continue;
    }
    for (int64_t c = 0; c < cw; ++c)
      WritePixel(d, out + static_cast<size_t>(c) * targetBytes,
                 ReadPixel(s, in + static_cast<size_t>(c) * sourceBytes));
  }
  return 1;
}

// For StretchBlt (gdi_draw.cpp).
bool orv::standin::SelectedBitmap(HDC dc, BitmapView* view) {
  const DeviceContext* context = FindDC(dc);
  if (!context || !context->bitmap->pixels) return false;
  const Bitmap& b = *context->bitmap;
  *view = BitmapView{b.width,  b.height, b.bits,           b.topDown,
                     b.stride, b.pixels, b.palette.data(), b.palette.size()};
  return true;
}

// DCs and bitmaps alive, the stock bitmap left out: 0 once everything made
// has been deleted.
ORV_PLATFORM_API int32_t OrvLiveGdiObjects() {
  return static_cast<int32_t>(Live().dcs.size() + Live().bitmaps.size()) - 1;
}
