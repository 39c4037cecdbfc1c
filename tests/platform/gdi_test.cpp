// The platform stand-in's DCs, DIB sections and BitBlt, which the actors and
// the stand-in host share: handles checked, Win32's row layout, SRCCOPY
// clipped to both bitmaps, and pixel blocks against guard pages.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "platform/win32.h"

#if !defined(_WIN32)
ORV_PLATFORM_API int32_t OrvLiveGdiObjects();
#endif

namespace {

struct Info {
  BITMAPINFOHEADER header;
  RGBQUAD colours[256];
};

Info InfoOf(int32_t width, int32_t height, int bits) {
  Info info{};
  info.header =
      BITMAPINFOHEADER{40, width, height, 1, static_cast<WORD>(bits), BI_RGB, 0, 0, 0, 0, 0};
  for (int i = 0; i < 256; ++i)
    info.colours[i] = RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(255 - i), 7, 0};
  return info;
}

// A DIB selected into a DC of its own.
struct Dib {
  Dib(int32_t w, int32_t h, int bits) : width(w), height(h), bits(bits) {
    const Info info = InfoOf(w, h, bits);
    dc = CreateCompatibleDC(nullptr);
    void* block = nullptr;
    bitmap = CreateDIBSection(dc, reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS,
                              &block, nullptr, 0);
    pixels = static_cast<uint8_t*>(block);
    previous = SelectObject(dc, bitmap);
    stride = ((w * bits + 31) / 32) * 4;
  }
  ~Dib() {
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  uint8_t* Row(int32_t y) { return pixels + (height - 1 - y) * stride; }
  uint32_t Get(int32_t x, int32_t y) {
    uint32_t v = 0;
    std::memcpy(&v, Row(y) + x * (bits / 8), static_cast<size_t>(bits / 8));
    return v;
  }
  void Set(int32_t x, int32_t y, uint32_t v) {
    std::memcpy(Row(y) + x * (bits / 8), &v, static_cast<size_t>(bits / 8));
  }
  void Fill(uint32_t seed) {
    std::mt19937 random(seed);
    for (int32_t i = 0; i < stride * height; ++i) pixels[i] = static_cast<uint8_t>(random());
  }

  int32_t width, height, bits, stride;
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ previous;
  uint8_t* pixels;
};

TEST(StandInGdi, UnknownAndStaleHandlesFailCleanly) {
  const int32_t live = OrvLiveGdiObjects();
  const auto bogusDC = reinterpret_cast<HDC>(0x1234);
  const auto bogusObject = reinterpret_cast<HGDIOBJ>(0x5678);
  {
    Dib dib(4, 4, 32);
    EXPECT_EQ(CreateCompatibleDC(bogusDC), nullptr);
    EXPECT_EQ(SelectObject(bogusDC, dib.bitmap), nullptr);
    EXPECT_EQ(SelectObject(dib.dc, bogusObject), nullptr);
    EXPECT_EQ(SelectObject(dib.dc, dib.dc), nullptr) << "a DC is not a bitmap";
    EXPECT_EQ(DeleteDC(bogusDC), 0);
    EXPECT_EQ(DeleteObject(bogusObject), 0);
    EXPECT_EQ(DeleteObject(dib.dc), 0);
    BITMAP b{};
    EXPECT_EQ(GetObjectA(bogusObject, sizeof b, &b), 0);
    EXPECT_EQ(BitBlt(bogusDC, 0, 0, 2, 2, dib.dc, 0, 0, SRCCOPY), 0);
    EXPECT_EQ(BitBlt(dib.dc, 0, 0, 2, 2, bogusDC, 0, 0, SRCCOPY), 0);
    const Info info = InfoOf(4, 4, 32);
    EXPECT_EQ(CreateDIBSection(bogusDC, reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS,
                               nullptr, nullptr, 0),
              nullptr);
  }
  EXPECT_EQ(OrvLiveGdiObjects(), live);
  // Deleted handles are unknown from then on.
  HDC dc = CreateCompatibleDC(nullptr);
  const Info info = InfoOf(4, 4, 16);
  HBITMAP bitmap = CreateDIBSection(dc, reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS,
                                    nullptr, nullptr, 0);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(DeleteObject(bitmap), 1);
  EXPECT_EQ(DeleteObject(bitmap), 0);
  EXPECT_EQ(SelectObject(dc, bitmap), nullptr);
  EXPECT_EQ(DeleteDC(dc), 1);
  EXPECT_EQ(DeleteDC(dc), 0);
  EXPECT_EQ(CreateCompatibleDC(dc), nullptr);
  EXPECT_EQ(OrvLiveGdiObjects(), live);
}

TEST(StandInGdi, DibSectionsHaveWin32RowsAndRefuseWhatTheyCannotHold) {
  struct Case {
    int32_t width;
    int bits;
    int32_t stride;
  };
  for (const Case& k : {Case{101, 24, 304}, Case{5, 8, 8}, Case{5, 16, 12}, Case{5, 32, 20},
                        Case{1, 24, 4}, Case{640, 16, 1280}}) {
    SCOPED_TRACE(::testing::Message() << k.width << " x " << k.bits);
    Dib dib(k.width, 7, k.bits);
    ASSERT_NE(dib.bitmap, nullptr);
    BITMAP b{};
    EXPECT_EQ(GetObjectA(dib.bitmap, 0, nullptr), static_cast<int>(sizeof(BITMAP)));
    EXPECT_EQ(GetObjectA(dib.bitmap, sizeof(BITMAP) - 1, &b), 0);
    EXPECT_EQ(GetObjectA(dib.bitmap, sizeof b, &b), static_cast<int>(sizeof(BITMAP)));
    EXPECT_EQ(b.bmWidth, k.width);
    EXPECT_EQ(b.bmHeight, 7);
    EXPECT_EQ(b.bmWidthBytes, k.stride);
    EXPECT_EQ(b.bmPlanes, 1);
    EXPECT_EQ(b.bmBitsPixel, k.bits);
    EXPECT_EQ(b.bmBits, dib.pixels);
    for (int32_t i = 0; i < k.stride * 7; ++i) ASSERT_EQ(dib.pixels[i], 0) << "zeroed";
  }
  auto refused = [](Info info, UINT usage = DIB_RGB_COLORS, void* section = nullptr) {
    void* bits = reinterpret_cast<void*>(1);
    HBITMAP b = CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(&info), usage, &bits,
                                 section, 0);
    return b == nullptr && bits == nullptr;
  };
  Info info = InfoOf(8, 8, 12);
  EXPECT_TRUE(refused(info)) << "12 bits";
  EXPECT_TRUE(refused(InfoOf(0, 8, 32))) << "no width";
  EXPECT_TRUE(refused(InfoOf(8, 0, 32))) << "no height";
  info = InfoOf(8, 8, 8);
  info.header.biCompression = BI_RLE8;
  EXPECT_TRUE(refused(info)) << "compressed";
  EXPECT_TRUE(refused(InfoOf(8, 8, 32), 1)) << "palette indexes";
  int section = 0;
  EXPECT_TRUE(refused(InfoOf(8, 8, 32), DIB_RGB_COLORS, &section)) << "a file mapping";
  EXPECT_EQ(CreateDIBSection(nullptr, nullptr, DIB_RGB_COLORS, nullptr, nullptr, 0), nullptr);
}

TEST(StandInGdi, ABitmapLivesInOneDCAndIsDeletedOnlyOnceOut) {
  Dib a(4, 4, 32);
  HDC other = CreateCompatibleDC(nullptr);
  // A new DC holds the 1 x 1 one-bit stock bitmap.
  const HGDIOBJ stock = a.previous;
  BITMAP b{};
  ASSERT_EQ(GetObjectA(stock, sizeof b, &b), static_cast<int>(sizeof b));
  EXPECT_EQ(b.bmWidth, 1);
  EXPECT_EQ(b.bmBitsPixel, 1);
  EXPECT_EQ(SelectObject(other, a.bitmap), nullptr) << "already in a DC";
  EXPECT_EQ(DeleteObject(a.bitmap), 0) << "still selected";
  EXPECT_EQ(SelectObject(other, stock), stock) << "the stock bitmap goes anywhere";
  EXPECT_EQ(DeleteObject(stock), 1) << "deleting a stock object does nothing";
  EXPECT_EQ(SelectObject(a.dc, stock), a.bitmap);
  EXPECT_EQ(SelectObject(other, a.bitmap), stock);
  EXPECT_EQ(DeleteDC(other), 1);
  EXPECT_EQ(SelectObject(a.dc, a.bitmap), stock) << "free again once its DC is gone";
}

TEST(StandInGdi, BitBltCopiesTheRectangleClippedToBothBitmaps) {
  for (int bits : {16, 24, 32}) {
    SCOPED_TRACE(bits);
    Dib to(20, 10, bits), from(15, 12, bits);
    std::mt19937 random(static_cast<uint32_t>(bits));
    for (int n = 0; n < 300; ++n) {
      to.Fill(random());
      from.Fill(random());
      std::uniform_int_distribution<int> coordinate(-25, 25), extent(-3, 30);
      const int x = coordinate(random), y = coordinate(random), sx = coordinate(random),
                sy = coordinate(random), w = extent(random), h = extent(random);
      std::vector<uint8_t> expected(to.pixels, to.pixels + to.stride * to.height);
      for (int Y = 0; Y < to.height; ++Y)
        for (int X = 0; X < to.width; ++X) {
          const int fx = X - x + sx, fy = Y - y + sy;
          if (X < x || X >= x + w || Y < y || Y >= y + h) continue;
          if (fx < 0 || fx >= from.width || fy < 0 || fy >= from.height) continue;
          std::memcpy(expected.data() + (to.height - 1 - Y) * to.stride + X * (bits / 8),
                      from.Row(fy) + fx * (bits / 8), static_cast<size_t>(bits / 8));
        }
      ASSERT_EQ(BitBlt(to.dc, x, y, w, h, from.dc, sx, sy, SRCCOPY), 1);
      ASSERT_EQ(std::memcmp(expected.data(), to.pixels, expected.size()), 0)
          << x << "," << y << " " << w << "x" << h << " from " << sx << "," << sy;
    }
    // Only SRCCOPY.
    const std::vector<uint8_t> before(to.pixels, to.pixels + to.stride * to.height);
    EXPECT_EQ(BitBlt(to.dc, 0, 0, 5, 5, from.dc, 0, 0, 0x00EE0086), 0);
    EXPECT_EQ(std::memcmp(before.data(), to.pixels, before.size()), 0);
  }
}

TEST(StandInGdi, BitBltWithinOneBitmapCopiesTheSourceAsItWas) {
  Dib dib(12, 6, 32);
  for (int32_t y = 0; y < 6; ++y)
    for (int32_t x = 0; x < 12; ++x) dib.Set(x, y, static_cast<uint32_t>(y * 100 + x));
  ASSERT_EQ(BitBlt(dib.dc, 3, 1, 8, 4, dib.dc, 0, 0, SRCCOPY), 1);
  for (int32_t y = 1; y < 5; ++y)
    for (int32_t x = 3; x < 11; ++x)
      EXPECT_EQ(dib.Get(x, y), static_cast<uint32_t>((y - 1) * 100 + x - 3));
}

TEST(StandInGdi, BitBltConvertsBetweenDepths) {
  Dib d16(2, 1, 16), d24(2, 1, 24), d32(2, 1, 32), d8(2, 1, 8);
  d16.Set(0, 0, 0x7FFF);
  d16.Set(1, 0, 0x001F);
  ASSERT_EQ(BitBlt(d32.dc, 0, 0, 2, 1, d16.dc, 0, 0, SRCCOPY), 1);
  EXPECT_EQ(d32.Get(0, 0), 0x00FFFFFFu);
  EXPECT_EQ(d32.Get(1, 0), 0x000000FFu);
  d24.Set(0, 0, 0xFA140A);  // red 250, green 20, blue 10
  ASSERT_EQ(BitBlt(d16.dc, 0, 0, 1, 1, d24.dc, 0, 0, SRCCOPY), 1);
  EXPECT_EQ(d16.Get(0, 0), (31u << 10) | (2u << 5) | 1u);
  d8.Set(1, 0, 200);  // palette entry 200: blue 200, green 55, red 7
  ASSERT_EQ(BitBlt(d24.dc, 0, 0, 2, 1, d8.dc, 0, 0, SRCCOPY), 1);
  EXPECT_EQ(d24.Get(1, 0), 0x0737C8u);
  EXPECT_EQ(BitBlt(d8.dc, 0, 0, 2, 1, d32.dc, 0, 0, SRCCOPY), 0) << "no colour matching";
}

uint8_t ReadAt(const uint8_t* p) { return *static_cast<const volatile uint8_t*>(p); }

TEST(StandInGdiDeathTest, PixelBlocksSitBetweenGuardPages) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // 64 x 16 pixels of 4 bytes fill one page: both ends are guarded.
  Dib dib(64, 16, 32);
  EXPECT_EQ(ReadAt(dib.pixels) + ReadAt(dib.pixels + 4095), 0);
  EXPECT_DEATH(ReadAt(dib.pixels + 4096), "");
  EXPECT_DEATH(ReadAt(dib.pixels - 1), "");
}

}  // namespace
