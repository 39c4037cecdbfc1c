// Reads a video file back through libavformat and libavcodec for the tests:
// every frame as 8-bit RGB with its presentation time.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <stdexcept>
#include <string>
#include <vector>

#include "tools/picture.h"

namespace videotest {

struct Video {
  std::string codec;
  int32_t width = 0, height = 0;
  double duration = 0;  // seconds, as the container states it
  std::vector<orvplay::Picture> frames;
  std::vector<double> times;  // seconds
};

inline Video DecodeVideo(const std::string& path) {
  Video video;
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0)
    throw std::runtime_error("cannot open " + path);
  AVCodecContext* codec = nullptr;
  AVFrame* frame = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  SwsContext* scale = nullptr;
  auto cleanup = [&] {
    sws_freeContext(scale);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
  };
  try {
    if (avformat_find_stream_info(format, nullptr) < 0 || format->nb_streams != 1)
      throw std::runtime_error(path + ": not one stream");
    const AVStream* stream = format->streams[0];
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    codec = avcodec_alloc_context3(decoder);
    if (!decoder || avcodec_parameters_to_context(codec, stream->codecpar) < 0 ||
        avcodec_open2(codec, decoder, nullptr) < 0)
      throw std::runtime_error(path + ": no decoder");
    video.codec = decoder->name;
    video.width = codec->width;
    video.height = codec->height;
    video.duration = double(format->duration) / AV_TIME_BASE;
    auto receive = [&] {
      while (avcodec_receive_frame(codec, frame) == 0) {
        orvplay::Picture picture(frame->width, frame->height);
        const auto source = AVPixelFormat(frame->format);
        scale = sws_getCachedContext(scale, frame->width, frame->height, source, frame->width,
                                     frame->height, AV_PIX_FMT_RGB24,
                                     SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                                     nullptr, nullptr);
        if (frame->colorspace == AVCOL_SPC_BT709) {
          const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
          sws_setColorspaceDetails(scale, bt709, 0, bt709, 1, 0, 1 << 16, 1 << 16);
        }
        uint8_t* planes[1] = {picture.rgb.data()};
        const int strides[1] = {picture.width * 3};
        sws_scale(scale, frame->data, frame->linesize, 0, frame->height, planes, strides);
        video.frames.push_back(std::move(picture));
        video.times.push_back(double(frame->best_effort_timestamp) * av_q2d(stream->time_base));
      }
    };
    while (av_read_frame(format, packet) >= 0) {
      avcodec_send_packet(codec, packet);
      av_packet_unref(packet);
      receive();
    }
    avcodec_send_packet(codec, nullptr);
    receive();
  } catch (...) {
    cleanup();
    throw;
  }
  cleanup();
  return video;
}

}  // namespace videotest
