// FadeActor: the start frame dissolves into the end frame, every pixel at
// once, at weight t * 256 / duration.
#include "actors/actor_common.h"

namespace orv::actors {

using namespace orv::module;

namespace {

using Fade = FadeFields;

HResult ORV_CALL Cue(InterfaceObject* self, HostGC* window, HostGC* offscreen, const HostRect* rect,
                     const TransitionParams* params) {
  Fade& f = FieldsOf<Fade>(self);
  DropFrames(f.capture);  // what an earlier Cue took
  CaptureFrames(f.capture, window, offscreen, *rect, params);
  f.kernel = ChooseFadeKernel(f.cpuFeatures, f.capture.depth);
  return kOk;
}

HResult ORV_CALL Continue(InterfaceObject* self, HostGC*, HostGC*, const HostRect* rect,
                          const TransitionParams* params, int32_t* done) {
  Fade& f = FieldsOf<Fade>(self);
  const auto step = BeginStep(f.capture, *rect, *params, 1, done, [&] { DropFrames(f.capture); });
  if (!step) return kOk;
  f.weight = static_cast<int32_t>(step->t * 256 / step->duration);
  MixRows(f.capture, f.kernel, f.weight, 0, 0, 0, f.capture.captureRows - 1, RoomOf(f.capture));
  PresentStep(f.capture, *rect);
  return kOk;
}

HResult ORV_CALL Finish(InterfaceObject* self, HostGC* window, HostGC* offscreen,
                        const HostRect* rect, const TransitionParams* params) {
  ReleaseFrames(FieldsOf<Fade>(self).capture, window, offscreen, *rect, params);
  return kOk;
}

}  // namespace

extern const ActorOps kFadeActorOps{
    .SetProperty = SetCpuFeatures<Fade>, .Cue = Cue, .Continue = Continue, .Finish = Finish};

}  // namespace orv::actors
