#include "tools/orvplay/png_io.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace orvplay {

namespace {

// libpng reports errors by longjmp; the message is kept for the exception.
struct ErrorState {
  std::string message;
};

void OnError(png_structp png, png_const_charp message) {
  static_cast<ErrorState*>(png_get_error_ptr(png))->message = message;
  png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp) {}

// Pictures larger than this on either side are refused before any row is read.
constexpr uint32_t kMaxSide = 16384;

}  // namespace

Picture ReadPng(const std::string& path) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) throw std::runtime_error("cannot open picture " + path);
  png_byte signature[8];
  if (std::fread(signature, 1, 8, file.get()) != 8 || png_sig_cmp(signature, 0, 8) != 0)
    throw std::runtime_error("picture " + path + " is not a PNG file");

  ErrorState state;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, OnError, OnWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    throw std::runtime_error("out of memory reading " + path);
  }
  // Everything that must survive a longjmp lives outside this frame's locals
  // that change after setjmp.
  auto picture = std::make_unique<Picture>();
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    throw std::runtime_error("picture " + path + " is damaged: " + state.message);
  }
  png_init_io(png, file.get());
  png_set_sig_bytes(png, 8);
  png_set_user_limits(png, kMaxSide, kMaxSide);
  png_read_info(png, info);

  const png_byte color = png_get_color_type(png, info);
  png_set_strip_16(png);
  png_set_packing(png);
  if (color == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (color == PNG_COLOR_TYPE_GRAY || color == PNG_COLOR_TYPE_GRAY_ALPHA) {
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_gray_to_rgb(png);
  }
  png_set_strip_alpha(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t(png_get_image_width(png, info)) * 3)
    png_error(png, "unexpected pixel format");

  *picture =
      Picture(int32_t(png_get_image_width(png, info)), int32_t(png_get_image_height(png, info)));
  rows.resize(size_t(picture->height));
  for (int32_t y = 0; y < picture->height; ++y) rows[size_t(y)] = picture->At(0, y);
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return std::move(*picture);
}

std::vector<uint8_t> EncodePng(const Picture& picture) {
  ErrorState state;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, OnError, OnWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    throw std::runtime_error("out of memory writing a PNG");
  }
  auto bytes = std::make_unique<std::vector<uint8_t>>();
  std::vector<png_const_bytep> rows(size_t(picture.height));
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    throw std::runtime_error("cannot encode a PNG: " + state.message);
  }
  png_set_write_fn(
      png, bytes.get(),
      [](png_structp p, png_bytep data, size_t n) {
        auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
        out->insert(out->end(), data, data + n);
      },
      nullptr);
  png_set_IHDR(png, info, png_uint_32(picture.width), png_uint_32(picture.height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  // Level 6 is far quicker than 9 for frames and barely larger.
  png_set_compression_level(png, 6);
  png_write_info(png, info);
  for (int32_t y = 0; y < picture.height; ++y) rows[size_t(y)] = picture.At(0, y);
  png_write_image(png, const_cast<png_bytepp>(rows.data()));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::move(*bytes);
}

}  // namespace orvplay
