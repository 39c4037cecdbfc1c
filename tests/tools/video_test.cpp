// Every kind of video orvplay writes, read back through FFmpeg's decoders:
// one frame per step and the frame after Finish, at k / fps, of the stated
// size, and the pixels exact (lossless) or close (the rest, by PSNR).
#ifdef ORVPLAY_VIDEO

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "tests/tools/video_decoder.h"
#include "tools/orvplay/outputs.h"

using orvplay::Picture;
using orvplay::ShownPicture;

namespace {

// A smooth picture (no value wraps) that moves with the step, so that every
// frame differs.
Picture Frame(int32_t w, int32_t h, int32_t step) {
  Picture p(w, h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint8_t* px = p.At(x, y);
      px[0] = uint8_t(x * 4 + step * 10);
      px[1] = uint8_t(y * 8 + 40);
      px[2] = uint8_t(150 - step * 10 + (x + y) * 2);
    }
  return p;
}

// Peak signal to noise ratio over the picture's own area of `decoded`.
double Psnr(const Picture& original, const Picture& decoded) {
  double squares = 0;
  for (int32_t y = 0; y < original.height; ++y)
    for (int32_t x = 0; x < original.width * 3; ++x) {
      const double d = double(original.At(0, y)[x]) - double(decoded.At(0, y)[x]);
      squares += d * d;
    }
  const double mse = squares / (double(original.width) * original.height * 3);
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

TEST(VideoTest, FramesComeBackAtTheirStepsAndClose) {
  struct Case {
    const char* name;
    bool lossless;
    int32_t width, height;
    const char* codec;
    int32_t codedWidth, codedHeight;
    double minPsnr;  // 99: exact
  };
  const Case cases[] = {
      {"even.mp4", false, 34, 18, "h264", 34, 18, 36},
      {"odd.mp4", false, 33, 17, "h264", 34, 18, 36},
      {"rgb.mp4", true, 33, 17, "h264", 33, 17, 99},
      {"odd.webm", false, 33, 17, "vp9", 34, 18, 38},
      {"odd.mkv", false, 33, 17, "ffv1", 33, 17, 99},
  };
  constexpr int32_t kSteps = 5, kFps = 25;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path =
        ::testing::TempDir() + "video-" + std::to_string(::getpid()) + "-" + c.name;
    {
      orvplay::VideoOutput out(std::make_unique<orvtools::OutputFile>(path), c.width, c.height,
                               kFps, c.lossless);
      for (int32_t k = 0; k < kSteps; ++k)
        out.Step(k, orvplay::StepElapsed(k, kFps), ShownPicture(Frame(c.width, c.height, k)));
      out.Final(ShownPicture(Frame(c.width, c.height, kSteps)));
      out.Commit();
    }
    const videotest::Video video = videotest::DecodeVideo(path);
    std::filesystem::remove(path);
    EXPECT_EQ(video.codec, c.codec);
    EXPECT_EQ(video.width, c.codedWidth);
    EXPECT_EQ(video.height, c.codedHeight);
    EXPECT_NEAR(video.duration, double(kSteps + 1) / kFps, 1e-3);
    ASSERT_EQ(video.frames.size(), size_t(kSteps + 1));
    for (int32_t k = 0; k <= kSteps; ++k) {
      SCOPED_TRACE("frame " + std::to_string(k));
      EXPECT_NEAR(video.times[size_t(k)], double(k) / kFps, 1e-3);
      const Picture expected = Frame(c.width, c.height, k);
      if (c.minPsnr >= 99) {
        Picture same(c.width, c.height);
        for (int32_t y = 0; y < c.height; ++y)
          std::copy_n(video.frames[size_t(k)].At(0, y), c.width * 3, same.At(0, y));
        EXPECT_TRUE(same == expected);
      } else {
        EXPECT_GE(Psnr(expected, video.frames[size_t(k)]), c.minPsnr);
      }
    }
  }
}

TEST(VideoTest, AFailedVideoLeavesNoFile) {
  const std::string dir = ::testing::TempDir() + "video-fail-" + std::to_string(::getpid());
  std::filesystem::create_directory(dir);
  {
    orvplay::VideoOutput out(std::make_unique<orvtools::OutputFile>(dir + "/v.mp4"), 16, 16, 10,
                             false);
    out.Step(0, 0, ShownPicture(Frame(16, 16, 0)));
    // Destroyed without Commit, as when the playback fails.
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir));
  std::filesystem::remove_all(dir);
}

}  // namespace

#endif
