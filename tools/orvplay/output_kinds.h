// What orvplay can write with --out, one entry per kind of file. Option
// parsing, the usage text, the choice of writer, the gallery and the video
// encoder all read this table; a kind is added here and nowhere else.
#pragma once

#include <cstddef>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace orvplay {

// What writes a kind of file.
enum class Writer { kGif, kSheet, kVideo };

// The video encoders, as FFmpeg's libraries provide them.
enum class VideoCodec { kH264, kH264Rgb, kVp9, kFfv1 };

// Each encoder, by VideoCodec: its name in messages, FFmpeg's name for it,
// whether it takes yuv420p (colour planes at half size: the sides must be
// even), and the memory it and its container take on top of the run's own, in
// bytes per pixel of the picture (docs/orvplay.md has the measurements).
// FFV1 also reserves room for a frame's worst case, `packetBytesPerPixel`,
// which FFmpeg caps at 2 GiB.
struct VideoCodecFacts {
  const char* name;
  const char* ffmpegName;
  bool subsampled;
  int32_t bytesPerPixel;
  int32_t packetBytesPerPixel = 0;
};
inline constexpr VideoCodecFacts kVideoCodecs[] = {
    {"H.264", "libx264", true, 22},
    {"H.264 RGB", "libx264rgb", false, 42},
    // libvpx keeps 48 bytes a pixel for the tokens of a frame alone.
    {"VP9", "libvpx-vp9", true, 76},
    {"FFV1", "ffv1", false, 12, 148},
};
static_assert(std::size(kVideoCodecs) == static_cast<size_t>(VideoCodec::kFfv1) + 1);
constexpr const VideoCodecFacts& FactsOf(VideoCodec codec) {
  return kVideoCodecs[static_cast<int>(codec)];
}

// Where a kind stands on the page that --all writes, in the page's order.
enum class GalleryPlace {
  kNone,
  kVideo,      // when this orvplay writes video
  kAnimation,  // inside the video, or alone where there is none
  kSheet,      // beside it
};
inline constexpr GalleryPlace kGalleryPlaces[] = {GalleryPlace::kVideo, GalleryPlace::kAnimation,
                                                  GalleryPlace::kSheet};

struct OutputKind {
  const char* extension;  // lower case, with the dot
  Writer writer;
  const char* help;  // its line in the usage text
  GalleryPlace gallery;
  // For video: the container, the encoder, and the one --lossless picks
  // (none: --lossless is refused for this kind).
  const char* container = nullptr;
  std::optional<VideoCodec> codec = std::nullopt;
  std::optional<VideoCodec> lossless = std::nullopt;
  // What --lossless changes, for the usage text; none when it changes nothing.
  const char* losslessHelp = nullptr;

  bool TakesLossless() const { return lossless.has_value(); }
};

// In the order the usage text and the messages list them.
inline constexpr OutputKind kOutputKinds[] = {
    {".gif", Writer::kGif, "an animated GIF, timed as the steps (duration + 1 s hold)",
     GalleryPlace::kAnimation},
    {".png", Writer::kSheet, "a contact sheet: frames at evenly spaced times",
     GalleryPlace::kSheet},
    {".mp4", Writer::kVideo, "H.264 video, yuv420p, one frame per step at --fps",
     GalleryPlace::kVideo, "mp4", VideoCodec::kH264, VideoCodec::kH264Rgb,
     "H.264 RGB at qp 0, the pixels exactly"},
    {".webm", Writer::kVideo, "VP9 video, yuv420p (odd sides padded to even in both)",
     GalleryPlace::kNone, "webm", VideoCodec::kVp9},
    {".mkv", Writer::kVideo, "FFV1 video, lossless RGB", GalleryPlace::kNone, "matroska",
     VideoCodec::kFfv1, VideoCodec::kFfv1},
};

// Each entry says what its writer needs, and each gallery place has one kind.
constexpr bool OutputKindsAreWhole() {
  int places[4] = {};
  for (const OutputKind& k : kOutputKinds) {
    const bool video = k.writer == Writer::kVideo;
    if (video != (k.container && k.codec)) return false;
    if (!video && k.lossless) return false;
    ++places[int(k.gallery)];
  }
  return places[int(GalleryPlace::kVideo)] <= 1 && places[int(GalleryPlace::kAnimation)] == 1 &&
         places[int(GalleryPlace::kSheet)] == 1;
}
static_assert(OutputKindsAreWhole());

// The kind a file name ends in (any case), or none.
const OutputKind* OutputKindFor(const std::string& path);
// The kind at a place of the gallery; none for a place no kind takes.
const OutputKind* GalleryKind(GalleryPlace place);
// Every extension, in the table's order.
std::vector<std::string> OutputExtensions();

// The encoder a video kind uses.
VideoCodec CodecFor(const OutputKind& kind, bool lossless);

// What a run holds without any output: the two pictures, the stage's
// surfaces and the module's buffers, in bytes per pixel.
inline constexpr int64_t kRunBytesPerPixel = 22;
// The memory a video of `pixels` pixels takes on top of the run's own.
int64_t VideoBytes(VideoCodec codec, int64_t pixels);

}  // namespace orvplay
