#include "tools/orvplay/gif.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <unordered_map>

#include "tools/safe_output.h"

namespace orvplay {

namespace {

void Put16(std::vector<uint8_t>& out, int32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

// Packs variable-width codes least significant bit first into sub-blocks of
// at most 255 bytes.
class CodeWriter {
 public:
  explicit CodeWriter(std::vector<uint8_t>& out) : out_(out) {}
  void Put(uint32_t code, int bits) {
    acc_ |= code << fill_;
    fill_ += bits;
    while (fill_ >= 8) {
      Byte(static_cast<uint8_t>(acc_));
      acc_ >>= 8;
      fill_ -= 8;
    }
  }
  void End() {
    if (fill_ > 0) Byte(static_cast<uint8_t>(acc_));
    if (!block_.empty()) Block();
    out_.push_back(0);  // block terminator
  }

 private:
  void Byte(uint8_t b) {
    block_.push_back(b);
    if (block_.size() == 255) Block();
  }
  void Block() {
    out_.push_back(static_cast<uint8_t>(block_.size()));
    out_.insert(out_.end(), block_.begin(), block_.end());
    block_.clear();
  }
  std::vector<uint8_t>& out_;
  std::vector<uint8_t> block_;
  uint32_t acc_ = 0;
  int fill_ = 0;
};

// Key of a colour in the 5-5-5 histogram.
inline uint32_t Key15(const uint8_t* p) {
  return uint32_t(p[0] >> 3) << 10 | uint32_t(p[1] >> 3) << 5 | uint32_t(p[2] >> 3);
}
inline int Channel(uint32_t key, int c) { return int(key >> (10 - 5 * c) & 31); }

struct Bin {
  uint32_t key = 0;
  uint64_t count = 0;
  uint64_t sum[3] = {0, 0, 0};
};

struct CutBox {
  size_t begin, end;
  uint64_t count;
  int lo[3], hi[3];
};

CutBox Bounds(const std::vector<Bin>& bins, size_t begin, size_t end) {
  CutBox box{begin, end, 0, {31, 31, 31}, {0, 0, 0}};
  for (size_t i = begin; i < end; ++i) {
    box.count += bins[i].count;
    for (int c = 0; c < 3; ++c) {
      box.lo[c] = std::min(box.lo[c], Channel(bins[i].key, c));
      box.hi[c] = std::max(box.hi[c], Channel(bins[i].key, c));
    }
  }
  return box;
}

// Median cut over a 5-5-5 histogram: the box with the widest channel range
// weighted by its population is split at the population median of that channel.
IndexedImage MedianCut(const Picture& picture, int32_t x0, int32_t y0, int32_t w, int32_t h) {
  std::vector<Bin> histogram(32768);
  for (int32_t y = y0; y < y0 + h; ++y, orvtools::CheckStop())
    for (int32_t x = x0; x < x0 + w; ++x) {
      const uint8_t* p = picture.At(x, y);
      Bin& bin = histogram[Key15(p)];
      ++bin.count;
      for (int c = 0; c < 3; ++c) bin.sum[c] += p[c];
    }
  std::vector<Bin> bins;
  for (uint32_t key = 0; key < histogram.size(); ++key)
    if (histogram[key].count) {
      bins.push_back(histogram[key]);
      bins.back().key = key;
    }

  std::vector<CutBox> boxes{Bounds(bins, 0, bins.size())};
  while (boxes.size() < 256) {
    size_t best = boxes.size();
    uint64_t bestScore = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
      const CutBox& b = boxes[i];
      if (b.end - b.begin < 2) continue;
      const int range = std::max({b.hi[0] - b.lo[0], b.hi[1] - b.lo[1], b.hi[2] - b.lo[2]});
      const uint64_t score = uint64_t(range) * b.count;
      if (score > bestScore) bestScore = score, best = i;
    }
    if (best == boxes.size()) break;
    const CutBox box = boxes[best];
    int channel = 0;
    for (int c = 1; c < 3; ++c)
      if (box.hi[c] - box.lo[c] > box.hi[channel] - box.lo[channel]) channel = c;
    std::sort(bins.begin() + long(box.begin), bins.begin() + long(box.end),
              [channel](const Bin& a, const Bin& b) {
                return Channel(a.key, channel) < Channel(b.key, channel);
              });
    size_t split = box.begin + 1;
    uint64_t below = bins[box.begin].count;
    while (split < box.end - 1 && below + bins[split].count <= box.count / 2)
      below += bins[split++].count;
    boxes[best] = Bounds(bins, box.begin, split);
    boxes.push_back(Bounds(bins, split, box.end));
  }

  IndexedImage image;
  std::vector<uint8_t> indexOf(32768, 0);
  for (size_t i = 0; i < boxes.size(); ++i) {
    uint64_t sum[3] = {0, 0, 0};
    for (size_t j = boxes[i].begin; j < boxes[i].end; ++j) {
      for (int c = 0; c < 3; ++c) sum[c] += bins[j].sum[c];
      indexOf[bins[j].key] = static_cast<uint8_t>(i);
    }
    for (int c = 0; c < 3; ++c)
      image.palette.push_back(static_cast<uint8_t>((sum[c] + boxes[i].count / 2) / boxes[i].count));
  }
  image.indices.reserve(size_t(w) * size_t(h));
  for (int32_t y = y0; y < y0 + h; ++y)
    for (int32_t x = x0; x < x0 + w; ++x) image.indices.push_back(indexOf[Key15(picture.At(x, y))]);
  return image;
}

}  // namespace

IndexedImage Quantize(const Picture& picture, int32_t x0, int32_t y0, int32_t w, int32_t h) {
  // Exact colours when there are few enough.
  IndexedImage image;
  std::unordered_map<uint32_t, uint8_t> index;
  image.indices.reserve(size_t(w) * size_t(h));
  for (int32_t y = y0; y < y0 + h; ++y, orvtools::CheckStop())
    for (int32_t x = x0; x < x0 + w; ++x) {
      const uint8_t* p = picture.At(x, y);
      const uint32_t rgb = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
      auto [it, added] = index.try_emplace(rgb, static_cast<uint8_t>(index.size()));
      if (added) {
        if (index.size() > 256) return MedianCut(picture, x0, y0, w, h);
        image.palette.insert(image.palette.end(), p, p + 3);
      }
      image.indices.push_back(it->second);
    }
  return image;
}

std::vector<uint8_t> LzwEncode(const std::vector<uint8_t>& indices, int32_t minCodeSize) {
  std::vector<uint8_t> out{static_cast<uint8_t>(minCodeSize)};
  CodeWriter writer(out);
  const uint32_t clear = 1u << minCodeSize, end = clear + 1;
  constexpr uint32_t kMaxCodes = 4096;
  // child[prefix * 256 + byte] is the code of prefix followed by byte, 0 if none
  // (no string code is ever 0); the codes made since the last clear are listed
  // so that a clear resets only them.
  std::vector<uint16_t> child(kMaxCodes * 256, 0);
  std::vector<uint32_t> made;
  uint32_t next = end + 1;
  int bits = minCodeSize + 1;
  writer.Put(clear, bits);
  if (indices.empty()) {
    writer.Put(end, bits);
    writer.End();
    return out;
  }
  uint32_t current = indices[0];
  for (size_t i = 1; i < indices.size(); ++i) {
    if ((i & 0xFFFF) == 0) orvtools::CheckStop();
    const uint32_t slot = current * 256 + indices[i];
    if (child[slot]) {
      current = child[slot];
      continue;
    }
    writer.Put(current, bits);
    child[slot] = static_cast<uint16_t>(next);
    made.push_back(slot);
    // The decoder learns each code one step later, so it widens its codes
    // when the table has grown past the current width.
    if (++next > (1u << bits) && bits < 12) ++bits;
    if (next == kMaxCodes) {
      writer.Put(clear, bits);
      for (uint32_t s : made) child[s] = 0;
      made.clear();
      next = end + 1;
      bits = minCodeSize + 1;
    }
    current = indices[i];
  }
  writer.Put(current, bits);
  writer.Put(end, bits);
  writer.End();
  return out;
}

GifEncoder::GifEncoder(int32_t width, int32_t height, Writer write)
    : width_(width), height_(height), write_(std::move(write)) {
  out_ = {'G', 'I', 'F', '8', '9', 'a'};
  Put16(out_, width);
  Put16(out_, height);
  out_.insert(out_.end(), {0x00, 0x00, 0x00});  // no global colour table
  // Loop forever.
  const uint8_t loop[] = {0x21, 0xFF, 0x0B, 'N', 'E',  'T',  'S',  'C',  'A', 'P',
                          'E',  '2',  '.',  '0', 0x03, 0x01, 0x00, 0x00, 0x00};
  out_.insert(out_.end(), loop, loop + sizeof loop);
  write_(out_.data(), out_.size());
  out_.clear();
}

void GifEncoder::Add(const Picture& frame, int32_t delay) {
  if (frame.width != width_ || frame.height != height_)
    throw std::logic_error("GIF frame of the wrong size");
  delay = std::max(delay, int32_t(0));
  // The rectangle that differs from the last kept frame.
  int32_t x0 = width_, y0 = height_, x1 = -1, y1 = -1;
  if (hasPending_) {
    for (int32_t y = 0; y < height_; ++y, orvtools::CheckStop()) {
      const uint8_t* a = frame.At(0, y);
      const uint8_t* b = pending_.At(0, y);
      if (std::equal(a, a + width_ * 3, b)) continue;
      y0 = std::min(y0, y), y1 = y;
      for (int32_t x = 0; x < width_; ++x)
        if (!std::equal(a + x * 3, a + x * 3 + 3, b + x * 3))
          x0 = std::min(x0, x), x1 = std::max(x1, x);
    }
    if (y1 < 0) {
      pendingDelay_ += carried_ + delay;
      carried_ = 0;
      return;
    }
  } else {
    x0 = y0 = 0, x1 = width_ - 1, y1 = height_ - 1;
  }
  if (carried_ + delay < kMinGifDelay) {
    carried_ += delay;
    return;
  }
  if (hasPending_) Flush();
  pending_ = frame;
  pendingBox_ = {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
  pendingDelay_ = carried_ + delay;
  carried_ = 0;
  hasPending_ = true;
}

void GifEncoder::Flush() {
  const Box& b = pendingBox_;
  IndexedImage image = Quantize(pending_, b.x, b.y, b.w, b.h);
  int32_t tableBits = 1;
  while ((1u << tableBits) * 3 < image.palette.size()) ++tableBits;
  image.palette.resize((size_t(1) << tableBits) * 3, 0);

  // Graphic control: keep the previous frame under this one, no transparency.
  // Delays stay far below the field's limit: --duration is at most 600 s.
  out_.insert(out_.end(), {0x21, 0xF9, 0x04, 0x04});
  Put16(out_, std::min(pendingDelay_, int32_t(65535)));
  out_.insert(out_.end(), {0x00, 0x00});
  out_.push_back(0x2C);
  Put16(out_, b.x);
  Put16(out_, b.y);
  Put16(out_, b.w);
  Put16(out_, b.h);
  out_.push_back(static_cast<uint8_t>(0x80 | (tableBits - 1)));  // local colour table
  out_.insert(out_.end(), image.palette.begin(), image.palette.end());
  const std::vector<uint8_t> data = LzwEncode(image.indices, std::max(2, tableBits));
  out_.insert(out_.end(), data.begin(), data.end());
  write_(out_.data(), out_.size());
  out_.clear();
}

void GifEncoder::Finish() {
  if (hasPending_) {
    pendingDelay_ += carried_;
    Flush();
  }
  hasPending_ = false;
  out_.push_back(0x3B);
  write_(out_.data(), out_.size());
  out_.clear();
}

}  // namespace orvplay
