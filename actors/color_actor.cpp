// ColorActor: the start frame fades into a one-colour copy of the end frame
// during the first half, which then fades into the end frame.
#include <algorithm>
#include <cstring>

#include "actors/actor_common.h"

namespace orv::actors {

using namespace orv::module;

namespace {

struct Masks {
  uint32_t red, green, blue;
};

// The channels each ColorChoice keeps, in the options dialog's order.
Masks MasksOf(int32_t colorChoice) {
  constexpr uint32_t k = ~0u;
  constexpr Masks kMasks[] = {{k, 0, 0}, {0, k, 0}, {0, 0, k}, {0, k, k},
                              {k, 0, k}, {k, k, 0}, {k, k, k}};
  return colorChoice >= 0 && colorChoice <= 6 ? kMasks[colorChoice] : kMasks[6];
}

using Color = ColorFields;

// Takes the end frame and makes its tinted copy in the same pass, a row at a
// time while the row is still in the cache. The copy is tinted over the
// rectangle; the widened columns around it keep the end frame, which the
// start frame holds there too, so that mixing leaves them as they are.
struct TintedTake {
  Color* fields;
  HostRect rect;
};

void TakeTinted(const FrameCapture& c, uint8_t* to, bool endFrame, void* context) {
  const auto& take = *static_cast<const TintedTake*>(context);
  Color& f = *take.fields;
  if (endFrame)
    f.tintedPixels = static_cast<uint8_t*>(AllocatePixels(RowLength(c) * c.captureRows));
  if (!endFrame || !f.tintedPixels) {
    TakeRows(c, to, 0, c.captureRows);
    return;
  }
  const HostRect r = ClipToImage(c, take.rect);
  const int64_t length = RowLength(c);
  const int64_t from = int64_t{r.left - c.alignedLeft} * c.bytesPerPixel;
  const int64_t tinted = int64_t{r.right - r.left} * c.bytesPerPixel;
  for (int64_t i = 0; i < c.captureRows; ++i) {
    TakeRows(c, to, i, i + 1);
    const uint8_t* row = to + i * length;
    uint8_t* copy = f.tintedPixels + i * length;
    std::memcpy(copy, row, static_cast<size_t>(from));
    TintCopy(row + from, copy + from, f.colorChoice, r.right - r.left, 1, c.bytesPerPixel);
    std::memcpy(copy + from + tinted, row + from + tinted,
                static_cast<size_t>(length - from - tinted));
  }
}

// The end frame back into the offscreen image, every buffer freed.
void Settle(Color& f) {
  FreePixels(f.tintedPixels);
  f.tintedPixels = nullptr;
  DropFrames(f.capture);
}

HResult ORV_CALL SetProperty(InterfaceObject* self, int32_t property, intptr_t value) {
  Color& f = FieldsOf<Color>(self);
  if (property == PropertyColorChoice && value)
    f.colorChoice = *reinterpret_cast<const int32_t*>(value);
  if (property == PropertyCpuFeatures) f.cpuFeatures = reinterpret_cast<CpuFeatures*>(value);
  return kOk;
}

HResult ORV_CALL Cue(InterfaceObject* self, HostGC* window, HostGC* offscreen, const HostRect* rect,
                     const TransitionParams* params) {
  Color& f = FieldsOf<Color>(self);
  FrameCapture& c = f.capture;
  Settle(f);  // what an earlier Cue took
  TintedTake take{&f, *rect};
  CaptureFrames(c, window, offscreen, *rect, params, TakeTinted, &take);
  if (HasFrames(c) && !f.tintedPixels) DropFrames(c);
  f.kernel = ChooseFadeKernel(f.cpuFeatures, c.depth);
  return kOk;
}

HResult ORV_CALL Continue(InterfaceObject* self, HostGC*, HostGC*, const HostRect* rect,
                          const TransitionParams* params, int32_t* done) {
  Color& f = FieldsOf<Color>(self);
  const auto step = BeginStep(f.capture, *rect, *params, 2, done, [&] { Settle(f); });
  if (!step) return kOk;
  const int64_t half = step->duration >> 1;
  // First half: start frame to tinted copy; second half: tinted copy to end
  // frame. The stored capture keeps both frames.
  FrameCapture phase = f.capture;
  int64_t u = step->t;
  if (step->t <= half) {
    phase.endPixels = f.tintedPixels;
  } else {
    phase.startPixels = f.tintedPixels;
    u = step->t - half;
  }
  // An odd duration gives the second half one more unit than the first: hold
  // the weight at 256.
  const auto weight = static_cast<int32_t>(std::min<int64_t>(u * 256 / half, 256));
  MixRows(phase, f.kernel, weight, 0, 0, 0, phase.captureRows - 1, RoomOf(f.capture));
  PresentStep(f.capture, *rect);
  return kOk;
}

HResult ORV_CALL Finish(InterfaceObject* self, HostGC* window, HostGC* offscreen,
                        const HostRect* rect, const TransitionParams* params) {
  Color& f = FieldsOf<Color>(self);
  Settle(f);
  ReleaseFrames(f.capture, window, offscreen, *rect, params);
  return kOk;
}

}  // namespace

void TintCopy(const uint8_t* source, uint8_t* destination, int32_t colorChoice, int32_t columns,
              int32_t rows, int32_t bytesPerPixel) {
  const Masks m = MasksOf(colorChoice);
  const int64_t n = int64_t{bytesPerPixel} * rows * columns;
  if (n <= 0) return;
  if (bytesPerPixel == 4) {
    // A pixel at a time as one word, which the compiler can take several at
    // a time.
    for (int64_t i = 0; i + 4 <= n; i += 4) {
      uint32_t v;
      std::memcpy(&v, source + i, 4);
      const uint32_t grey = ((v & 0xFF) + (v >> 8 & 0xFF) + (v >> 16 & 0xFF)) / 3u;
      const uint32_t out =
          (grey & m.blue) | (grey & m.green) << 8 | (grey & m.red) << 16 | (v & 0xFF000000u);
      std::memcpy(destination + i, &out, 4);
    }
    return;
  }
  if (bytesPerPixel == 3) {
    for (int64_t i = 0; i < n; i += bytesPerPixel) {
      const uint8_t* s = source + i;
      uint8_t* d = destination + i;
      const uint32_t grey = (s[0] + s[1] + s[2]) / 3u;
      d[0] = static_cast<uint8_t>(grey & m.blue);
      d[1] = static_cast<uint8_t>(grey & m.green);
      d[2] = static_cast<uint8_t>(grey & m.red);
    }
    return;
  }
  for (int64_t i = 0; i + 1 < n; i += 2) {
    const uint32_t v = source[i] | (source[i + 1] << 8);
    const uint32_t grey = (((v >> 10) & 31) + ((v >> 5) & 31) + (v & 31)) / 3;
    const uint32_t out = ((grey & m.red) << 10) | ((grey & m.green) << 5) | (grey & m.blue);
    destination[i] = static_cast<uint8_t>(out);
    destination[i + 1] = static_cast<uint8_t>(out >> 8);
  }
}

const ActorOps kColorActorOps{
    .SetProperty = SetProperty, .Cue = Cue, .Continue = Continue, .Finish = Finish};

}  // namespace orv::actors
