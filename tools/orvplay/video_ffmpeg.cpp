// orvplay's video, written through FFmpeg's libraries: the library orvplay
// loads the first time it writes a video (video.cpp), so that a run that
// writes none does not load FFmpeg and the hundred libraries behind it.
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "tools/orvplay/output_kinds.h"
#include "tools/orvplay/video_library.h"

namespace orvplay {

namespace {

// An allocation that fails inside an encoder comes back as ENOMEM from
// FFmpeg's own code, but as a generic failure from the external encoders
// (x264: "external", libvpx: "invalid argument" or "invalid data"), which say
// nothing more. With the settings fixed here those fail for want of memory
// only: taken so when the address space is limited (ulimit -v) or an
// allocation of a frame's size fails right then.
std::string AvError(int code, size_t frameBytes, bool external) {
  if (code == AVERROR(ENOMEM)) return "out of memory";
  if (external &&
      (code == AVERROR_EXTERNAL || code == AVERROR(EINVAL) || code == AVERROR_INVALIDDATA)) {
    rlimit limit{};
    const bool limited = ::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY;
    void* probe = av_malloc(frameBytes);
    av_free(probe);
    if (limited || !probe) return "out of memory";
  }
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// The encoders' threads: a fixed few, so that the memory a video takes does
// not grow with the machine. Each encoder splits a frame among its threads
// (slices or rows) rather than holding one frame per thread.
int ThreadCount() { return int(std::clamp(std::thread::hardware_concurrency(), 1u, 4u)); }

struct State {
  VideoSink& file;
  std::string what;  // "FILE (H.264)" for messages
  int32_t width, height;
  int64_t next = 0;  // the next frame's number
  bool padded = false;
  Picture evened;  // the picture padded to even sides, when it needs it
  AVFormatContext* format = nullptr;
  AVIOContext* io = nullptr;
  AVCodecContext* codec = nullptr;
  AVStream* stream = nullptr;
  SwsContext* scale = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  // The first write error inside the muxer arrives here through the
  // callbacks; it is thrown again once FFmpeg has returned. After it the file
  // is not touched again (the muxer may still try to seek back to a header),
  // so that a later failure cannot take the first one's place.
  std::string ioError;
  size_t frameBytes = 0;  // a frame's pixels, for telling a lack of memory
  bool external = false;  // an encoder outside FFmpeg

  explicit State(VideoSink& f) : file(f) {}
  ~State() {
    av_packet_free(&packet);
    av_frame_free(&frame);
    sws_freeContext(scale);
    avcodec_free_context(&codec);
    if (format) avformat_free_context(format);
    if (io) av_free(io->buffer);
    avio_context_free(&io);
  }

  void Check(int code, const char* doing) {
    if (!ioError.empty()) throw std::runtime_error(ioError);
    if (code < 0)
      throw std::runtime_error(what + ": " + doing + ": " + AvError(code, frameBytes, external));
  }

  static int WritePacket(void* opaque, uint8_t* data, int size) {
    auto* s = static_cast<State*>(opaque);
    if (!s->ioError.empty()) return AVERROR(EIO);
    try {
      s->file.Write(data, size_t(size));
      return size;
    } catch (const std::exception& e) {
      s->ioError = e.what();
      return AVERROR(EIO);
    }
  }
  static int64_t SeekTo(void* opaque, int64_t offset, int whence) {
    auto* s = static_cast<State*>(opaque);
    if (!s->ioError.empty()) return AVERROR(EIO);
    try {
      if (whence == AVSEEK_SIZE) return s->file.Size();
      return s->file.Seek(offset, whence & ~AVSEEK_FORCE);
    } catch (const std::exception& e) {
      s->ioError = e.what();
      return AVERROR(EIO);
    }
  }

  // The steps of starting a video, in order.
  void StartContainer(const char* container);
  void OpenEncoder(const VideoCodecFacts& facts, AVPixelFormat pixels, int32_t codedW,
                   int32_t codedH, int32_t fps);
  void SetOptions(const char* options);
  void StartFile();  // the stream, the file's writer, the header
  // The frame the encoder takes, the conversion into it (BT.709 where the
  // encoder's record says so) and, for a padded video, the padded picture.
  void PrepareFrames(bool bt709);

  // Sends a frame (or, with none, the end) and writes every packet ready.
  void Drain(AVFrame* input) {
    Check(avcodec_send_frame(codec, input), "encoding");
    for (;; file.CheckStop()) {
      const int got = avcodec_receive_packet(codec, packet);
      if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return;
      Check(got, "encoding");
      // A frame lasts one frame time; the last one's sets the file's duration.
      if (packet->duration == 0) packet->duration = 1;
      av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
      packet->stream_index = stream->index;
      Check(av_interleaved_write_frame(format, packet), "writing");
    }
  }
};

void State::StartContainer(const char* container) {
  Check(avformat_alloc_output_context2(&format, nullptr, container, nullptr),
        "starting the container");
}

void State::OpenEncoder(const VideoCodecFacts& facts, AVPixelFormat pixels, int32_t codedW,
                        int32_t codedH, int32_t fps) {
  const char* name = facts.ffmpegName;
  const AVCodec* encoder = avcodec_find_encoder_by_name(name);
  if (!encoder) throw std::runtime_error(what + ": this FFmpeg has no " + name + " encoder");
  external = facts.external;
  codec = avcodec_alloc_context3(encoder);
  frame = av_frame_alloc();
  packet = av_packet_alloc();
  if (!codec || !frame || !packet) throw std::bad_alloc();
  AVCodecContext* c = codec;
  c->width = codedW;
  c->height = codedH;
  c->time_base = AVRational{1, fps};
  c->framerate = AVRational{fps, 1};
  c->sample_aspect_ratio = AVRational{1, 1};
  c->thread_count = ThreadCount();
  c->pix_fmt = pixels;
  if (facts.matrix == ColourMatrix::kBt709) {
    c->color_range = AVCOL_RANGE_MPEG;
    c->colorspace = AVCOL_SPC_BT709;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_BT709;
  }
  SetOptions(facts.options);
  if (codedW < 4 || codedH < 4) SetOptions(facts.narrowOptions);
  if (format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  Check(avcodec_open2(c, encoder, nullptr), "opening the encoder");
}

// Options go to the encoder's own settings first, then to the common ones; an
// option the encoder has neither of is an error, not a setting left out.
void State::SetOptions(const char* options) {
  AVDictionary* dict = nullptr;
  int code = av_dict_parse_string(&dict, options, "=", ":", 0);
  if (code >= 0) code = av_opt_set_dict2(codec, &dict, AV_OPT_SEARCH_CHILDREN);
  const AVDictionaryEntry* left = av_dict_get(dict, "", nullptr, AV_DICT_IGNORE_SUFFIX);
  const std::string unknown = left ? left->key : "";
  av_dict_free(&dict);
  Check(code, "setting the encoder's options");
  if (!unknown.empty())
    throw std::runtime_error(what + ": this FFmpeg's " + codec->codec->name + " has no option " +
                             unknown);
}

void State::StartFile() {
  stream = avformat_new_stream(format, nullptr);
  if (!stream) throw std::bad_alloc();
  stream->time_base = codec->time_base;
  stream->avg_frame_rate = codec->framerate;
  Check(avcodec_parameters_from_context(stream->codecpar, codec), "describing the stream");

  constexpr int kBuffer = 1 << 16;
  auto* buffer = static_cast<uint8_t*>(av_malloc(kBuffer));
  io = buffer ? avio_alloc_context(buffer, kBuffer, 1, this, nullptr, &State::WritePacket,
                                   &State::SeekTo)
              : nullptr;
  if (!io) {
    av_free(buffer);
    throw std::bad_alloc();
  }
  format->pb = io;
  format->flags |= AVFMT_FLAG_CUSTOM_IO;
  Check(avformat_write_header(format, nullptr), "writing the header");
}

void State::PrepareFrames(bool bt709) {
  const AVCodecContext* c = codec;
  frame->format = c->pix_fmt;
  frame->width = c->width;
  frame->height = c->height;
  frame->color_range = c->color_range;
  frame->colorspace = c->colorspace;
  Check(av_frame_get_buffer(frame, 0), "allocating a frame");
  if (padded) evened = Picture(c->width, c->height);
  // Pictures come as RGB24; other encoders' pixels are converted.
  if (c->pix_fmt == AV_PIX_FMT_RGB24) return;
  scale = sws_getContext(c->width, c->height, AV_PIX_FMT_RGB24, c->width, c->height, c->pix_fmt,
                         SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr,
                         nullptr);
  if (!scale) throw std::runtime_error(what + ": no conversion to the encoder's pixels");
  if (bt709) {
    int* inv;
    int* table;
    int srcRange, dstRange, brightness, contrast, saturation;
    sws_getColorspaceDetails(scale, &inv, &srcRange, &table, &dstRange, &brightness, &contrast,
                             &saturation);
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(scale, coefficients, 1, coefficients, 0, brightness, contrast,
                             saturation);
  }
}

// The writer orvplay gets: the steps above in order, then a frame at a time.
class FfmpegWriter final : public VideoWriter {
 public:
  FfmpegWriter(VideoSink& file, const char* container, const VideoCodecFacts& codec, int32_t width,
               int32_t height, int32_t fps);
  void Add(const Picture& picture) override;
  void Finish() override;

 private:
  State s;
};

FfmpegWriter::FfmpegWriter(VideoSink& file, const char* container, const VideoCodecFacts& codec,
                           int32_t width, int32_t height, int32_t fps)
    : s(file) {
  // The encoders' own reports (settings, statistics) are not for the user;
  // what goes wrong comes back as an error code and is reported by us.
  av_log_set_level(AV_LOG_ERROR);
  s.what = file.path() + " (" + codec.name + ")";
  s.width = width;
  s.height = height;
  s.frameBytes = size_t(width) * size_t(height) * 3;
  const AVPixelFormat pixels = av_get_pix_fmt(codec.pixels);
  const AVPixFmtDescriptor* layout = av_pix_fmt_desc_get(pixels);
  if (!layout)
    throw std::runtime_error(s.what + ": this FFmpeg has no " + codec.pixels + " pixels");
  // Colour planes at a fraction of the picture's size (yuv420p: half each
  // way) need sides that fraction divides: the picture is padded to them.
  const int32_t stepW = 1 << layout->log2_chroma_w, stepH = 1 << layout->log2_chroma_h;
  const int32_t codedW = (width + stepW - 1) / stepW * stepW,
                codedH = (height + stepH - 1) / stepH * stepH;
  s.padded = codedW != width || codedH != height;
  s.StartContainer(container);
  s.OpenEncoder(codec, pixels, codedW, codedH, fps);
  s.StartFile();
  s.PrepareFrames(codec.matrix == ColourMatrix::kBt709);
}

void FfmpegWriter::Add(const Picture& picture) {
  if (picture.width != s.width || picture.height != s.height)
    throw std::logic_error("video frame of the wrong size");
  s.file.CheckStop();
  const Picture* source = &picture;
  if (s.padded) {
    // The extra column and row repeat the picture's last ones.
    Picture& e = s.evened;
    for (int32_t y = 0; y < e.height; ++y) {
      const uint8_t* row = picture.At(0, std::min(y, picture.height - 1));
      std::copy_n(row, size_t(picture.width) * 3, e.At(0, y));
      if (e.width > picture.width)
        std::copy_n(row + (picture.width - 1) * 3, 3, e.At(picture.width, y));
    }
    source = &e;
  }
  s.Check(av_frame_make_writable(s.frame), "allocating a frame");
  const uint8_t* planes[1] = {source->rgb.data()};
  const int strides[1] = {source->width * 3};
  if (s.scale) {
    sws_scale(s.scale, planes, strides, 0, source->height, s.frame->data, s.frame->linesize);
  } else {
    for (int32_t y = 0; y < source->height; ++y)
      std::copy_n(source->At(0, y), size_t(strides[0]),
                  s.frame->data[0] + y * s.frame->linesize[0]);
  }
  s.frame->pts = s.next++;
  s.Drain(s.frame);
}

void FfmpegWriter::Finish() {
  s.Drain(nullptr);
  s.Check(av_write_trailer(s.format), "completing the file");
  avio_flush(s.io);
  s.Check(s.io->error, "writing");
}

}  // namespace
}  // namespace orvplay

extern "C" [[gnu::visibility("default")]] orvplay::VideoWriter* OrvplayOpenVideo(
    orvplay::VideoSink& file, const char* container, const orvplay::VideoCodecFacts& codec,
    int32_t width, int32_t height, int32_t fps) {
  return new orvplay::FfmpegWriter(file, container, codec, width, height, fps);
}
