// PNG files in and out of both tools, through libpng.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/picture.h"

namespace orvplay {

// Reads any PNG as 8-bit RGB: 16-bit samples are cut to 8, palettes and grey
// are expanded, alpha and transparency are dropped. Throws std::runtime_error
// naming the file when it cannot be read or is not a PNG.
Picture ReadPng(const std::string& path);

// The width and height a PNG file's header declares, read from its first
// bytes without decoding anything, and refused as ReadPng refuses them (past
// the limits, or more pixels than the file can hold); none when the file is
// not a regular file or does not start as a PNG does (ReadPng then says what
// is wrong).
struct PictureSize {
  int64_t width, height;
};
std::optional<PictureSize> ReadPngSize(const std::string& path);

// The picture as a complete PNG file in memory.
std::vector<uint8_t> EncodePng(const Picture& picture);

}  // namespace orvplay
