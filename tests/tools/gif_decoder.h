// A GIF reader written for the tests, independent of the encoder: it follows
// the file format (sub-blocks, LZW with variable code width and clear codes,
// local colour tables, graphic control delays) and composites every frame.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/picture.h"

namespace giftest {

// LZW-decodes an image's data (sub-blocks already joined) into indices.
inline std::vector<uint8_t> LzwDecode(const std::vector<uint8_t>& data, int minCodeSize) {
  const int clear = 1 << minCodeSize, end = clear + 1;
  std::vector<int> prefix(4096, -1);
  std::vector<uint8_t> suffix(4096, 0), first(4096, 0);
  for (int i = 0; i < clear; ++i) suffix[size_t(i)] = first[size_t(i)] = uint8_t(i);
  std::vector<uint8_t> out;
  int bits = minCodeSize + 1, next = end + 1, previous = -1;
  size_t bitPos = 0;
  auto expand = [&](int code, std::vector<uint8_t>& into) {
    std::vector<uint8_t> s;
    for (int c = code; c >= 0; c = prefix[size_t(c)]) s.push_back(suffix[size_t(c)]);
    into.insert(into.end(), s.rbegin(), s.rend());
  };
  for (;;) {
    if (bitPos + size_t(bits) > data.size() * 8) throw std::runtime_error("LZW data ends early");
    int code = 0;
    for (int b = 0; b < bits; ++b, ++bitPos) code |= (data[bitPos / 8] >> (bitPos % 8) & 1) << b;
    if (code == clear) {
      bits = minCodeSize + 1, next = end + 1, previous = -1;
      continue;
    }
    if (code == end) break;
    if (previous < 0) {
      if (code >= clear) throw std::runtime_error("first code after clear is not a colour");
      expand(code, out);
      previous = code;
      continue;
    }
    if (code > next || (code == next && next >= 4096)) throw std::runtime_error("bad LZW code");
    const uint8_t head = code < next ? first[size_t(code)] : first[size_t(previous)];
    if (next < 4096) {
      prefix[size_t(next)] = previous;
      suffix[size_t(next)] = head;
      first[size_t(next)] = first[size_t(previous)];
      ++next;
      if (next == (1 << bits) && bits < 12) ++bits;
    }
    expand(code, out);
    previous = code;
  }
  return out;
}

struct Gif {
  int32_t width = 0, height = 0;
  bool loops = false;
  std::vector<orvplay::Picture> frames;  // composited, as a viewer shows them
  std::vector<int32_t> delays;           // hundredths of a second
};

inline Gif DecodeGif(const std::vector<uint8_t>& file) {
  size_t p = 0;
  auto need = [&](size_t n) {
    if (p + n > file.size()) throw std::runtime_error("GIF ends early");
  };
  auto u8 = [&]() {
    need(1);
    return file[p++];
  };
  auto u16 = [&]() {
    need(2);
    p += 2;
    return int32_t(file[p - 2] | file[p - 1] << 8);
  };
  auto blocks = [&]() {
    std::vector<uint8_t> data;
    for (uint8_t n; (n = u8()) != 0; p += n) {
      need(n);
      data.insert(data.end(), file.begin() + long(p), file.begin() + long(p + n));
    }
    return data;
  };
  need(6);
  if (std::string(file.begin(), file.begin() + 6) != "GIF89a")
    throw std::runtime_error("not GIF89a");
  p = 6;
  Gif gif;
  gif.width = u16();
  gif.height = u16();
  const uint8_t flags = u8();
  p += 2;
  std::vector<uint8_t> globalTable;
  if (flags & 0x80) {
    const size_t n = size_t(3) << ((flags & 7) + 1);
    need(n);
    globalTable.assign(file.begin() + long(p), file.begin() + long(p + n));
    p += n;
  }
  orvplay::Picture canvas(gif.width, gif.height);
  int32_t delay = 0;
  for (;;) {
    const uint8_t kind = u8();
    if (kind == 0x3B) break;
    if (kind == 0x21) {
      const uint8_t label = u8();
      std::vector<uint8_t> data = blocks();
      if (label == 0xF9) {
        if (data.size() != 4) throw std::runtime_error("bad graphic control block");
        if ((data[0] >> 2 & 7) > 1) throw std::runtime_error("unexpected disposal");
        delay = data[1] | data[2] << 8;
      } else if (label == 0xFF && data.size() >= 11 &&
                 std::string(data.begin(), data.begin() + 11) == "NETSCAPE2.0") {
        gif.loops = true;
      }
      continue;
    }
    if (kind != 0x2C) throw std::runtime_error("unknown GIF block");
    const int32_t x = u16(), y = u16(), w = u16(), h = u16();
    const uint8_t imageFlags = u8();
    if (imageFlags & 0x40) throw std::runtime_error("interlaced frames are not expected");
    std::vector<uint8_t> table = globalTable;
    if (imageFlags & 0x80) {
      const size_t n = size_t(3) << ((imageFlags & 7) + 1);
      need(n);
      table.assign(file.begin() + long(p), file.begin() + long(p + n));
      p += n;
    }
    const int minCode = u8();
    const std::vector<uint8_t> indices = LzwDecode(blocks(), minCode);
    if (indices.size() != size_t(w) * size_t(h)) throw std::runtime_error("wrong pixel count");
    if (x + w > gif.width || y + h > gif.height) throw std::runtime_error("frame outside screen");
    for (int32_t j = 0; j < h; ++j)
      for (int32_t i = 0; i < w; ++i) {
        const size_t k = indices[size_t(j) * size_t(w) + size_t(i)];
        if (k * 3 + 2 >= table.size()) throw std::runtime_error("index past the colour table");
        uint8_t* px = canvas.At(x + i, y + j);
        px[0] = table[k * 3], px[1] = table[k * 3 + 1], px[2] = table[k * 3 + 2];
      }
    gif.frames.push_back(canvas);
    gif.delays.push_back(delay);
    delay = 0;
  }
  return gif;
}

}  // namespace giftest
