// One picture per transition: the window at six steps side by side, written
// as a PNG to look at (pictures/strips/ in the build folder). Each strip must
// start on the old picture, end on the new one inside the rectangle, keep the
// border outside the rectangle, and read back from its file unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iterator>

#include "tests/actors/stage.h"
#include "tools/orvplay/builtin_pictures.h"
#include "tools/png_io.h"
#include "tools/safe_output.h"

using namespace orv::module;

namespace {

using namespace actors_test;

constexpr int32_t kWidth = 200, kHeight = 120, kGap = 4;
constexpr int32_t kSteps[] = {0, 200, 400, 600, 800, 1000};

orvplay::Picture Take(orvhost::Surface& s) {
  orvplay::Picture p(s.width, s.height);
  for (int32_t y = 0; y < s.height; ++y) orvplay::UnpackRow(s.Row(y), s.width, s.depth, p.At(0, y));
  return p;
}

void Put(orvhost::Surface& s, const orvplay::Picture& p) {
  for (int32_t y = 0; y < s.height; ++y) orvplay::PackRow(p.At(0, y), s.width, s.depth, s.Row(y));
}

bool SameInside(const orvplay::Picture& a, const orvplay::Picture& b, const HostRect& r,
                bool inside) {
  for (int32_t y = 0; y < a.height; ++y)
    for (int32_t x = 0; x < a.width; ++x) {
      const bool in = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
      if (in == inside && std::memcmp(a.At(x, y), b.At(x, y), 3) != 0) return false;
    }
  return true;
}

// Its file: the kind's name, with the colour the strip shows.
std::string FileOf(const KindFacts& k) {
  std::string file = k.name;
  std::replace(file.begin(), file.end(), ' ', '_');
  return file + (k.shape == Shape::kColor ? "_magenta" : "") + ".png";
}

class PictureStrips : public ::testing::TestWithParam<KindFacts> {};

TEST_P(PictureStrips, StartsOldEndsNewKeepsTheBorder) {
  const Kind kind = GetParam().kind;
  const std::string file = FileOf(GetParam());
  orvhost::Host host;
  Stage stage(host, kWidth, kHeight, 24);
  const orvplay::Picture from = orvplay::Shrink(orvplay::BuiltinFromPicture(), kWidth, kHeight);
  const orvplay::Picture to = orvplay::Shrink(orvplay::BuiltinToPicture(), kWidth, kHeight);
  Put(*stage.window, from);
  Put(*stage.offscreen, to);
  const HostRect rect{10, 12, 110, 188};
  Actor actor(host, ClassOf(kind));
  CpuFeatures cpu{1, 1};
  int32_t colour = 4;  // magenta
  actor.SetProperty(PropertyColorChoice, reinterpret_cast<intptr_t>(&colour));
  actor.SetProperty(PropertyCpuFeatures, reinterpret_cast<intptr_t>(&cpu));
  ASSERT_EQ(actor.Cue(stage, rect, TransitionParams{16, 1000, 0, 0}), 0);

  const int32_t n = static_cast<int32_t>(std::size(kSteps));
  orvplay::Picture strip(n * kWidth + (n - 1) * kGap, kHeight);
  for (int32_t i = 0; i < n; ++i) {
    actor.Continue(stage, rect, TransitionParams{16, 1000, 0, kSteps[i]});
    const orvplay::Picture frame = Take(*stage.window);
    EXPECT_TRUE(SameInside(frame, from, rect, false)) << "outside the rectangle, step " << i;
    if (i == 0) {
      EXPECT_TRUE(SameInside(frame, from, rect, true)) << "the old picture at first";
    }
    for (int32_t y = 0; y < kHeight; ++y)
      std::memcpy(strip.At(i * (kWidth + kGap), y), frame.At(0, y), kWidth * 3);
  }
  actor.Finish(stage, rect, TransitionParams{16, 1000, 0, 1001});
  EXPECT_TRUE(SameInside(Take(*stage.window), to, rect, true)) << "the new picture at the end";

  std::filesystem::create_directories(ORV_PICTURE_DIR);
  const std::string path = std::string(ORV_PICTURE_DIR) + "/" + file;
  orvtools::WriteFileAtomic(path, orvplay::EncodePng(strip));
  EXPECT_TRUE(orvplay::ReadPng(path) == strip) << path;
}

INSTANTIATE_TEST_SUITE_P(EveryKind, PictureStrips, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.id); });

}  // namespace
