// The options dialog and the about box through the loaded module on real
// Win32: the system builds them from the module's templates and runs their
// modal loops; the script's clicks and keys arrive as Windows sends them.
// Pictures of both dialogs go to ORV_SCREENSHOT_DIR.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "host/dialog_runner.h"
#include "host/member.h"
#include "host/stand_in_host.h"
#include "tests/dialogs/dialog_fixture.h"
#include "tests/dialogs/png_stored.h"
#include "tests/support/asset_peek.h"

using namespace orv::module;

namespace {

constexpr int kBadge = 1005;
constexpr int kLogo = 109;

BOOL CALLBACK CountWindow(HWND, LPARAM count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}

// This thread's top-level windows: the stage and the dialogs.
int ThreadWindows() {
  int count = 0;
  EnumThreadWindows(GetCurrentThreadId(), CountWindow, reinterpret_cast<LPARAM>(&count));
  return count;
}

uint32_t At(const orvhost::Screenshot& shot, int32_t x, int32_t y) {
  return shot.pixels[static_cast<size_t>(y - shot.area.top) * static_cast<size_t>(shot.width) +
                     static_cast<size_t>(x - shot.area.left)];
}

void Save(const orvhost::Screenshot& shot, const std::string& name) {
  CreateDirectoryA(ORV_SCREENSHOT_DIR, nullptr);
  const std::string path = std::string(ORV_SCREENSHOT_DIR) + "/" + name;
  EXPECT_TRUE(orvpng::WriteRgb(path, shot.pixels.data(), shot.width, shot.height)) << path;
}

}  // namespace

int LiveWindows() { return ThreadWindows(); }

namespace {

using DialogsWin32Test = DialogFixture;

// ---- options dialog ----

TEST_F(DialogsWin32Test, OptionsIsBuiltFromTemplate119WithEveryControl) {
  Member& m = Place();
  const DialogRun& run = Options(m, "escape");
  EXPECT_EQ(run.dialogId, 119);
  EXPECT_EQ(run.module, host.module().handle());
  EXPECT_EQ(run.param, reinterpret_cast<LPARAM>(m.asset));
  ASSERT_TRUE(run.created);
  const struct {
    int id;
    const char* text;
  } expected[] = {
      {1, "OK"},        {2, "Cancel"},           {1004, "Red"},  {0xFFFF, "Transition Color"},
      {1005, "Green"},  {1006, "Blue"},          {1007, "Cyan"}, {1008, "Magenta"},
      {1009, "Yellow"}, {1010, "Black && White"}};
  ASSERT_EQ(run.afterInit.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(expected[i].text);
    EXPECT_EQ(run.afterInit[i].id & 0xFFFF, expected[i].id);
    EXPECT_EQ(run.afterInit[i].text, expected[i].text);
    EXPECT_TRUE(run.afterInit[i].visible);
  }
}

TEST_F(DialogsWin32Test, ScriptThatLeavesTheDialogOpenTearsItDown) {
  Member& m = FromMedia(2);
  const DialogRun& run = Options(m, "click 1008");
  EXPECT_TRUE(run.created);
  EXPECT_FALSE(run.ended);
  EXPECT_EQ(AssetFieldsOf(m).colorChoice, 2);
}

TEST_F(DialogsWin32Test, OptionsDialogIsCentredOnItsParent) {
  const RECT parents[] = {{96, 64, 736, 544}, {11, 7, 650, 501}, {300, 200, 461, 301}};
  Member& m = Place();
  for (const RECT& p : parents) {
    SCOPED_TRACE(std::to_string(p.left) + "," + std::to_string(p.top) + "," +
                 std::to_string(p.right) + "," + std::to_string(p.bottom));
    runner.ownerRect = p;
    const DialogRun& run = Options(m, "escape");
    ASSERT_EQ(run.ownerRect.left, p.left);
    ASSERT_EQ(run.ownerRect.bottom, p.bottom);
    const RECT& d = run.rectAfterInit;
    const int32_t w = d.right - d.left, h = d.bottom - d.top;
    EXPECT_GT(w, 187) << "dialog units are wider than pixels";
    EXPECT_GT(h, 86);
    EXPECT_EQ(d.left, (p.left + p.right - w) / 2);
    EXPECT_EQ(d.top, (p.top + p.bottom - h) / 2);
  }
}

TEST_F(DialogsWin32Test, PictureOfTheOptionsDialogShowsTheCheckedButton) {
  runner.capture = true;
  Member& m = Place();
  const DialogRun& run = Options(m, "click 1007; enter");
  const orvhost::Screenshot& shot = run.picture;
  ASSERT_GT(shot.width, 0);
  ASSERT_EQ(shot.pixels.size(), static_cast<size_t>(shot.width) * shot.height);
  Save(shot, "options.png");
  // The centre of each radio circle: its dot when checked, the window colour
  // otherwise.
  const uint32_t dot = GetSysColor(COLOR_WINDOWTEXT) & 0xFFFFFFu;
  const uint32_t window = GetSysColor(COLOR_WINDOW) & 0xFFFFFFu;
  const auto rgb = [](uint32_t bgr) {
    return (bgr & 0xFF) << 16 | (bgr & 0xFF00) | (bgr >> 16 & 0xFF);
  };
  for (const auto& c : run.atEnd) {
    if (c.id < 1004 || c.id > 1010) continue;
    SCOPED_TRACE(c.text);
    EXPECT_EQ(At(shot, c.rect.left + 6, (c.rect.top + c.rect.bottom) / 2),
              rgb(c.id == kCyan ? dot : window));
  }
}

// ---- about box ----

TEST_F(DialogsWin32Test, AboutShowsTheBadgeExactlyWithMmxAndEndsWithOne) {
  Member& m = Place(0);
  for (const char* end : {"click 1", "enter", "escape", "close"}) {
    SCOPED_TRACE(end);
    const DialogRun& run = About(m, std::string("click 109; ") + end);
    EXPECT_EQ(run.dialogId, 130);
    ASSERT_TRUE(run.created);
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.result, 1);
    ASSERT_NE(run.Control(kBadge), nullptr);
    ASSERT_NE(run.Control(kLogo), nullptr);
    EXPECT_EQ(run.Control(kBadge)->visible, ProcessorHasMmx());
    EXPECT_TRUE(run.Control(kLogo)->visible);
    // The version line as the system's dialog holds it.
    const std::string version = "Orv Transition Pack 1 v" ORV_VERSION_SHORT;
    EXPECT_TRUE(std::any_of(run.afterInit.begin(), run.afterInit.end(),
                            [&](const orvhost::ControlState& c) { return c.text == version; }))
        << version;
  }
}

TEST_F(DialogsWin32Test, PictureOfTheAboutBoxShowsTheLogoAndTheBadge) {
  runner.capture = true;
  Member& m = Place();
  const DialogRun& run = About(m, "enter");
  const orvhost::Screenshot& shot = run.picture;
  ASSERT_GT(shot.width, 0);
  Save(shot, "about.png");
  // A picture control shows more than one colour; the background of a
  // hidden one is the dialog's face.
  const auto colours = [&](const RECT& r) {
    std::vector<uint32_t> seen;
    for (int32_t y = r.top; y < r.bottom; ++y)
      for (int32_t x = r.left; x < r.right; ++x) {
        const uint32_t p = At(shot, x, y);
        if (std::find(seen.begin(), seen.end(), p) == seen.end()) seen.push_back(p);
      }
    return seen.size();
  };
  EXPECT_GT(colours(run.Control(kLogo)->rect), 2u);
  if (ProcessorHasMmx()) {
    EXPECT_GT(colours(run.Control(kBadge)->rect), 2u);
  }
}

// ---- the PNG writer ----

TEST(StoredPng, HeaderChunksAndChecksums) {
  // A 70000-byte image row set needs two stored blocks.
  const int32_t w = 200, h = 117;
  std::vector<uint32_t> pixels(static_cast<size_t>(w * h));
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint32_t>(i * 2654435761u);
  const std::vector<uint8_t> png = orvpng::EncodeRgb(pixels.data(), w, h);
  ASSERT_GT(png.size(), 8u + 25 + 12);
  EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
  EXPECT_EQ(png[16 + 3], w);
  EXPECT_EQ(png[20 + 3], h);
  // The CRC of IEND is a well-known constant.
  const std::vector<uint8_t> iend(png.end() - 12, png.end());
  EXPECT_EQ(iend, (std::vector<uint8_t>{0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82}));
  EXPECT_EQ(orvpng::Crc32(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);
  EXPECT_EQ(orvpng::Adler32({'W', 'i', 'k', 'i', 'p', 'e', 'd', 'i', 'a'}), 0x11E60398u);
  // The stored blocks hold the rows: the first pixel's red, green, blue
  // follow the zlib header, the first block header and the filter byte.
  const size_t data = 8 + 25 + 8 + 2 + 5 + 1;
  EXPECT_EQ(png[data], static_cast<uint8_t>(pixels[0] >> 16));
  EXPECT_EQ(png[data - 6], 0) << "not the final block";
  EXPECT_EQ(png[data - 5] | png[data - 4] << 8, 65535);
}

}  // namespace
