#include "tests/actors/transition_model.h"

#include <algorithm>

namespace actors_test {

namespace {

constexpr int kFieldShifts[] = {0, 5, 10};

}  // namespace

uint32_t FadeMix(uint32_t a, uint32_t b, int32_t w, int32_t bpp, bool mmx) {
  uint32_t out = 0;
  if (bpp == 2) {
    const uint32_t v = static_cast<uint32_t>(w >> 3);
    for (int shift : kFieldShifts) {
      const uint32_t fa = (a >> shift) & 31, fb = (b >> shift) & 31;
      const uint32_t f = mmx ? (fa * (256 - w) + fb * w) / 256 : (fa * (32 - v) + fb * v) / 32;
      out |= f << shift;
    }
    return out;
  }
  for (int k = 0; k < bpp; ++k) {
    const uint32_t ba = (a >> (8 * k)) & 255, bb = (b >> (8 * k)) & 255;
    out |= ((ba * (256 - w) + bb * w) / 256) << (8 * k);
  }
  return out;
}

uint32_t BandMix(uint32_t a, uint32_t b, int32_t m, int32_t bpp) {
  const uint32_t um = static_cast<uint32_t>(m);
  uint32_t out = 0;
  if (bpp == 2) {
    for (int shift : kFieldShifts) {
      const uint32_t fa = (a >> shift) & 31, fb = (b >> shift) & 31;
      out |= ((fb * (32 - um) + fa * um) / 32) << shift;
    }
    return out;
  }
  for (int k = 0; k < bpp; ++k) {
    const uint32_t ba = (a >> (8 * k)) & 255, bb = (b >> (8 * k)) & 255;
    out |= ((bb * (32 - um) + ba * um) / 32) << (8 * k);
  }
  return out;
}

uint32_t Tint(uint32_t pixel, int32_t colorChoice, int32_t bpp) {
  // Kept channels: red, green, blue.
  static const bool kKeeps[7][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 1, 1},
                                    {1, 0, 1}, {1, 1, 0}, {1, 1, 1}};
  const bool* keep = kKeeps[colorChoice >= 0 && colorChoice <= 6 ? colorChoice : 6];
  if (bpp == 2) {
    const uint32_t red = (pixel >> 10) & 31, green = (pixel >> 5) & 31, blue = pixel & 31;
    const uint32_t grey = (red + green + blue) / 3;
    return (keep[0] ? grey << 10 : 0) | (keep[1] ? grey << 5 : 0) | (keep[2] ? grey : 0);
  }
  const uint32_t blue = pixel & 255, green = (pixel >> 8) & 255, red = (pixel >> 16) & 255;
  const uint32_t grey = (red + green + blue) / 3;
  uint32_t out = (keep[2] ? grey : 0) | (keep[1] ? grey << 8 : 0) | (keep[0] ? grey << 16 : 0);
  if (bpp == 4) out |= pixel & 0xFF000000u;
  return out;
}

HostRect ClippedRect(const HostRect& r, int32_t width, int32_t height) {
  HostRect c{std::max(r.top, 0), std::max(r.left, 0), std::min(r.bottom, height),
             std::min(r.right, width)};
  if (c.bottom <= c.top || c.right <= c.left) return HostRect{0, 0, 0, 0};
  return c;
}

TransitionModel::TransitionModel(const ModelSetup& setup, const HostRect& rect, Memory w, Memory o)
    : window(std::move(w)), offscreen(std::move(o)), setup_(setup) {
  rect_ = ClippedRect(rect, offscreen.width, offscreen.height);
  bpp_ = offscreen.bytesPerPixel;
  empty_ = Rows() <= 0;
  emptyPlays_ = empty_ && 0 <= rect.top && rect.top <= rect.bottom &&
                rect.bottom <= offscreen.height && 0 <= rect.left && rect.left <= rect.right &&
                rect.right <= offscreen.width;
  bandSelector_ = setup.chunkSize <= 32   ? 0
                  : setup.chunkSize <= 64 ? 1
                  : setup.chunkSize < 128 ? 2
                                          : 3;
  bandHeight_ = 32 << bandSelector_;
  if (empty_) return;
  const size_t n = static_cast<size_t>(Rows()) * Columns();
  start_.resize(n);
  end_.resize(n);
  tinted_.resize(n);
  for (int32_t r = 0; r < Rows(); ++r)
    for (int32_t c = 0; c < Columns(); ++c) {
      const int32_t x = rect_.left + c, y = rect_.bottom - 1 - r;
      At(start_, r, c) = window.Get(x, y);
      At(end_, r, c) = offscreen.Get(x, y);
      At(tinted_, r, c) = Tint(At(end_, r, c), setup.colorChoice, bpp_);
    }
}

void TransitionModel::Show(const std::vector<uint32_t>& frame) {
  for (int32_t r = 0; r < Rows(); ++r)
    for (int32_t c = 0; c < Columns(); ++c) {
      const int32_t x = rect_.left + c, y = rect_.bottom - 1 - r;
      const uint32_t v = frame[static_cast<size_t>(r) * Columns() + c];
      offscreen.Set(x, y, v);
      window.Set(x, y, v);
    }
}

void TransitionModel::Cue(const Span& span) {
  span_ = span;
  if (setup_.cut || empty_) return;
  for (int32_t r = 0; r < Rows(); ++r)
    for (int32_t c = 0; c < Columns(); ++c)
      offscreen.Set(rect_.left + c, rect_.bottom - 1 - r, At(start_, r, c));
  current_ = start_;
  work_ = start_;
  revealEdge = setup_.kind == Kind::kWipeDown   ? Rows()
               : setup_.kind == Kind::kWipeLeft ? span_.columns
                                                : 0;
}

int32_t TransitionModel::Continue(int32_t elapsed) {
  if (setup_.cut || ended_ || (empty_ && !emptyPlays_)) return 1;
  const int32_t shortest = ShapeOf(setup_.kind) == Shape::kColor ? 2 : 1;
  if (setup_.duration < shortest) {
    ended_ = true;
    Show(end_);
    return 1;
  }
  const int64_t d = setup_.duration;
  const int32_t done = elapsed > d ? 1 : 0;
  const int64_t t = done ? d : std::max(elapsed, 0);
  if (empty_) return done;
  switch (ShapeOf(setup_.kind)) {
    case Shape::kFade:
      weight = static_cast<int32_t>(t * 256 / d);
      for (size_t i = 0; i < current_.size(); ++i)
        current_[i] = FadeMix(start_[i], end_[i], weight, bpp_, setup_.mmx);
      break;
    case Shape::kColor: {
      const int64_t half = d >> 1;
      const bool first = t <= half;
      weight = static_cast<int32_t>(std::min<int64_t>((first ? t : t - half) * 256 / half, 256));
      for (size_t i = 0; i < current_.size(); ++i)
        current_[i] = first ? FadeMix(start_[i], tinted_[i], weight, bpp_, setup_.mmx)
                            : FadeMix(tinted_[i], end_[i], weight, bpp_, setup_.mmx);
      break;
    }
    case Shape::kVertical:
      VerticalStep(t, d);
      break;
    case Shape::kHorizontal:
      HorizontalStep(t, d);
      break;
  }
  Show(current_);
  return done;
}

void TransitionModel::VerticalStep(int64_t t, int64_t d) {
  const int32_t rows = Rows(), bh = bandHeight_;
  auto setRow = [&](int32_t r, auto pixel) {
    for (int32_t c = 0; c < Columns(); ++c) At(current_, r, c) = pixel(r, c);
  };
  if (setup_.kind == Kind::kWipeUp) {
    const auto bp = static_cast<int32_t>((rows + bh) * t / d - bh);
    bandPosition = bp;
    if (bp > 0) {
      for (int32_t r = std::max(revealEdge, 0); r < std::min(bp, rows); ++r)
        setRow(r, [&](int32_t rr, int32_t c) { return At(end_, rr, c); });
      revealEdge = bp;
    }
    for (int32_t r = std::max(bp, 0); r <= std::min(bp + bh, rows - 1); ++r)
      setRow(r, [&](int32_t rr, int32_t c) {
        return BandMix(At(start_, rr, c), At(end_, rr, c), (rr - bp) >> bandSelector_, bpp_);
      });
    return;
  }
  const auto q = static_cast<int32_t>((d - t) * (rows + bh) / d);
  const int32_t bp = q - bh;
  bandPosition = bp;
  if (q > 0 && q < rows) {
    for (int32_t r = q; r < std::min(revealEdge, rows); ++r)
      setRow(r, [&](int32_t rr, int32_t c) { return At(end_, rr, c); });
    revealEdge = q;
  }
  for (int32_t r = std::max(bp, 0); r <= std::min(q, rows - 1); ++r)
    setRow(r, [&](int32_t rr, int32_t c) {
      return BandMix(At(end_, rr, c), At(start_, rr, c), (rr - bp) >> bandSelector_, bpp_);
    });
}

void TransitionModel::HorizontalStep(int64_t t, int64_t d) {
  const int32_t width = span_.columns, bh = bandHeight_;
  // Column-row j is picture column span.left + j; only the rectangle's
  // columns are modelled, the others are never written back.
  auto forColumns = [&](int64_t from, int64_t to, auto what) {
    for (int32_t c = 0; c < Columns(); ++c) {
      const int32_t j = rect_.left + c - span_.left;
      if (j >= from && j < to) what(j, c);
    }
  };
  auto setColumn = [&](std::vector<uint32_t>& frame, int32_t c, auto pixel) {
    for (int32_t r = 0; r < Rows(); ++r) At(frame, r, c) = pixel(r);
  };
  int64_t writeFrom, writeTo;
  if (setup_.kind == Kind::kWipeRight) {
    const int32_t e = revealEdge;
    const auto bp = static_cast<int32_t>((width + bh) * t / d - bh);
    bandPosition = bp;
    if (bp > 0) {
      forColumns(e, std::min(bp, width), [&](int32_t, int32_t c) {
        setColumn(work_, c, [&](int32_t r) { return At(end_, r, c); });
      });
      revealEdge = bp;
    }
    forColumns(std::max(bp, 0), std::min(bp + bh, width - 1) + 1, [&](int32_t j, int32_t c) {
      setColumn(work_, c, [&](int32_t r) {
        return BandMix(At(start_, r, c), At(end_, r, c), (j - bp) >> bandSelector_, bpp_);
      });
    });
    writeFrom = std::max(e, 0);
    writeTo = std::min(bp + bh, width);
  } else {
    const int32_t g = revealEdge;
    const auto q = static_cast<int32_t>((d - t) * (width + bh) / d);
    const int32_t bp = q - bh;
    bandPosition = bp;
    if (q > 0 && q < width) {
      forColumns(q, g, [&](int32_t, int32_t c) {
        setColumn(work_, c, [&](int32_t r) { return At(end_, r, c); });
      });
      revealEdge = q;
    }
    forColumns(std::max(bp, 0), std::min(q, width - 1) + 1, [&](int32_t j, int32_t c) {
      setColumn(work_, c, [&](int32_t r) {
        return BandMix(At(end_, r, c), At(start_, r, c), (j - bp) >> bandSelector_, bpp_);
      });
    });
    writeFrom = std::max(bp, 0);
    writeTo = g;
  }
  forColumns(writeFrom, writeTo, [&](int32_t, int32_t c) {
    setColumn(current_, c, [&](int32_t r) { return At(work_, r, c); });
  });
}

void TransitionModel::Finish() {
  if (empty_) return;
  Show(end_);
}

}  // namespace actors_test
