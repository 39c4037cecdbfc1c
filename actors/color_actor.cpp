// ColorActor: the start frame fades into a one-colour copy of the end frame
// during the first half, which then fades into the end frame.
#include <algorithm>
#include <cstring>

#include "actors/actor_common.h"

namespace orv::actors {

using namespace orv::module;

namespace {

// The channels each ColorChoice keeps, in the options dialog's order, as the
// pixel of channel masks the tint kernels take: bytes, or 5-bit fields.
uint32_t MasksOf(int32_t colorChoice, int32_t bytesPerPixel) {
  struct Keeps {
    bool red, green, blue;
  };
  constexpr Keeps kKeeps[] = {{true, false, false}, {false, true, false}, {false, false, true},
                              {false, true, true},  {true, false, true},  {true, true, false},
                              {true, true, true}};
  const Keeps k = kKeeps[colorChoice >= 0 && colorChoice <= 6 ? colorChoice : 6];
  const uint32_t field = bytesPerPixel == 2 ? 31 : 255;
  const int shift = bytesPerPixel == 2 ? 5 : 8;
  return (k.blue ? field : 0) | (k.green ? field : 0) << shift | (k.red ? field : 0) << 2 * shift;
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
  FreeOwnedPixels(f);
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
  kernels::TintPixels(source, destination, ptrdiff_t{columns} * rows, bytesPerPixel,
                      MasksOf(colorChoice, bytesPerPixel));
}

extern const ActorOps kColorActorOps{
    .SetProperty = SetProperty, .Cue = Cue, .Continue = Continue, .Finish = Finish};

}  // namespace orv::actors
