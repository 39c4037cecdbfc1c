#include "row_walk_support.h"

#include <algorithm>

namespace kt {

namespace {

constexpr ptrdiff_t kGuard = 48;

ptrdiff_t TargetSpan(const Shape& s, ptrdiff_t rowLength) {
  if (s.rows <= 0 || rowLength <= 0) return 0;
  return static_cast<ptrdiff_t>(s.rows - 1) * s.rowBytes + rowLength;
}

size_t SourceSize(const Shape& s) {
  const ptrdiff_t bytes = static_cast<ptrdiff_t>(s.rows) * s.columns * s.bytesPerPixel;
  return bytes > 0 ? static_cast<size_t>(bytes) : 0;
}

}  // namespace

Scene::Scene(Rng& rng, const Shape& shape, int32_t targetMisalign)
    : shape_(shape),
      rowLength_(static_cast<ptrdiff_t>(shape.columns) * shape.bytesPerPixel),
      start_(SourceSize(shape)),
      end_(SourceSize(shape)) {
  rng.Fill(start_.data(), start_.size());
  rng.Fill(end_.data(), end_.size());
  startCopy_.assign(start_.data(), start_.data() + start_.size());
  endCopy_.assign(end_.data(), end_.data() + end_.size());
  origin_ = kGuard + targetMisalign;
  initialTarget_.resize(static_cast<size_t>(origin_ + TargetSpan(shape, rowLength_) + kGuard));
  rng.Fill(initialTarget_.data(), initialTarget_.size());
  target_ = initialTarget_;
}

FrameCapture Scene::Capture() const {
  FrameCapture c{};
  c.startPixels = start_.data();
  c.endPixels = end_.data();
  c.targetPixels = const_cast<uint8_t*>(target_.data()) + origin_;
  c.bytesPerPixel = shape_.bytesPerPixel;
  c.rowBytes = shape_.rowBytes;
  c.depth = shape_.depth;
  c.captureRows = shape_.rows;
  c.captureColumns = shape_.columns;
  return c;
}

FrameCapture Scene::CaptureOver(std::vector<uint8_t>& expected) const {
  FrameCapture c = Capture();
  c.targetPixels = expected.data() + origin_;
  return c;
}

void Scene::AcceptSources() {
  startCopy_.assign(start_.data(), start_.data() + start_.size());
  endCopy_.assign(end_.data(), end_.data() + end_.size());
}

testing::AssertionResult Scene::Check(const std::vector<uint8_t>& expected) const {
  testing::AssertionResult target =
      SameBytes("target", expected, target_.data(), origin_, shape_.rowBytes);
  if (!target) return target;
  testing::AssertionResult start = SameBytes("start frame", startCopy_, start_.data(), 0, 0);
  if (!start) return start;
  return SameBytes("end frame", endCopy_, end_.data(), 0, 0);
}

bool IsSixteenBit(Form form) {
  return form == Form::kFade555Step4Weight32 || form == Form::kFade555Step8Weight256 ||
         form == Form::kBand555;
}

uint32_t MixField(uint32_t a, uint32_t b, uint32_t w, uint32_t scale) {
  return (a * (scale - w) + b * w) / scale;
}

uint16_t Mix555(uint16_t a, uint16_t b, uint32_t w, uint32_t scale) {
  uint32_t out = 0;
  for (int field = 0; field < 3; ++field) {
    const int shift = 5 * field;
    out |= MixField((a >> shift) & 31u, (b >> shift) & 31u, w, scale) << shift;
  }
  return static_cast<uint16_t>(out);
}

void ReferenceFade(Form form, const FrameCapture& c, int32_t weight) {
  const ptrdiff_t length = static_cast<ptrdiff_t>(c.captureColumns) * c.bytesPerPixel;
  ptrdiff_t sourceRow = length;
  ptrdiff_t mixed = 0;  // whole steps of the form
  switch (form) {
    case Form::kFade555Step4Weight32:
      sourceRow = 2 * static_cast<ptrdiff_t>(c.captureColumns);
      mixed = (c.captureColumns / 2) * 4;
      break;
    case Form::kFadeBytesStep4:
      mixed = length / 4 * 4;
      break;
    default:
      mixed = length / 8 * 8;
      break;
  }
  const uint32_t w = static_cast<uint32_t>(weight);
  for (int32_t r = 0; r < c.captureRows; ++r) {
    const uint8_t* a = c.startPixels + r * sourceRow;
    const uint8_t* b = c.endPixels + r * sourceRow;
    uint8_t* out = c.targetPixels + static_cast<ptrdiff_t>(r) * c.rowBytes;
    if (form == Form::kFade555Step4Weight32) {
      for (ptrdiff_t k = 0; k + 2 <= mixed; k += 2) {
        Store16(out + k, Mix555(Load16(a + k), Load16(b + k), w >> 3, 32));
      }
    } else if (form == Form::kFade555Step8Weight256) {
      for (ptrdiff_t k = 0; k + 2 <= mixed; k += 2) {
        Store16(out + k, Mix555(Load16(a + k), Load16(b + k), w, 256));
      }
    } else {
      for (ptrdiff_t k = 0; k < mixed; ++k) {
        out[k] = static_cast<uint8_t>(MixField(a[k], b[k], w, 256));
      }
    }
  }
}

void ReferenceBand(Form form, const FrameCapture& c, int32_t bandHeight, int32_t bandPosition,
                   int32_t bandSelector) {
  const bool fields555 = form == Form::kBand555 || (form == Form::kBandByDepth && c.depth < 24);
  const ptrdiff_t length = static_cast<ptrdiff_t>(c.captureColumns) * c.bytesPerPixel;
  for (int32_t r = 0; r < c.captureRows; ++r) {
    const int64_t i = static_cast<int64_t>(r) - bandPosition;
    if (i < 0 || i > bandHeight) continue;
    const uint32_t m = static_cast<uint32_t>(std::min<int64_t>(i >> bandSelector, 32));
    const uint8_t* a = c.startPixels + r * length;
    const uint8_t* b = c.endPixels + r * length;
    uint8_t* out = c.targetPixels + static_cast<ptrdiff_t>(r) * c.rowBytes;
    if (fields555) {
      for (ptrdiff_t k = 0; k + 2 <= length; k += 2) {
        Store16(out + k, Mix555(Load16(b + k), Load16(a + k), m, 32));
      }
    } else {
      for (ptrdiff_t k = 0; k < length; ++k) {
        out[k] = static_cast<uint8_t>(MixField(b[k], a[k], m, 32));
      }
    }
  }
}

void Scene::FillBoth(uint32_t a, uint32_t b, bool sixteen) {
  for (ptrdiff_t i = 0; i < rowLength_; i += sixteen ? 2 : 4) {
    if (sixteen) {
      Store16(start() + i, static_cast<uint16_t>(a));
      Store16(end() + i, static_cast<uint16_t>(b));
    } else {
      Store32(start() + i, a);
      Store32(end() + i, b);
    }
  }
}

uint32_t Scene::FirstTargetPixel(bool sixteen) const {
  const uint8_t* out = target_.data() + origin_;
  return sixteen ? Load16(out) : Load32(out);
}

}  // namespace kt
