#include "tools/png_io.h"

#include <png.h>
#include <sys/stat.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "tools/safe_output.h"

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

// The most a deflate stream can shrink its data: 258 bytes in 2 bits.
constexpr uint64_t kMaxDeflateRatio = 1032;

// Frees libpng's read state however ReadPng leaves.
struct ReadState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~ReadState() { png_destroy_read_struct(&png, &info, nullptr); }
};

// The file as libpng reads it. Once every row is whole nothing more is read:
// data past the rows (a deflate stream may go on for gigabytes) is not
// inflated. A stop signal is seen at every read, inside the decoder too.
struct Input {
  FILE* file = nullptr;
  uint32_t height = 0;
  bool interlaced = false;
  bool rowsStarted = false;
  bool rowsWhole = false;
};

void ReadBytes(png_structp png, png_bytep data, size_t size) {
  auto* in = static_cast<Input*>(png_get_io_ptr(png));
  if (in->rowsStarted && (in->interlaced ? png_get_current_pass_number(png) >= 7
                                         : png_get_current_row_number(png) >= in->height)) {
    in->rowsWhole = true;
    png_error(png, "the rows are whole");
  }
  if (orvtools::StopSignal()) png_error(png, "stopped");
  if (std::fread(data, 1, size, in->file) != size) png_error(png, "Read Error");
}

struct WriteState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~WriteState() { png_destroy_write_struct(&png, &info); }
};

// Refuses a picture past the limits, and one whose file is too short to hold
// the pixels its header declares.
void CheckDeclaredSize(const std::string& path, uint32_t width, uint32_t height, int channels,
                       int bitDepth, FILE* file) {
  struct stat st {};
  // A pipe's size is not known before it has been read.
  const uint64_t fileSize =
      ::fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode) ? uint64_t(st.st_size) : UINT64_MAX;
  const std::string problem = PictureSizeProblem(path, width, height);
  if (!problem.empty()) throw std::runtime_error(problem);
  const uint64_t rawBytes =
      uint64_t(height) * (1 + (uint64_t(width) * uint64_t(channels) * uint64_t(bitDepth) + 7) / 8);
  if (fileSize < rawBytes / kMaxDeflateRatio)
    throw std::runtime_error(path + ": " + std::to_string(fileSize) +
                             " bytes are too few for the " + std::to_string(width) + " x " +
                             std::to_string(height) + " pixels it declares");
}

}  // namespace

std::optional<PictureSize> ReadPngSize(const std::string& path) {
  // Only a regular file: reading the start of a pipe would take it away from
  // the decoder.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  // The signature, then the IHDR chunk: length 13, type, width, height, bit
  // depth, colour type.
  png_byte head[26];
  if (!file || std::fread(head, 1, sizeof head, file.get()) != sizeof head ||
      png_sig_cmp(head, 0, 8) != 0 || png_get_uint_32(head + 8) != 13 ||
      std::memcmp(head + 12, "IHDR", 4) != 0)
    return std::nullopt;
  const uint32_t width = png_get_uint_32(head + 16), height = png_get_uint_32(head + 20);
  const int bitDepth = head[24];
  int channels = 0;
  switch (head[25]) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
      channels = 1;
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      channels = 2;
      break;
    case PNG_COLOR_TYPE_RGB:
      channels = 3;
      break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      channels = 4;
      break;
    default:
      return std::nullopt;  // the decoder names the damage
  }
  CheckDeclaredSize(path, width, height, channels, bitDepth, file.get());
  return PictureSize{width, height};
}

Picture ReadPng(const std::string& path) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) throw std::runtime_error("cannot open " + orvtools::Reason(path, errno));
  png_byte signature[8];
  if (std::fread(signature, 1, 8, file.get()) != 8 || png_sig_cmp(signature, 0, 8) != 0)
    throw std::runtime_error("picture " + path + " is not a PNG file");

  ErrorState error;
  ReadState state;
  state.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, OnError, OnWarning);
  state.info = state.png ? png_create_info_struct(state.png) : nullptr;
  if (!state.info) throw std::runtime_error("out of memory reading " + path);
  png_structp png = state.png;
  png_infop info = state.info;
  // Everything that must survive a longjmp lives outside this frame's locals
  // that change after setjmp.
  auto picture = std::make_unique<Picture>();
  auto input = std::make_unique<Input>();
  input->file = file.get();
  if (setjmp(png_jmpbuf(png))) {
    if (input->rowsWhole) return std::move(*picture);
    throw std::runtime_error("picture " + path + " is damaged: " + error.message);
  }
  png_set_read_fn(png, input.get(), ReadBytes);
  png_set_sig_bytes(png, 8);
  // The limits are ours, told in our words (below), not libpng's.
  png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
  png_read_info(png, info);

  // The size is checked before any pixel has memory.
  CheckDeclaredSize(path, png_get_image_width(png, info), png_get_image_height(png, info),
                    png_get_channels(png, info), png_get_bit_depth(png, info), file.get());
  const uint32_t width = png_get_image_width(png, info), height = png_get_image_height(png, info);

  const png_byte color = png_get_color_type(png, info);
  png_set_strip_16(png);
  png_set_packing(png);
  if (color == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (color == PNG_COLOR_TYPE_GRAY || color == PNG_COLOR_TYPE_GRAY_ALPHA) {
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_gray_to_rgb(png);
  }
  png_set_strip_alpha(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t(width) * 3) png_error(png, "unexpected pixel format");

  // Every pass of every row lands in it (interlaced or not). What follows
  // the rows is not read.
  *picture = Picture(int32_t(width), int32_t(height), Picture::Unset{});
  input->height = height;
  input->interlaced = passes > 1;
  input->rowsStarted = true;
  for (int pass = 0; pass < passes; ++pass)
    for (int32_t y = 0; y < picture->height; ++y) {
      orvtools::CheckStop();
      png_read_row(png, picture->At(0, y), nullptr);
    }
  return std::move(*picture);
}

std::vector<uint8_t> EncodePng(const Picture& picture) {
  ErrorState error;
  WriteState state;
  state.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, OnError, OnWarning);
  state.info = state.png ? png_create_info_struct(state.png) : nullptr;
  if (!state.info) throw std::runtime_error("out of memory writing a PNG");
  png_structp png = state.png;
  png_infop info = state.info;
  auto bytes = std::make_unique<std::vector<uint8_t>>();
  if (setjmp(png_jmpbuf(png))) throw std::runtime_error("cannot encode a PNG: " + error.message);
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
  for (int32_t y = 0; y < picture.height; ++y) {
    orvtools::CheckStop();
    png_write_row(png, picture.At(0, y));
  }
  png_write_end(png, nullptr);
  return std::move(*bytes);
}

}  // namespace orvplay
