// What the six actors share: the time of a step, the kernel and band
// choices, the kernel run over the captured rows and the soft-band wipe that
// the vertical wipes run on image rows and the horizontal wipes on
// column-rows.
#pragma once

#include <cstdint>
#include <optional>

#include "actors/actor.h"

namespace orv::actors {

using module::FieldsOf;
using module::HostRect;
using module::HResult;
using module::InterfaceObject;
using module::PropertyCpuFeatures;
using module::TransitionParams;

// Where a step stands. done: the elapsed time exceeds the duration; t runs
// from 0 to duration, which is the whole duration on the step that ends.
// Elapsed times before the start count as 0. Products of t and a count are
// taken in 64 bits.
struct StepTime {
  int32_t done;
  int64_t t;
  int64_t duration;
};

StepTime TimeOfStep(const TransitionParams& params);

// A duration below shortest (1, or 2 for the colour actor, which divides by
// half of it) leaves no step to divide by: such a transition ends at its first
// step, which shows the end frame.
inline bool EndsAtOnce(const TransitionParams& params, int32_t shortest) {
  return params.duration < shortest;
}

// The start of every step. done is 1 unless the step goes on. The first-step
// rule: a capture without frames ends at once, drawing nothing. A transition
// too short to divide ends at once too: settle() puts the end frame back and
// frees the actor's buffers, and the rectangle is shown. Otherwise the step's
// time, for the actor to draw.
template <class Settle>
std::optional<StepTime> BeginStep(FrameCapture& capture, const HostRect& rect,
                                  const TransitionParams& params, int32_t shortest, int32_t* done,
                                  Settle settle) {
  *done = 1;
  if (FirstStepEnds(capture)) return std::nullopt;
  if (EndsAtOnce(params, shortest)) {
    settle();
    PresentStep(capture, rect);
    return std::nullopt;
  }
  const StepTime step = TimeOfStep(params);
  *done = step.done;
  return step;
}

// The row walks: bit 0 of mmx picks the 8-byte-step fades (at 16 bits, also
// at the full weight) and the bands of one field layout, depth below 24 the
// 5-5-5 ones. A missing pair counts as a processor without MMX.
BlendKernel ChooseFadeKernel(const CpuFeatures* cpu, int32_t depth);
BlendKernel ChooseBandKernel(const CpuFeatures* cpu, int32_t depth);

// The band from the host's chunk size: 32, 64, 128 or 256 rows.
void ChooseBand(int32_t chunkSize, int32_t* bandSelector, int32_t* bandHeight);

// Runs kernel over the captured rows, writing at targetPixels; lastRow is the
// last row the kernel writes. A row whose span would pass the end of the block
// (only rows at the end of the pixel block), and the last row when its span
// is wider than its own row, is mixed into the scratch row after the end
// frame and copied back as far as its own row goes.
void MixRows(const FrameCapture& capture, BlendKernel kernel, int32_t weight, int32_t bandHeight,
             int32_t bandPosition, int32_t bandSelector, int32_t lastRow, const TargetRoom& room);

// The soft band of a wipe over the capture's rows, row 0 first.
struct Band {
  BlendKernel kernel;
  int32_t selector;
  int32_t height;
};

// Rising (wipe up, wipe right): the band climbs from below row 0 to past the
// last row; the rows below it are copied whole from endPixels, which also
// shows at its lower edge, and startPixels at its upper edge. Returns the
// band position (its lower edge).
int32_t RisingBandStep(const FrameCapture& capture, const Band& band, int32_t* revealEdge,
                       const StepTime& step, const TargetRoom& room);

// Falling (wipe down, wipe left, buffers exchanged): the band descends from
// above the last row to below row 0; the rows above it are copied whole from
// startPixels. Returns q, the band's upper edge.
int32_t FallingBandStep(const FrameCapture& capture, const Band& band, int32_t* revealEdge,
                        const StepTime& step, const TargetRoom& room);

// SetProperty of the fade and the four wipes: property 11 keeps the pointer
// to the asset's CpuFeatures pair; every other property is ignored.
template <class Fields>
HResult ORV_CALL SetCpuFeatures(InterfaceObject* self, int32_t property, intptr_t value) {
  if (property == PropertyCpuFeatures)
    FieldsOf<Fields>(self).cpuFeatures = reinterpret_cast<CpuFeatures*>(value);
  return module::kOk;
}

}  // namespace orv::actors
