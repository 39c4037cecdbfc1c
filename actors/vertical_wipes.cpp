// WipeUpActor and WipeDownActor: the end frame rises from the bottom edge or
// descends from the top edge behind a soft band, drawn straight into the
// offscreen image.
#include <utility>

#include "actors/actor_common.h"

namespace orv::actors {

using namespace orv::module;

namespace {

using Wipe = WipeFields;

Band BandOf(const Wipe& f) { return {f.kernel, f.bandSelector, f.bandHeight}; }

// The end frame back into the offscreen image, the buffers freed; the wipe
// down exchanges its buffers back first.
template <bool kRising>
void Settle(FrameCapture& c) {
  if (!kRising) std::swap(c.startPixels, c.endPixels);
  DropFrames(c);
}

void Prepare(Wipe& f, HostGC* window, HostGC* offscreen, const HostRect& rect,
             const TransitionParams* params) {
  CaptureFrames(f.capture, window, offscreen, rect, params);
  f.kernel = ChooseBandKernel(f.cpuFeatures, f.capture.depth);
  ChooseBand(params->chunkSize, &f.bandSelector, &f.bandHeight);
}

HResult ORV_CALL CueUp(InterfaceObject* self, HostGC* window, HostGC* offscreen,
                       const HostRect* rect, const TransitionParams* params) {
  Wipe& f = FieldsOf<Wipe>(self);
  Settle<true>(f.capture);  // what an earlier Cue took
  Prepare(f, window, offscreen, *rect, params);
  f.revealEdge = 0;
  return kOk;
}

// The wipe down runs the falling band with the frames exchanged: the band's
// upper edge and the rows above it show the end frame.
HResult ORV_CALL CueDown(InterfaceObject* self, HostGC* window, HostGC* offscreen,
                         const HostRect* rect, const TransitionParams* params) {
  Wipe& f = FieldsOf<Wipe>(self);
  Settle<false>(f.capture);  // what an earlier Cue took
  Prepare(f, window, offscreen, *rect, params);
  std::swap(f.capture.startPixels, f.capture.endPixels);
  f.revealEdge = f.capture.captureRows;
  return kOk;
}

template <bool kRising>
HResult ORV_CALL Continue(InterfaceObject* self, HostGC*, HostGC*, const HostRect* rect,
                          const TransitionParams* params, int32_t* done) {
  Wipe& f = FieldsOf<Wipe>(self);
  const auto step =
      BeginStep(f.capture, *rect, *params, 1, done, [&] { Settle<kRising>(f.capture); });
  if (!step) return kOk;
  const TargetRoom room = RoomOf(f.capture);
  if (kRising)
    RisingBandStep(f.capture, BandOf(f), &f.revealEdge, *step, room);
  else
    FallingBandStep(f.capture, BandOf(f), &f.revealEdge, *step, room);
  PresentStep(f.capture, *rect);
  return kOk;
}

template <bool kRising>
HResult ORV_CALL Finish(InterfaceObject* self, HostGC* window, HostGC* offscreen,
                        const HostRect* rect, const TransitionParams* params) {
  FrameCapture& c = FieldsOf<Wipe>(self).capture;
  Settle<kRising>(c);
  ReleaseFrames(c, window, offscreen, *rect, params);
  return kOk;
}

}  // namespace

extern const ActorOps kWipeUpActorOps{.SetProperty = SetCpuFeatures<Wipe>,
                                      .Cue = CueUp,
                                      .Continue = Continue<true>,
                                      .Finish = Finish<true>};
extern const ActorOps kWipeDownActorOps{.SetProperty = SetCpuFeatures<Wipe>,
                                        .Cue = CueDown,
                                        .Continue = Continue<false>,
                                        .Finish = Finish<false>};

}  // namespace orv::actors
