// The options dialog, the about box and the thumbnail through the loaded
// module, with the stand-in host's dialog runner and the platform stand-in's
// windows and drawing; and the dialog and bitmap resources they are built from.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/dialog_runner.h"
#include "host/member.h"
#include "host/stand_in_host.h"
#include "platform/standin/gdi_draw.h"
#include "platform/standin/resources.h"
#include "platform/standin/ui.h"
#include "tests/dialogs/dialog_fixture.h"
#include "tests/support/actor_classes.h"
#include "tests/support/asset_peek.h"

using namespace orv::module;

using orvhost::Surface;

int LiveWindows() { return OrvLiveWindows(); }

namespace {

constexpr HResult kNoService = static_cast<HResult>(0x80040004);
constexpr int kWhiteBrush = 0;
constexpr int kWhitePen = 6;
constexpr int kBlackPen = 7;

// ---- independent models ----

// A picture read from a .bmp file of resources/: 8 bits with a palette,
// uncompressed or RLE8; 0x00RRGGBB, top row first.
struct Image {
  int32_t width = 0, height = 0;
  uint32_t compression = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int32_t x, int32_t y) const {
    return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
};

uint32_t Le32(const std::vector<uint8_t>& d, size_t at) {
  return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}

Image ReadBmp(const std::string& file) {
  std::ifstream in(std::string(ORV_SOURCE_DIR) + "/resources/" + file, std::ios::binary);
  std::vector<uint8_t> d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Image image;
  if (d.size() < 54 + 1024) return image;
  image.width = static_cast<int32_t>(Le32(d, 18));
  image.height = static_cast<int32_t>(Le32(d, 22));
  image.compression = Le32(d, 30);
  const size_t offset = Le32(d, 10);
  auto colour = [&](uint8_t index) {
    const size_t at = 54 + 4u * index;
    return static_cast<uint32_t>(d[at + 2]) << 16 | d[at + 1] << 8 | d[at];
  };
  std::vector<uint8_t> indexes(static_cast<size_t>(image.width * image.height), 0);
  auto put = [&](int32_t x, int32_t storedRow, uint8_t v) {
    if (x < image.width && storedRow < image.height)
      indexes[static_cast<size_t>((image.height - 1 - storedRow) * image.width + x)] = v;
  };
  if (image.compression == 0) {
    const int32_t stride = (image.width + 3) / 4 * 4;
    for (int32_t r = 0; r < image.height; ++r)
      for (int32_t x = 0; x < image.width; ++x)
        put(x, r, d[offset + static_cast<size_t>(r * stride + x)]);
  } else {
    int32_t x = 0, r = 0;
    for (size_t i = offset; i + 1 < d.size();) {
      const uint8_t a = d[i], b = d[i + 1];
      i += 2;
      if (a) {
        for (int k = 0; k < a; ++k) put(x++, r, b);
      } else if (b == 0) {
        x = 0, ++r;
      } else if (b == 1) {
        break;
      } else if (b == 2) {
        x += d[i], r += d[i + 1], i += 2;
      } else {
        for (int k = 0; k < b; ++k) put(x++, r, d[i + static_cast<size_t>(k)]);
        i += b + (b & 1u);
      }
    }
  }
  for (uint8_t v : indexes) image.pixels.push_back(colour(v));
  return image;
}

// The nearest-neighbour copy: destination step i of n takes source step
// floor((i + 1/2) * m / n), the source pixel under its centre.
int32_t SourceStep(int32_t i, int32_t n, int32_t m) {
  return static_cast<int32_t>((2 * int64_t{i} + 1) * m / (2 * int64_t{n}));
}

// A surface pixel as 0x00RRGGBB.
uint32_t SurfacePixel(Surface& s, int32_t x, int32_t y) {
  const uint8_t* p = s.Row(y) + x * (s.depth / 8);
  if (s.depth == 16) {
    const uint32_t v = p[0] | p[1] << 8;
    return ((v >> 10) & 31) << 16 | ((v >> 5) & 31) << 8 | (v & 31);
  }
  return static_cast<uint32_t>(p[2]) << 16 | p[1] << 8 | p[0];
}

// What a colour becomes on a surface of depth (5-bit fields at 16 bits).
uint32_t AsStored(uint32_t c, int32_t depth) {
  if (depth != 16) return c;
  return ((c >> 19) & 31) << 16 | ((c >> 11) & 31) << 8 | ((c >> 3) & 31);
}

void FillSentinel(Surface& s) {
  std::memset(s.pixels, 0x5A, static_cast<size_t>(s.rowBytes) * static_cast<size_t>(s.height));
}

HGDIOBJ CurrentPen(HDC dc) {
  HGDIOBJ pen = SelectObject(dc, GetStockObject(NULL_PEN));
  SelectObject(dc, pen);
  return pen;
}

HGDIOBJ CurrentBrush(HDC dc) {
  HGDIOBJ brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  SelectObject(dc, brush);
  return brush;
}

// The module's base address: its instance handle, as the module stores it.
HMODULE ModuleBase(Host& host) {
  Dl_info info{};
  dladdr(dlsym(host.module().handle(), "DllGetClassForm"), &info);
  return static_cast<HMODULE>(info.dli_fbase);
}

// ---- the fixture: a registered module, members placed from its entries ----

class DialogsTest : public DialogFixture {
 protected:
  void SetUp() override {
    DialogFixture::SetUp();
    gdiBefore = OrvLiveGdiObjects();
  }
  void TearDown() override {
    for (Member& m : members) m.Release();
    surfaces.clear();
    EXPECT_EQ(OrvLiveGdiObjects(), gdiBefore) << "GDI objects left behind";
    DialogFixture::TearDown();
  }

  Surface& NewSurface(int32_t width, int32_t height, int32_t depth) {
    surfaces.push_back(host.NewSurface("thumb", width, height, depth));
    FillSentinel(*surfaces.back());
    return *surfaces.back();
  }

  HResult Paint(Member& m, Surface& s, HostRect rect) {
    host.calls.clear();
    return m.ops().PaintThumbnail(m.asset, &s, &rect);
  }

  // The calls of one dialog, in order, with the closing token left out.
  std::vector<std::string> BracketCalls() const {
    std::vector<std::string> calls = host.calls;
    for (std::string& c : calls)
      if (c.rfind("EndUsingResources ", 0) == 0) c = "EndUsingResources";
    return calls;
  }

  std::vector<std::unique_ptr<Surface>> surfaces;
  int32_t gdiBefore = 0;
};

// ---- options dialog ----

TEST_F(DialogsTest, OptionsRunsDialog119ThroughTheBracketWithTheAssetAsParameter) {
  for (int index = 0; index < kTransitionsKnown; ++index) {
    SCOPED_TRACE("index " + std::to_string(index));
    Member& m = Place(index);
    const DialogRun& run = Options(m, "escape");
    EXPECT_EQ(run.dialogId, 119);
    EXPECT_EQ(run.module, ModuleBase(host));
    EXPECT_EQ(run.param, reinterpret_cast<LPARAM>(m.asset));
    EXPECT_TRUE(run.created);
    EXPECT_EQ(BracketCalls(), (std::vector<std::string>{
                                  "BeginUsingResources", "callback.QueryInterface HostUtilities",
                                  "RunDialogParam 119", "Utilities.Release", "EndUsingResources"}));
  }
}

TEST_F(DialogsTest, EveryColourOpensWithItsButtonAndAnyOtherWithRed) {
  const struct {
    int32_t value;
    int button;
  } cases[] = {{0, kRed},   {1, 1005},         {2, 1006},        {3, kCyan}, {4, 1008},
               {5, 1009},   {6, 1010},         {7, kRed},        {9, kRed},  {-1, kRed},
               {255, kRed}, {INT32_MIN, kRed}, {INT32_MAX, kRed}};
  for (const auto& c : cases) {
    SCOPED_TRACE("ColorChoice " + std::to_string(c.value));
    Member& m = FromMedia(c.value);
    const DialogRun& run = Options(m, "escape");
    EXPECT_EQ(CheckedButtons(run.afterInit), std::vector<int>{c.button});
    EXPECT_EQ(AssetFieldsOf(m).colorChoice, c.value) << "Cancel keeps the value, even out of range";
  }
}

TEST_F(DialogsTest, ActionsAfterTheEndAreNotApplied) {
  Member& m = Place();
  const DialogRun& run = Options(m, "click 1007; enter; click 1005; enter");
  EXPECT_EQ(run.actionsApplied, 2);
  EXPECT_EQ(AssetFieldsOf(m).colorChoice, 3);
}

TEST_F(DialogsTest, ClicksOnTheGroupBoxOrMissingControlsChangeNothing) {
  Member& m = Place();
  const DialogRun& run = Options(m, "click -1; click 4242; enter");
  EXPECT_EQ(run.actionsApplied, 1) << "only Enter reached the dialog";
  EXPECT_EQ(AssetFieldsOf(m).colorChoice, kBlackAndWhite);
}

TEST_F(DialogsTest, OptionsDialogIsCentredOnItsParent) {
  // The dialog's window: 187 x 86 units of 6/4 x 13/8 pixels, rounded, in a
  // 3-pixel frame under an 18-pixel caption.
  const int32_t w = 281 + 6, h = 140 + 24;
  const RECT parents[] = {
      {96, 64, 736, 544},      // even sums
      {11, 7, 650, 501},       // odd sums: the halves truncate
      {-300, -201, -14, -50},  // negative odd sums truncate towards zero
      {-5000, -4000, -4990, -3990},
      {700, 500, 100, 60},  // right of its left, bottom above its top
      // Sums beyond 32 bits: formed in 64, the middle still fits.
      {2147483000, 2147482000, 2147483600, 2147482300},
      {-2147483600, -2147483000, -2147483000, -2147482800},
  };
  Member& m = Place();
  for (const RECT& p : parents) {
    SCOPED_TRACE(std::to_string(p.left) + "," + std::to_string(p.top) + "," +
                 std::to_string(p.right) + "," + std::to_string(p.bottom));
    runner.ownerRect = p;
    const DialogRun& run = Options(m, "escape");
    const int64_t x = (int64_t{p.left} + p.right - w) / 2;
    const int64_t y = (int64_t{p.top} + p.bottom - h) / 2;
    EXPECT_EQ(run.rectAfterInit.left, x);
    EXPECT_EQ(run.rectAfterInit.top, y);
    EXPECT_EQ(run.rectAfterInit.right, x + w);
    EXPECT_EQ(run.rectAfterInit.bottom, y + h);
  }
  // The truncation itself: -601 / 2 is -300, not -301.
  runner.ownerRect = {-300, -201, -14, -50};
  EXPECT_EQ(Options(m, "escape").rectAfterInit.left, -300);
  EXPECT_EQ(Options(m, "escape").rectAfterInit.top, -207);
}

TEST_F(DialogsTest, OptionsDialogWithoutParentStaysWhereTheTemplatePutsIt) {
  runner.hasOwner = false;
  Member& m = Place();
  const DialogRun& run = Options(m, "click 1006; enter");
  EXPECT_EQ(run.rectAfterInit.left, 0);
  EXPECT_EQ(run.rectAfterInit.top, 0);
  EXPECT_EQ(run.rectAfterInit.right, 287);
  EXPECT_EQ(run.rectAfterInit.bottom, 164);
  EXPECT_EQ(AssetFieldsOf(m).colorChoice, 2);
}

TEST_F(DialogsTest, WithoutHostUtilitiesNoDialogAndTheBracketCloses) {
  host.refuseUtilities = true;
  Member& m = Place();
  host.calls.clear();
  EXPECT_EQ(m.ops().RunOptions(m.asset), kNoService);
  EXPECT_EQ(BracketCalls(), (std::vector<std::string>{"BeginUsingResources",
                                                      "callback.QueryInterface HostUtilities",
                                                      "EndUsingResources"}));
  host.calls.clear();
  EXPECT_EQ(m.ops().RunAbout(m.asset), kNoService);
  EXPECT_EQ(host.calls.size(), 3u);
  EXPECT_TRUE(runner.runs.empty());
  EXPECT_EQ(AssetFieldsOf(m).colorChoice, kBlackAndWhite);
}

TEST_F(DialogsTest, MissingTemplateLeavesTheColourAndStillReturnsZero) {
  Member& m = FromMedia(4);
  OrvSetResourceFault(RT_DIALOG, MAKEINTRESOURCEA(119), kResourceHidden);
  const DialogRun& run = Options(m, "click 1007; enter");
  OrvSetResourceFault(RT_DIALOG, MAKEINTRESOURCEA(119), kResourcePresent);
  EXPECT_FALSE(run.created);
  EXPECT_EQ(AssetFieldsOf(m).colorChoice, 4);
  OrvSetResourceFault(RT_DIALOG, MAKEINTRESOURCEA(130), kResourceUnloadable);
  EXPECT_FALSE(About(m, "enter").created);
  OrvSetResourceFault(RT_DIALOG, MAKEINTRESOURCEA(130), kResourcePresent);
}

TEST_F(DialogsTest, OptionsDialogShowsEveryControlOfTheTemplate) {
  Member& m = Place();
  const DialogRun& run = Options(m, "escape");
  const struct {
    int id;
    const char* text;
    bool tabStop;
  } expected[] = {{1, "OK", true},         {2, "Cancel", true},
                  {1004, "Red", false},    {-1, "Transition Color", false},
                  {1005, "Green", false},  {1006, "Blue", false},
                  {1007, "Cyan", false},   {1008, "Magenta", false},
                  {1009, "Yellow", false}, {1010, "Black && White", false}};
  ASSERT_EQ(run.afterInit.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(expected[i].text);
    EXPECT_EQ(run.afterInit[i].id, expected[i].id);
    EXPECT_EQ(run.afterInit[i].text, expected[i].text);
    EXPECT_TRUE(run.afterInit[i].visible);
    EXPECT_EQ((run.afterInit[i].style & 0x00010000u) != 0, expected[i].tabStop);
    EXPECT_EQ(run.afterInit[i].style & 0x00020000u, 0u) << "no control starts a group";
  }
}

TEST_F(DialogsTest, PictureOfTheDialogShowsTheCheckedButton) {
  runner.capture = true;
  Member& m = Place();
  const DialogRun& run = Options(m, "click 1007; enter");
  const orvhost::Screenshot& shot = run.picture;
  ASSERT_GT(shot.width, 0);
  auto at = [&](int32_t x, int32_t y) {
    return shot.pixels[static_cast<size_t>((y - shot.area.top) * shot.width + x - shot.area.left)];
  };
  // The centre of each radio circle: black when checked, white otherwise.
  for (const auto& c : run.atEnd) {
    if (c.id < 1004 || c.id > 1010) continue;
    SCOPED_TRACE(c.text);
    EXPECT_EQ(at(c.rect.left + 6, (c.rect.top + c.rect.bottom) / 2),
              c.id == kCyan ? 0x000000u : 0xFFFFFFu);
  }
}

// ---- about box ----

TEST_F(DialogsTest, AboutRunsDialog130AndShowsTheBadgeExactlyWithMmx) {
  Member& m = Place(0);
  const DialogRun& run = About(m, "enter");
  EXPECT_EQ(run.dialogId, 130);
  EXPECT_EQ(run.module, ModuleBase(host));
  EXPECT_EQ(BracketCalls(), (std::vector<std::string>{
                                "BeginUsingResources", "callback.QueryInterface HostUtilities",
                                "RunDialog 130", "Utilities.Release", "EndUsingResources"}));
  ASSERT_NE(run.Control(1005), nullptr);
  EXPECT_EQ(run.Control(1005)->visible, ProcessorHasMmx());
  EXPECT_EQ(run.Control(109)->visible, true);
  EXPECT_EQ(run.Control(1005)->style & 0x10000000u, 0u) << "hidden in the template";
}

TEST_F(DialogsTest, AboutEndsWithOneWhicheverWayItCloses) {
  Member& m = Place(3);
  for (const char* end : {"click 1", "enter", "escape", "close"}) {
    SCOPED_TRACE(end);
    const DialogRun& run = About(m, std::string("click 109; click 1005; ") + end);
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.result, 1);
  }
}

TEST_F(DialogsTest, PictureOfTheAboutBoxShowsTheLogoAndTheBadge) {
  runner.capture = true;
  Member& m = Place();
  const DialogRun& run = About(m, "enter");
  const orvhost::Screenshot& shot = run.picture;
  auto at = [&](int32_t x, int32_t y) {
    return shot.pixels[static_cast<size_t>((y - shot.area.top) * shot.width + x - shot.area.left)];
  };
  const struct {
    int id;
    const char* file;
  } pictures[] = {{109, "orv_logo.bmp"}, {1005, "orv_mmx_badge.bmp"}};
  for (const auto& p : pictures) {
    SCOPED_TRACE(p.file);
    const Image image = ReadBmp(p.file);
    const orvhost::ControlState* c = run.Control(p.id, false);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->rect.right - c->rect.left, image.width) << "a picture takes its bitmap's size";
    ASSERT_EQ(c->rect.bottom - c->rect.top, image.height);
    if (!c->visible) continue;
    int wrong = 0;
    for (int32_t y = 0; y < image.height; ++y)
      for (int32_t x = 0; x < image.width; ++x)
        wrong += at(c->rect.left + x, c->rect.top + y) != image.At(x, y);
    EXPECT_EQ(wrong, 0);
  }
}

// ---- thumbnail ----

// Every pixel of s: the logo stretched into rect (mirrored along an axis whose
// extent is negative), the sentinel elsewhere.
void ExpectThumbnail(Surface& s, const HostRect& rect) {
  static const Image logo = ReadBmp("orv_logo.bmp");
  ASSERT_EQ(logo.width, 100);
  ASSERT_EQ(logo.height, 67);
  const int32_t w = rect.right - rect.left, h = rect.bottom - rect.top;
  const int32_t cw = w < 0 ? -w : w, ch = h < 0 ? -h : h;
  int wrong = 0;
  for (int32_t y = 0; y < s.height; ++y)
    for (int32_t x = 0; x < s.width; ++x) {
      // The step of the copy that lands on (x, y), if any.
      const int32_t i = w > 0 ? x - rect.left : rect.left - 1 - x;
      const int32_t j = h > 0 ? y - rect.top : rect.top - 1 - y;
      const uint8_t* raw = s.Row(y) + x * (s.depth / 8);
      if (i < 0 || i >= cw || j < 0 || j >= ch) {
        wrong += raw[0] != 0x5A;
        continue;
      }
      const uint32_t want =
          AsStored(logo.At(SourceStep(i, cw, 100), SourceStep(j, ch, 67)), s.depth);
      if (SurfacePixel(s, x, y) != want && ++wrong <= 3)
        ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << SurfacePixel(s, x, y)
                      << " instead of " << want;
    }
  EXPECT_EQ(wrong, 0);
}

TEST_F(DialogsTest, ThumbnailStretchesTheLogoIntoTheRectangle) {
  Member& m = Place(1);
  for (int32_t depth : {32, 24, 16}) {
    SCOPED_TRACE("depth " + std::to_string(depth));
    Surface& s = NewSurface(60, 40, depth);
    EXPECT_EQ(Paint(m, s, HostRect{0, 0, 40, 60}), 0);
    ExpectThumbnail(s, HostRect{0, 0, 40, 60});
    EXPECT_EQ(BracketCalls(),
              (std::vector<std::string>{"GetNativeInfo thumb", "BeginUsingResources",
                                        "EndUsingResources"}));
    Surface& big = NewSurface(150, 90, depth);
    EXPECT_EQ(Paint(m, big, HostRect{7, 13, 87, 141}), 0);  // enlarged, off the corner
    ExpectThumbnail(big, HostRect{7, 13, 87, 141});
  }
}

TEST_F(DialogsTest, ThumbnailMirrorsNegativeExtentsAndClipsToTheSurface) {
  Member& m = Place();
  const HostRect rects[] = {
      {0, 60, 40, 0},      // right left of left: mirrored left to right
      {40, 0, 0, 60},      // bottom above top: upside down
      {40, 60, 0, 0},      // both
      {-10, -20, 30, 45},  // partly off the surface
      {35, 50, 90, 120},   // mostly off it
      {0, 0, 0, 60},       // no height: nothing
  };
  for (const HostRect& r : rects) {
    SCOPED_TRACE(std::to_string(r.top) + "," + std::to_string(r.left) + "," +
                 std::to_string(r.bottom) + "," + std::to_string(r.right));
    Surface& s = NewSurface(60, 40, 32);
    EXPECT_EQ(Paint(m, s, r), 0);
    ExpectThumbnail(s, r);
  }
}

// Sizes are worked out in 64 bits; one that does not fit in 32 draws nothing.
TEST_F(DialogsTest, ThumbnailOfASizeBeyond32BitsDrawsNothing) {
  Member& m = Place();
  const HostRect rects[] = {
      {0, INT32_MIN, 40, INT32_MAX},  // width 2^32 - 1
      {INT32_MAX, 0, INT32_MIN, 60},  // height -(2^32 - 1)
      {0, INT32_MAX, 40, -2},         // width -2^31 - 1
  };
  for (const HostRect& r : rects) {
    SCOPED_TRACE(std::to_string(r.top) + "," + std::to_string(r.left) + "," +
                 std::to_string(r.bottom) + "," + std::to_string(r.right));
    Surface& s = NewSurface(60, 40, 32);
    EXPECT_EQ(Paint(m, s, r), 0);
    ExpectThumbnail(s, HostRect{0, 0, 0, 0});  // all sentinel
  }
}

TEST_F(DialogsTest, ThumbnailRestoresPenAndBrush) {
  Member& m = Place();
  Surface& s = NewSurface(60, 40, 32);
  EXPECT_EQ(CurrentPen(s.dc), GetStockObject(kBlackPen)) << "a new DC's pen";
  EXPECT_EQ(CurrentBrush(s.dc), GetStockObject(kWhiteBrush));
  SelectObject(s.dc, GetStockObject(kWhitePen));
  EXPECT_EQ(Paint(m, s, HostRect{0, 0, 40, 60}), 0);
  EXPECT_EQ(CurrentPen(s.dc), GetStockObject(kWhitePen));
  EXPECT_EQ(CurrentBrush(s.dc), GetStockObject(kWhiteBrush));
}

TEST_F(DialogsTest, ThumbnailDrawsNothingOnOtherSurfaceKinds) {
  Member& m = Place();
  for (int32_t kind : {4, 0, -1, 5, 1000}) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    Surface& s = NewSurface(60, 40, 32);
    s.kind = kind;
    SelectObject(s.dc, GetStockObject(kWhitePen));
    EXPECT_EQ(Paint(m, s, HostRect{0, 0, 40, 60}), 0);
    ExpectThumbnail(s, HostRect{0, 0, 0, 0});  // all sentinel
    EXPECT_EQ(CurrentPen(s.dc), GetStockObject(kWhitePen));
    EXPECT_EQ(CurrentBrush(s.dc), GetStockObject(kWhiteBrush));
    EXPECT_EQ(BracketCalls(),
              (std::vector<std::string>{"GetNativeInfo thumb", "BeginUsingResources",
                                        "EndUsingResources"}));
  }
  // Kinds 2 and 3 draw like 1.
  for (int32_t kind : {2, 3}) {
    Surface& s = NewSurface(60, 40, 32);
    s.kind = kind;
    EXPECT_EQ(Paint(m, s, HostRect{0, 0, 40, 60}), 0);
    ExpectThumbnail(s, HostRect{0, 0, 40, 60});
  }
}

TEST_F(DialogsTest, ThumbnailWithoutTheLogoDrawsNothing) {
  Member& m = Place();
  Surface& s = NewSurface(60, 40, 32);
  for (int32_t fault : {kResourceHidden, kResourceUnloadable}) {
    OrvSetResourceFault(RT_BITMAP, MAKEINTRESOURCEA(510), fault);
    EXPECT_EQ(Paint(m, s, HostRect{0, 0, 40, 60}), 0);
    OrvSetResourceFault(RT_BITMAP, MAKEINTRESOURCEA(510), kResourcePresent);
    ExpectThumbnail(s, HostRect{0, 0, 0, 0});
    EXPECT_EQ(CurrentPen(s.dc), GetStockObject(kBlackPen));
    EXPECT_EQ(CurrentBrush(s.dc), GetStockObject(kWhiteBrush));
  }
}

// ---- the resources themselves ----

TEST_F(DialogsTest, LogoAndBadgeBitmapsAreStoredAsDescribed) {
  const HMODULE module = ModuleBase(host);
  const struct {
    int id;
    int32_t width, height;
    DWORD compression;
  } bitmaps[] = {{510, 100, 67, BI_RGB}, {125, 100, 27, BI_RLE8}};
  for (const auto& b : bitmaps) {
    SCOPED_TRACE("bitmap " + std::to_string(b.id));
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(b.id), RT_BITMAP);
    ASSERT_NE(found, nullptr);
    BITMAPINFOHEADER header;
    std::memcpy(&header, LockResource(LoadResource(module, found)), sizeof header);
    EXPECT_EQ(header.biWidth, b.width);
    EXPECT_EQ(header.biHeight, b.height);
    EXPECT_EQ(header.biBitCount, 8);
    EXPECT_EQ(header.biCompression, b.compression);
    EXPECT_EQ(header.biClrUsed, 256u);

    // LoadBitmapA gives the same pixels as the file, RLE8 decoded.
    HBITMAP loaded = LoadBitmapA(module, MAKEINTRESOURCEA(b.id));
    ASSERT_NE(loaded, nullptr);
    BITMAP bm{};
    ASSERT_EQ(GetObjectA(loaded, sizeof bm, &bm), static_cast<int>(sizeof bm));
    EXPECT_EQ(bm.bmWidth, b.width);
    EXPECT_EQ(bm.bmHeight, b.height);
    const Image image = ReadBmp(b.id == 510 ? "orv_logo.bmp" : "orv_mmx_badge.bmp");
    int wrong = 0;
    for (int32_t y = 0; y < b.height; ++y)
      for (int32_t x = 0; x < b.width; ++x) {
        const uint8_t* p = static_cast<uint8_t*>(bm.bmBits) +
                           static_cast<size_t>((b.height - 1 - y) * bm.bmWidthBytes + 4 * x);
        wrong += (static_cast<uint32_t>(p[2]) << 16 | p[1] << 8 | p[0]) != image.At(x, y);
      }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(DeleteObject(loaded), 1);
  }
}

// A dialog template, field by field, from its bytes.
struct ControlTemplate {
  uint32_t style;
  int16_t x, y, cx, cy;
  uint16_t id;
  uint16_t classAtom;  // 0 when named by text
  std::string className, text;
  int32_t ordinal;  // text given as a number, else -1
};
struct Template {
  uint32_t style;
  int16_t x, y, cx, cy;
  std::string caption, face;
  uint16_t points;
  std::vector<ControlTemplate> controls;
};

Template ParseTemplate(const uint8_t* p, size_t size) {
  size_t at = 0;
  auto word = [&] {
    uint16_t v = 0;
    if (at + 2 <= size) std::memcpy(&v, p + at, 2);
    at += 2;
    return v;
  };
  auto dword = [&] { return word() | static_cast<uint32_t>(word()) << 16; };
  auto text = [&] {
    std::string s;
    for (uint16_t c = word(); c; c = word()) s.push_back(static_cast<char>(c));
    return s;
  };
  Template t{};
  t.style = dword();
  dword();
  const uint16_t count = word();
  t.x = static_cast<int16_t>(word()), t.y = static_cast<int16_t>(word());
  t.cx = static_cast<int16_t>(word()), t.cy = static_cast<int16_t>(word());
  EXPECT_EQ(word(), 0) << "no menu";
  EXPECT_EQ(word(), 0) << "the standard dialog class";
  t.caption = text();
  t.points = word();
  t.face = text();
  for (uint16_t i = 0; i < count; ++i) {
    at = (at + 3) & ~size_t{3};
    ControlTemplate c{};
    c.style = dword();
    dword();
    c.x = static_cast<int16_t>(word()), c.y = static_cast<int16_t>(word());
    c.cx = static_cast<int16_t>(word()), c.cy = static_cast<int16_t>(word());
    c.id = word();
    if (word() == 0xFFFF) {
      c.classAtom = word();
    } else {
      at -= 2;
      c.className = text();
    }
    c.ordinal = -1;
    if (word() == 0xFFFF) {
      c.ordinal = word();
    } else {
      at -= 2;
      c.text = text();
    }
    EXPECT_EQ(word(), 0) << "no creation data";
    t.controls.push_back(c);
  }
  EXPECT_EQ(at, size) << "nothing after the last control";
  return t;
}

Template TemplateOf(HMODULE module, int id) {
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), RT_DIALOG);
  EXPECT_NE(found, nullptr);
  if (!found) return {};
  return ParseTemplate(static_cast<const uint8_t*>(LockResource(LoadResource(module, found))),
                       SizeofResource(module, found));
}

constexpr uint32_t WS_POPUP = 0x80000000, WS_CHILD = 0x40000000, WS_VISIBLE = 0x10000000,
                   WS_CAPTION = 0x00C00000, WS_SYSMENU = 0x00080000, WS_GROUP = 0x00020000,
                   WS_TABSTOP = 0x00010000, DS_SETFONT = 0x40, DS_MODALFRAME = 0x80,
                   DS_CENTER = 0x800, BS_DEFPUSHBUTTON = 1, BS_GROUPBOX = 7, BS_AUTORADIOBUTTON = 9,
                   SS_BITMAP = 0xE, SS_REALSIZEIMAGE = 0x800;
constexpr uint32_t kShown = WS_CHILD | WS_VISIBLE;
constexpr uint16_t kButton = 0x80, kStatic = 0x82;

void ExpectControl(const ControlTemplate& c, uint16_t id, uint32_t style, int16_t x, int16_t y,
                   int16_t cx, int16_t cy) {
  SCOPED_TRACE("control " + std::to_string(id) + " " + c.text);
  EXPECT_EQ(c.id, id);
  EXPECT_EQ(c.style, style);
  EXPECT_EQ(c.x, x);
  EXPECT_EQ(c.y, y);
  EXPECT_EQ(c.cx, cx);
  EXPECT_EQ(c.cy, cy);
}

TEST_F(DialogsTest, OptionsTemplateHoldsEveryControlInOrder) {
  const Template t = TemplateOf(ModuleBase(host), 119);
  EXPECT_EQ(t.style, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT);
  EXPECT_EQ(t.caption, "Options");
  EXPECT_EQ(t.points, 8);
  EXPECT_EQ(t.face, "MS Sans Serif");
  EXPECT_EQ((std::vector<int16_t>{t.x, t.y, t.cx, t.cy}), (std::vector<int16_t>{0, 0, 187, 86}));
  ASSERT_EQ(t.controls.size(), 10u);
  const auto& c = t.controls;
  ExpectControl(c[0], 1, kShown | WS_TABSTOP | BS_DEFPUSHBUTTON, 130, 20, 50, 14);
  ExpectControl(c[1], 2, kShown | WS_TABSTOP, 130, 51, 50, 14);
  ExpectControl(c[2], 1004, kShown | BS_AUTORADIOBUTTON, 15, 35, 32, 10);
  ExpectControl(c[3], 65535, kShown | BS_GROUPBOX, 5, 5, 115, 75);
  ExpectControl(c[4], 1005, kShown | BS_AUTORADIOBUTTON, 15, 49, 39, 10);
  ExpectControl(c[5], 1006, kShown | BS_AUTORADIOBUTTON, 15, 65, 43, 10);
  ExpectControl(c[6], 1007, kShown | BS_AUTORADIOBUTTON, 70, 35, 43, 10);
  ExpectControl(c[7], 1008, kShown | BS_AUTORADIOBUTTON, 70, 49, 43, 10);
  ExpectControl(c[8], 1009, kShown | BS_AUTORADIOBUTTON, 70, 65, 43, 10);
  ExpectControl(c[9], 1010, kShown | BS_AUTORADIOBUTTON, 15, 20, 58, 10);
  const char* texts[] = {"OK",   "Cancel", "Red",     "Transition Color", "Green",
                         "Blue", "Cyan",   "Magenta", "Yellow",           "Black && White"};
  for (size_t i = 0; i < c.size(); ++i) {
    EXPECT_EQ(c[i].text, texts[i]);
    EXPECT_EQ(c[i].classAtom, kButton);
  }
}

TEST_F(DialogsTest, AboutTemplateHoldsEveryControlInOrder) {
  const Template t = TemplateOf(ModuleBase(host), 130);
  EXPECT_EQ(t.style, WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER |
                         DS_SETFONT);
  EXPECT_EQ(t.caption, "Dialog");
  EXPECT_EQ(t.points, 8);
  EXPECT_EQ(t.face, "MS Sans Serif");
  EXPECT_EQ(t.cx, 220);
  EXPECT_EQ(t.cy, 76);
  ASSERT_EQ(t.controls.size(), 6u);
  const auto& c = t.controls;
  ExpectControl(c[0], 1, kShown | WS_TABSTOP | BS_DEFPUSHBUTTON, 160, 55, 50, 14);
  EXPECT_EQ(c[0].text, "OK");
  ExpectControl(c[1], 65535, kShown | WS_GROUP, 105, 3, 105, 8);
  ExpectControl(c[2], 65535, kShown | WS_GROUP, 105, 15, 97, 20);
  ExpectControl(c[3], 109, kShown | SS_BITMAP, 15, 3, 67, 41);
  EXPECT_EQ(c[3].ordinal, 510);
  ExpectControl(c[4], 1005, WS_CHILD | SS_BITMAP | SS_REALSIZEIMAGE, 15, 45, 67, 17);
  EXPECT_EQ(c[4].ordinal, 125);
  ExpectControl(c[5], 65535, kShown | WS_GROUP, 105, 34, 90, 21);
  // The product and the project's version, the maker, and two addresses on
  // two lines.
  EXPECT_EQ(c[1].text, "Orv Transition Pack 1 v" ORV_VERSION_SHORT);
  EXPECT_FALSE(c[2].text.empty());
  EXPECT_EQ(std::count(c[5].text.begin(), c[5].text.end(), '\n'), 1);
  for (int i : {1, 2, 5}) EXPECT_EQ(c[static_cast<size_t>(i)].classAtom, kStatic);
  // The resource compiler names the class of a CONTROL statement in text.
  EXPECT_EQ(c[3].className, "STATIC");
  EXPECT_EQ(c[4].className, "STATIC");
}

// ---- the stand-in's dialogs on their own ----

// A procedure that handles nothing and notes every message it is sent.
std::vector<std::pair<UINT, WPARAM>>* seenMessages = nullptr;
INT_PTR CALLBACK CountingProc(HWND, UINT message, WPARAM wParam, LPARAM) {
  if (seenMessages) seenMessages->emplace_back(message, wParam);
  return 0;
}

TEST_F(DialogsTest, StandInSendsTheSystemsMessages) {
  std::vector<std::pair<UINT, WPARAM>> seen;
  seenMessages = &seen;
  const RECT stage{0, 0, 640, 480};
  HWND owner = OrvCreateTopWindow(&stage, "stage");
  HWND dialog = OrvCreateDialog(ModuleBase(host), MAKEINTRESOURCEA(119), owner, CountingProc, 77);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(GetParent(dialog), owner);
  EXPECT_EQ(GetParent(GetDlgItem(dialog, 1007)), dialog);
  EXPECT_TRUE(IsWindowVisible(dialog));
  EXPECT_TRUE(OrvClickControl(dialog, 1008));
  EXPECT_EQ(IsDlgButtonChecked(dialog, 1008), BST_CHECKED);
  EXPECT_FALSE(OrvClickControl(dialog, -1)) << "a group box takes no click";
  EXPECT_TRUE(OrvPressKey(dialog, VK_RETURN));
  EXPECT_TRUE(OrvPressKey(dialog, VK_ESCAPE));
  EXPECT_FALSE(OrvPressKey(dialog, 'A'));
  EXPECT_TRUE(OrvCloseBox(dialog));
  // Nothing ended the dialog: the procedure handles nothing.
  EXPECT_FALSE(OrvDialogEnded(dialog, nullptr));
  const std::vector<std::pair<UINT, WPARAM>> want = {
      {WM_INITDIALOG, reinterpret_cast<WPARAM>(GetDlgItem(dialog, 1))},
      {WM_COMMAND, 1008},
      {WM_COMMAND, 1},
      {WM_COMMAND, 2},
      {WM_CLOSE, 0},
      {WM_COMMAND, 2}};
  EXPECT_EQ(seen, want);
  seenMessages = nullptr;
  // A child's rectangle: its template rectangle in pixels from the client corner.
  RECT r{};
  GetWindowRect(GetDlgItem(dialog, 1007), &r);
  EXPECT_EQ(r.left, 0 + 3 + 105);     // 70 units
  EXPECT_EQ(r.top, 0 + 3 + 18 + 57);  // 35 units: 56.875 rounds up
  EXPECT_EQ(r.right - r.left, 65);    // 43 units: 64.5 rounds up
  EXPECT_EQ(r.bottom - r.top, 16);    // 10 units: 16.25
  EXPECT_EQ(EndDialog(dialog, 42), 1);
  INT_PTR result = 0;
  EXPECT_TRUE(OrvDialogEnded(dialog, &result));
  EXPECT_EQ(result, 42);
  EXPECT_FALSE(OrvClickControl(dialog, 1007)) << "an ended dialog takes no more";
  EXPECT_EQ(OrvDestroyWindow(owner), 1) << "takes the dialog it owns along";
  EXPECT_EQ(GetDlgItem(dialog, 1), nullptr);
  EXPECT_EQ(GetWindowRect(dialog, &r), 0);
}

TEST_F(DialogsTest, StandInCentresTemplatesThatAskForIt) {
  HWND dialog = OrvCreateDialog(ModuleBase(host), MAKEINTRESOURCEA(130), nullptr, CountingProc, 0);
  ASSERT_NE(dialog, nullptr);
  RECT r{};
  GetWindowRect(dialog, &r);
  const int32_t w = 330 + 6, h = 124 + 24;  // 220 x 76 units
  EXPECT_EQ(r.left, (1024 - w) / 2);
  EXPECT_EQ(r.top, (768 - h) / 2);
  EXPECT_EQ(r.right - r.left, w);
  EXPECT_EQ(r.bottom - r.top, h);
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, 1005)));
  OrvDestroyWindow(dialog);
}

// A dialog template of push buttons, one under the other, all the same size.
std::vector<uint8_t> ButtonsTemplate(const std::vector<std::string>& texts) {
  std::vector<uint8_t> t;
  auto word = [&](uint32_t v) { t.push_back(uint8_t(v)), t.push_back(uint8_t(v >> 8)); };
  auto dword = [&](uint32_t v) { word(v), word(v >> 16); };
  auto text = [&](const std::string& s) {
    for (char c : s) word(static_cast<uint8_t>(c));
    word(0);
  };
  dword(WS_POPUP | WS_VISIBLE), dword(0), word(static_cast<uint32_t>(texts.size()));
  word(0), word(0), word(80), word(20 * static_cast<uint32_t>(texts.size()));
  word(0), word(0), text("");  // no menu, the standard class, no caption
  for (size_t i = 0; i < texts.size(); ++i) {
    while (t.size() % 4) t.push_back(0);
    dword(kShown), dword(0), word(5), word(5 + 20 * static_cast<uint32_t>(i)), word(70), word(14);
    word(static_cast<uint32_t>(100 + i)), word(0xFFFF), word(kButton), text(texts[i]), word(0);
  }
  return t;
}

// The access-key rule of control texts: a single '&' is not drawn and
// underlines the letter after it; "&&" draws one '&'.
TEST_F(DialogsTest, StandInDrawsAccessKeysAsTheSystemDoes) {
  const std::vector<std::string> texts = {"Ok", "&Ok", "Ok&", "Ok&&"};
  const std::vector<uint8_t> bytes = ButtonsTemplate(texts);
  const ModuleResource resource{5, nullptr, 1, bytes.data(), static_cast<uint32_t>(bytes.size())};
  const ModuleResourceTable table{&resource, 1};
  const auto module = reinterpret_cast<HMODULE>(0x7E570000);
  OrvRegisterModuleResources(module, &table);
  HWND dialog = OrvCreateDialog(module, MAKEINTRESOURCEA(1), nullptr, CountingProc, 0);
  ASSERT_NE(dialog, nullptr);
  RECT area{};
  GetWindowRect(dialog, &area);
  std::vector<uint32_t> screen(
      static_cast<size_t>((area.right - area.left) * (area.bottom - area.top)));
  ASSERT_TRUE(OrvRenderScreen(&area, screen.data(), area.right - area.left));
  // Each button's pixels, from its own corner.
  std::vector<std::vector<uint32_t>> buttons;
  int32_t width = 0, height = 0;
  for (size_t i = 0; i < texts.size(); ++i) {
    RECT r{};
    GetWindowRect(GetDlgItem(dialog, static_cast<int>(100 + i)), &r);
    width = r.right - r.left, height = r.bottom - r.top;
    std::vector<uint32_t>& b = buttons.emplace_back();
    for (int32_t y = r.top; y < r.bottom; ++y)
      for (int32_t x = r.left; x < r.right; ++x)
        b.push_back(
            screen[static_cast<size_t>((y - area.top) * (area.right - area.left) + x - area.left)]);
  }
  OrvDestroyWindow(dialog);
  OrvRegisterModuleResources(module, nullptr);
  // "&Ok": the same picture as "Ok" but for one underline, a run of black
  // pixels on a single row.
  std::set<int32_t> rows;
  int changed = 0;
  for (int32_t i = 0; i < width * height; ++i) {
    if (buttons[1][static_cast<size_t>(i)] == buttons[0][static_cast<size_t>(i)]) continue;
    ++changed;
    rows.insert(i / width);
    EXPECT_EQ(buttons[1][static_cast<size_t>(i)], 0x000000u) << "pixel " << i % width;
  }
  EXPECT_GT(changed, 2);
  EXPECT_EQ(rows.size(), 1u);
  EXPECT_EQ(buttons[2], buttons[0]) << "a lone '&' at the end is not drawn";
  EXPECT_NE(buttons[3], buttons[0]) << "'&&' draws one '&'";
}

TEST(DialogScriptTest, ParsesActionsAndRejectsUnknownWords) {
  std::vector<DialogAction> actions;
  std::string error;
  ASSERT_TRUE(orvhost::ParseDialogScript("click 1007; enter\nescape ;close;", &actions, &error));
  ASSERT_EQ(actions.size(), 4u);
  EXPECT_EQ(actions[0].kind, DialogAction::kClick);
  EXPECT_EQ(actions[0].id, 1007);
  EXPECT_EQ(actions[1].kind, DialogAction::kEnter);
  EXPECT_EQ(actions[2].kind, DialogAction::kEscape);
  EXPECT_EQ(actions[3].kind, DialogAction::kClose);
  for (const char* bad : {"click", "click x", "press 3", "enter 2", "click 1 2"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(orvhost::ParseDialogScript(bad, &actions, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(actions.size(), 4u) << "left as it was";
  }
}

}  // namespace
