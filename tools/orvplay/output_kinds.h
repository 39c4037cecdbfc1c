// What orvplay can write with --out, one row per kind of file. Option
// parsing, the usage text, the writers, the gallery, the check of pipes and
// of memory and the video encoder all read this table; a kind is added here
// and nowhere else.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvtools {
class OutputFile;
}

namespace orvplay {

class Output;

// What a writer is told of the run it records.
struct OutputRun {
  int32_t width = 0, height = 0;  // the pictures'
  int32_t duration = 0, fps = 0;
  int32_t expectedSteps = 0;
  bool lossless = false;
  std::string heading, settings;  // a contact sheet's title
};

// A kind's writer: its output on a file opened before the playback.
using OpenOutput = std::unique_ptr<Output> (*)(std::unique_ptr<orvtools::OutputFile> file,
                                               const OutputRun& run);
std::unique_ptr<Output> OpenGifOutput(std::unique_ptr<orvtools::OutputFile> file,
                                      const OutputRun& run);
std::unique_ptr<Output> OpenSheetOutput(std::unique_ptr<orvtools::OutputFile> file,
                                        const OutputRun& run);
// Through FFmpeg's libraries, with the row's container and encoder.
std::unique_ptr<Output> OpenVideoOutput(std::unique_ptr<orvtools::OutputFile> file,
                                        const OutputRun& run);

// How a video's pixels come from the pictures' RGB.
enum class ColourMatrix {
  kNone,   // RGB as it is
  kBt709,  // BT.709 in the limited range, said in the stream, so that players
           // turn it back into the same colours
};

// A video encoder, as FFmpeg's libraries provide it.
struct VideoCodecFacts {
  const char* name;        // in messages
  const char* ffmpegName;  // the encoder's
  // FFmpeg's name of the pixels the encoder takes; with colour planes at
  // half size (yuv420p) odd sides are padded to even.
  const char* pixels;
  ColourMatrix matrix;
  // An encoder outside FFmpeg, which reports a lack of memory only as a
  // generic error.
  bool external;
  // FFmpeg's options for the encoder, "key=value:...".
  const char* options = "";
  // Options set after those in a picture under 4 pixels on a side.
  const char* narrowOptions = "";
  // The memory it and its container take on top of the run's own, in bytes
  // per pixel of the picture, counted low (docs/orvplay.md has the
  // measurements); and the room an encoder reserves for a frame's worst case
  // (FFV1), which FFmpeg caps at 2 GiB.
  int32_t bytesPerPixel;
  int32_t packetBytesPerPixel = 0;
};

// No encoder here looks ahead or holds frames back: a frame is encoded as it
// comes, so memory stays that of a few frames (a 4096 x 4096 picture is 25 MB
// a frame) however long the video. x264's zerolatency sees to that and splits
// each frame among the threads in slices (without it x264 keeps a lookahead
// and a frame per thread in flight); for libvpx, lag-in-frames=0.
inline constexpr VideoCodecFacts kH264{.name = "H.264",
                                       .ffmpegName = "libx264",
                                       .pixels = "yuv420p",
                                       .matrix = ColourMatrix::kBt709,
                                       .external = true,
                                       .options = "preset=veryfast:tune=zerolatency:crf=18",
                                       .bytesPerPixel = 22};
// At qp 0: the pixels exactly, but few players show it.
inline constexpr VideoCodecFacts kH264Rgb{.name = "H.264 RGB",
                                          .ffmpegName = "libx264rgb",
                                          .pixels = "rgb24",
                                          .matrix = ColourMatrix::kNone,
                                          .external = true,
                                          .options = "preset=veryfast:tune=zerolatency:qp=0",
                                          .bytesPerPixel = 42};
// Realtime mode at a high speed setting: the default (good) mode takes about
// seven times as long. libvpx keeps 48 bytes a pixel for the tokens of a
// frame alone.
inline constexpr VideoCodecFacts kVp9{
    .name = "VP9",
    .ffmpegName = "libvpx-vp9",
    .pixels = "yuv420p",
    .matrix = ColourMatrix::kBt709,
    .external = true,
    .options = "deadline=realtime:cpu-used=8:row-mt=1:lag-in-frames=0:crf=24:b=0",
    .bytesPerPixel = 76};
// Always lossless. Slices, so that the threads share a frame. Level 3 cuts a
// frame into at least two slices each way: FFmpeg refuses that for a column
// of pixels and gets the pixels wrong in slices a pixel or two across, so a
// narrow picture takes level 1, which has no slices and is as exact.
inline constexpr VideoCodecFacts kFfv1{.name = "FFV1",
                                       .ffmpegName = "ffv1",
                                       .pixels = "bgr0",
                                       .matrix = ColourMatrix::kNone,
                                       .external = false,
                                       .options = "level=3:thread_type=slice",
                                       .narrowOptions = "level=1",
                                       .bytesPerPixel = 12,
                                       .packetBytesPerPixel = 148};

// Where a kind stands on the page that --all writes, in the page's order.
enum class GalleryPlace {
  kNone,
  kVideo,      // when this orvplay writes video
  kAnimation,  // inside the video, or alone where there is none
  kSheet,      // beside it
};
inline constexpr GalleryPlace kGalleryPlaces[] = {GalleryPlace::kVideo, GalleryPlace::kAnimation,
                                                  GalleryPlace::kSheet};

// A row's writer. It has no default, so a row without one does not build.
struct Writer {
  constexpr Writer(OpenOutput f) : fn(f) {}
  constexpr operator OpenOutput() const { return fn; }
  OpenOutput fn;
};

struct OutputKind {
  const char* extension;  // lower case, with the dot
  Writer open;
  const char* help;  // its line in the usage text
  GalleryPlace gallery = GalleryPlace::kNone;
  // Written front to back, so that a pipe or device as --out can take it.
  bool streams = false;
  // For video: the container (FFmpeg's name), the encoder, and the one
  // --lossless picks (none: --lossless is refused for this kind).
  const char* container = nullptr;
  const VideoCodecFacts* codec = nullptr;
  const VideoCodecFacts* lossless = nullptr;
  // What --lossless changes, for the usage text; none when it changes nothing.
  const char* losslessHelp = nullptr;

  // Written through the video library, which needs FFmpeg.
  constexpr bool IsVideo() const { return codec != nullptr; }
  constexpr bool TakesLossless() const { return lossless != nullptr; }
};

// In the order the usage text and the messages list them. Only what a
// video's encoder takes counts towards the memory a run needs: a GIF's and a
// contact sheet's few bytes a pixel are left out.
inline constexpr OutputKind kOutputKinds[] = {
    {.extension = ".gif",
     .open = OpenGifOutput,
     .help = "an animated GIF, timed as the steps (duration + 1 s hold)",
     .gallery = GalleryPlace::kAnimation,
     .streams = true},
    {.extension = ".png",
     .open = OpenSheetOutput,
     .help = "a contact sheet: frames at evenly spaced times",
     .gallery = GalleryPlace::kSheet,
     .streams = true},
    {.extension = ".mp4",
     .open = OpenVideoOutput,
     .help = "H.264 video, yuv420p, one frame per step at --fps",
     .gallery = GalleryPlace::kVideo,
     .container = "mp4",
     .codec = &kH264,
     .lossless = &kH264Rgb,
     .losslessHelp = "H.264 RGB at qp 0, the pixels exactly"},
    {.extension = ".webm",
     .open = OpenVideoOutput,
     .help = "VP9 video, yuv420p (odd sides padded to even in both)",
     .container = "webm",
     .codec = &kVp9},
    {.extension = ".mkv",
     .open = OpenVideoOutput,
     .help = "FFV1 video, lossless RGB",
     .container = "matroska",
     .codec = &kFfv1,
     .lossless = &kFfv1},
};

// Each row has its words, and each gallery place has one kind. Only strings
// are checked here: under the undefined-behaviour sanitizer GCC will not
// compare the address of a function or of an inline variable while
// compiling. The test that writes every kind checks the writers and codecs.
constexpr bool OutputKindsAreWhole() {
  int places[4] = {};
  for (const OutputKind& k : kOutputKinds) {
    if (!k.extension || !k.help) return false;
    if (k.losslessHelp && !k.container) return false;
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
const VideoCodecFacts& CodecFor(const OutputKind& kind, bool lossless);

// What a run holds without any output: the two pictures, the stage's
// surfaces and the module's buffers, in bytes per pixel.
inline constexpr int64_t kRunBytesPerPixel = 22;
// The memory a video of `pixels` pixels takes on top of the run's own.
int64_t VideoBytes(const VideoCodecFacts& codec, int64_t pixels);

}  // namespace orvplay
