// The GIF encoder against giflib: LZW round trips at every code size and past
// the 4096-code table, animations whose frames come back as they went in, and
// timing that adds up at any frame rate.
#include "tools/orvplay/gif.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "tests/tools/gif_decoder.h"
#include "tools/orvplay/outputs.h"

using orvplay::Picture;
using orvplay::ShownPicture;

namespace {

// indices as giflib reads them from LzwEncode's output, in a one-frame GIF of
// as many pixels (rows of at most 65535, the field's limit).
std::vector<uint8_t> LzwDecode(const std::vector<uint8_t>& encoded, size_t pixels) {
  size_t rows = 1;
  while (pixels / rows > 65535 || pixels % rows) ++rows;
  if (rows > 65535) throw std::runtime_error("no rectangle of that many pixels");
  const size_t w = pixels / rows;
  std::vector<uint8_t> file{'G', 'I', 'F', '8', '9', 'a'};
  auto put16 = [&](size_t v) { file.insert(file.end(), {uint8_t(v), uint8_t(v >> 8)}); };
  put16(w), put16(rows);
  file.insert(file.end(), {0, 0, 0, 0x2C, 0, 0, 0, 0});  // no colour table; a frame at 0, 0
  put16(w), put16(rows);
  file.push_back(0);
  file.insert(file.end(), encoded.begin(), encoded.end());
  file.push_back(0x3B);
  const giftest::GifFile gif = giftest::OpenGif(file);
  if (gif->ImageCount != 1) throw std::runtime_error("not one image");
  const GifByteType* bits = gif->SavedImages[0].RasterBits;
  return {bits, bits + pixels};
}

void RoundTrip(const std::vector<uint8_t>& indices, int minCodeSize) {
  const std::vector<uint8_t> encoded = orvplay::LzwEncode(indices, minCodeSize);
  ASSERT_FALSE(encoded.empty());
  EXPECT_EQ(encoded[0], minCodeSize);
  EXPECT_EQ(LzwDecode(encoded, indices.size()), indices);
}

// The file an encoder writes, built by add.
template <typename Add>
std::vector<uint8_t> Encode(int32_t w, int32_t h, Add add) {
  std::vector<uint8_t> file;
  orvplay::GifEncoder encoder(
      w, h, [&](const uint8_t* data, size_t size) { file.insert(file.end(), data, data + size); });
  add(encoder);
  encoder.Finish();
  return file;
}

Picture Noise(int32_t w, int32_t h, int colours, uint32_t seed) {
  std::mt19937 rng(seed);
  Picture p(w, h);
  for (auto& b : p.rgb) b = uint8_t(rng() % uint32_t(colours) * (255 / std::max(colours - 1, 1)));
  return p;
}

TEST(LzwTest, RoundTripsAtEveryCodeSize) {
  std::mt19937 rng(7);
  for (int minCodeSize = 2; minCodeSize <= 8; ++minCodeSize) {
    SCOPED_TRACE("min code size " + std::to_string(minCodeSize));
    const uint32_t colours = 1u << minCodeSize;
    std::vector<uint8_t> random(20000);
    for (auto& v : random) v = uint8_t(rng() % colours);
    RoundTrip(random, minCodeSize);
    // Long runs grow strings fast; the table fills and is cleared many times.
    std::vector<uint8_t> runs;
    for (int i = 0; i < 300000; ++i) runs.push_back(uint8_t((i / 1000) % colours));
    RoundTrip(runs, minCodeSize);
  }
}

TEST(LzwTest, EdgeInputs) {
  RoundTrip({3}, 2);
  RoundTrip({1, 1}, 2);
  RoundTrip(std::vector<uint8_t>(5000, 0), 2);  // the string-equals-next-code case throughout
  std::vector<uint8_t> all;
  for (int i = 0; i < 256 * 40; ++i) all.push_back(uint8_t(i * 7 % 256));
  RoundTrip(all, 8);
}

TEST(GifTest, FramesWithFewColoursComeBackExactly) {
  std::vector<Picture> frames;
  for (uint32_t i = 0; i < 5; ++i) frames.push_back(Noise(37, 23, 5, i));
  // A change in a small area only, stored as a sub-rectangle.
  Picture patched = frames.back();
  patched.At(30, 20)[0] ^= 0xFF;
  patched.At(31, 21)[2] ^= 0xFF;
  frames.push_back(patched);
  const giftest::Gif gif = giftest::DecodeGif(Encode(37, 23, [&](orvplay::GifEncoder& e) {
    for (const auto& f : frames) e.Add(f, 4);
  }));
  EXPECT_EQ(gif.width, 37);
  EXPECT_EQ(gif.height, 23);
  EXPECT_EQ(gif.loops, 0);  // forever
  ASSERT_EQ(gif.frames.size(), frames.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    EXPECT_TRUE(gif.frames[i] == frames[i]);
    EXPECT_EQ(gif.delays[i], 4);
  }
}

TEST(GifTest, TimeIsKeptWhenFramesMergeOrDrop) {
  const Picture a = Noise(8, 8, 2, 1), b = Noise(8, 8, 2, 2), c = Noise(8, 8, 2, 3),
                d = Noise(8, 8, 2, 4);
  const giftest::Gif gif = giftest::DecodeGif(Encode(8, 8, [&](orvplay::GifEncoder& e) {
    e.Add(a, 3);
    e.Add(a, 3);  // equal frames: one, their times added
    e.Add(a, 4);
    e.Add(b, 1);  // too short to show: dropped, its time carried on
    e.Add(c, 0);
    e.Add(d, 5);  // shown for 1 + 0 + 5
    e.Add(d, 2);
    e.Add(b, 1);  // dropped at the end: its time goes to the last frame
  }));
  ASSERT_EQ(gif.frames.size(), 2u);
  EXPECT_EQ(gif.delays, (std::vector<int32_t>{10, 9}));
  EXPECT_TRUE(gif.frames[0] == a);
  EXPECT_TRUE(gif.frames[1] == d);
}

TEST(GifOutputTest, PlaysForTheDurationAndTheHoldAtAnyFrameRate) {
  const std::string path =
      ::testing::TempDir() + "gif-timing-" + std::to_string(::getpid()) + ".gif";
  constexpr int32_t kDuration = 1000;
  for (int32_t fps : {7, 10, 30, 240, 1000}) {
    SCOPED_TRACE("fps " + std::to_string(fps));
    // Each step's frame is one colour that names the step.
    auto frameOf = [](int32_t step) {
      Picture p(4, 2);
      for (size_t i = 0; i < p.rgb.size(); i += 3)
        p.rgb[i] = uint8_t(step), p.rgb[i + 1] = uint8_t(step >> 8), p.rgb[i + 2] = 9;
      return p;
    };
    const int32_t steps = orvplay::ExpectedSteps(kDuration, fps);
    {
      orvplay::GifOutput out(std::make_unique<orvtools::OutputFile>(path), 4, 2, kDuration);
      for (int32_t k = 0; k < steps; ++k)
        out.Step(k, orvplay::StepElapsed(k, fps), ShownPicture(frameOf(k)));
      out.Final(ShownPicture(frameOf(0xFFFF)));
      out.Commit();
    }
    const giftest::Gif gif = giftest::DecodeGifFile(path);
    std::filesystem::remove(path);
    ASSERT_FALSE(gif.frames.empty());
    int32_t at = 0;  // hundredths of a second
    for (size_t i = 0; i < gif.frames.size(); ++i) {
      const uint8_t* px = gif.frames[i].At(0, 0);
      const int32_t step = px[0] | px[1] << 8;
      EXPECT_GE(gif.delays[i], orvplay::kMinGifDelay) << "frame " << i;
      if (step != 0xFFFF) {
        // A kept frame starts when its step does, or early by the time of
        // frames dropped before it.
        const int32_t due = std::min(orvplay::StepElapsed(step, fps), kDuration) / 10;
        EXPECT_LE(at, due) << "step " << step;
        EXPECT_GT(at, due - orvplay::kMinGifDelay) << "step " << step;
      }
      at += gif.delays[i];
    }
    EXPECT_EQ(at, kDuration / 10 + orvplay::GifOutput::kHold);
    const uint8_t* last = gif.frames.back().At(0, 0);
    EXPECT_EQ(last[0] | last[1] << 8, 0xFFFF) << "the frame after Finish ends it";
    EXPECT_GE(gif.delays.back(), orvplay::GifOutput::kHold);
  }
}

TEST(GifTest, ManyColoursAreReducedClosely) {
  // A smooth two-way gradient has far more than 256 colours.
  Picture p(256, 128);
  for (int32_t y = 0; y < p.height; ++y)
    for (int32_t x = 0; x < p.width; ++x) {
      uint8_t* px = p.At(x, y);
      px[0] = uint8_t(x), px[1] = uint8_t(y * 2), px[2] = uint8_t((x + y) / 2);
    }
  const giftest::Gif gif =
      giftest::DecodeGif(Encode(p.width, p.height, [&](orvplay::GifEncoder& e) { e.Add(p, 10); }));
  ASSERT_EQ(gif.frames.size(), 1u);
  uint64_t total = 0;
  int worst = 0;
  for (size_t i = 0; i < p.rgb.size(); ++i) {
    const int d = std::abs(int(gif.frames[0].rgb[i]) - int(p.rgb[i]));
    total += uint64_t(d);
    worst = std::max(worst, d);
  }
  EXPECT_LT(double(total) / double(p.rgb.size()), 6.0);
  EXPECT_LT(worst, 48);
}

TEST(GifTest, QuantizeKeepsExactColoursUpTo256) {
  Picture p(16, 16);
  for (int32_t i = 0; i < 256; ++i) {
    uint8_t* px = p.At(i % 16, i / 16);
    px[0] = uint8_t(i), px[1] = uint8_t(255 - i), px[2] = uint8_t(i * 3);
  }
  const orvplay::IndexedImage image = orvplay::Quantize(p, 0, 0, 16, 16);
  ASSERT_EQ(image.palette.size(), 256u * 3);
  for (int32_t i = 0; i < 256; ++i) {
    const uint8_t* entry = &image.palette[size_t(image.indices[size_t(i)]) * 3];
    EXPECT_TRUE(std::equal(entry, entry + 3, p.At(i % 16, i / 16))) << "pixel " << i;
  }
  // A sub-area is quantized on its own: 2 x 2 pixels, 4 colours.
  const orvplay::IndexedImage part = orvplay::Quantize(p, 3, 5, 2, 2);
  EXPECT_EQ(part.palette.size(), 4u * 3);
  EXPECT_EQ(part.indices.size(), 4u);
}

}  // namespace
