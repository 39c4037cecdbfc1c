// A PNG writer that needs no library: 8-bit RGB rows in zlib "stored"
// (uncompressed) deflate blocks, with its own CRC-32 and Adler-32, for builds
// without libpng. The files are larger than compressed ones but any reader
// takes them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace orvpng {

inline uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

inline uint32_t Adler32(const std::vector<uint8_t>& data) {
  uint32_t a = 1, b = 0;
  for (uint8_t v : data) {
    a = (a + v) % 65521u;
    b = (b + a) % 65521u;
  }
  return b << 16 | a;
}

inline void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

inline void PutChunk(std::vector<uint8_t>& out, const char type[4],
                     const std::vector<uint8_t>& body) {
  PutBe32(out, static_cast<uint32_t>(body.size()));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), body.begin(), body.end());
  PutBe32(out, Crc32(out.data() + start, out.size() - start));
}

// The whole file for pixels of 0x00RRGGBB, top row first.
inline std::vector<uint8_t> EncodeRgb(const uint32_t* pixels, int32_t width, int32_t height) {
  std::vector<uint8_t> raw;  // filter byte 0, then R, G, B for each pixel
  raw.reserve(static_cast<size_t>(height) * (1 + 3 * static_cast<size_t>(width)));
  for (int32_t y = 0; y < height; ++y) {
    raw.push_back(0);
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t p = pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + x];
      raw.insert(raw.end(), {static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8),
                             static_cast<uint8_t>(p)});
    }
  }
  std::vector<uint8_t> z = {0x78, 0x01};  // deflate, 32K window, no dictionary
  size_t at = 0;
  do {  // stored blocks of at most 65535 bytes; an empty image still gets one
    const size_t n = std::min<size_t>(raw.size() - at, 65535);
    z.push_back(at + n == raw.size() ? 1 : 0);  // BFINAL, BTYPE 00
    z.insert(z.end(), {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                       static_cast<uint8_t>(~n), static_cast<uint8_t>(~n >> 8)});
    z.insert(z.end(), raw.begin() + static_cast<ptrdiff_t>(at),
             raw.begin() + static_cast<ptrdiff_t>(at + n));
    at += n;
  } while (at < raw.size());
  PutBe32(z, Adler32(raw));

  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  PutBe32(header, static_cast<uint32_t>(width));
  PutBe32(header, static_cast<uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, filter 0, no interlace
  PutChunk(out, "IHDR", header);
  PutChunk(out, "IDAT", z);
  PutChunk(out, "IEND", {});
  return out;
}

inline bool WriteRgb(const std::string& path, const uint32_t* pixels, int32_t width,
                     int32_t height) {
  const std::vector<uint8_t> bytes = EncodeRgb(pixels, width, height);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace orvpng
