#include "actors/actor_common.h"

#include <algorithm>
#include <cstring>

#include "module/transition_table.h"

namespace orv::actors {

using namespace orv::module;

StepTime TimeOfStep(const TransitionParams& params) {
  const int32_t done = params.elapsed > params.duration ? 1 : 0;
  const int64_t t = done ? params.duration : std::max(params.elapsed, 0);
  return {done, t, params.duration};
}

BlendKernel ChooseFadeKernel(const CpuFeatures* cpu, int32_t depth) {
  const bool mmx = cpu && (cpu->mmx & 1);
  if (depth < 24) return mmx ? Fade555Step8Weight256 : Fade555Step4Weight32;
  return mmx ? FadeBytesStep8 : FadeBytesStep4;
}

BlendKernel ChooseBandKernel(const CpuFeatures* cpu, int32_t depth) {
  if (!cpu || !(cpu->mmx & 1)) return BandByDepth;
  return depth < 24 ? Band555 : BandBytes;
}

void ChooseBand(int32_t chunkSize, int32_t* bandSelector, int32_t* bandHeight) {
  *bandSelector = chunkSize <= 32 ? 0 : chunkSize <= 64 ? 1 : chunkSize < 128 ? 2 : 3;
  *bandHeight = 32 << *bandSelector;
}

void MixRows(const FrameCapture& c, BlendKernel kernel, int32_t weight, int32_t bandHeight,
             int32_t bandPosition, int32_t bandSelector, int32_t lastRow, const TargetRoom& room) {
  const int64_t length = RowLength(c);
  if (c.captureRows <= 0 || length <= 0) return;
  // Rows 0..fit-1 have their spans inside the block.
  const int64_t fit =
      room.block < length
          ? 0
          : std::min<int64_t>(c.captureRows, (room.block - length) / c.rowBytes + 1);
  // A span wider than its row reaches into the next row, where the following
  // row's own span puts it right again; after the last row written, nothing
  // would: that row goes through the scratch row too.
  const bool guardLast = lastRow >= 0 && lastRow < c.captureRows - 1 && room.row < length;
  const int64_t inPlace = guardLast ? std::min<int64_t>(fit, lastRow) : fit;
  if (inPlace > 0) {
    FrameCapture rows = c;
    rows.captureRows = static_cast<int32_t>(inPlace);
    kernel(rows, weight, bandHeight, bandPosition, bandSelector);
  }
  uint8_t* scratch = ScratchRow(c);
  for (int64_t i = inPlace; i <= std::min(lastRow, c.captureRows - 1); ++i) {
    if (i < fit && !(guardLast && i == lastRow)) continue;
    uint8_t* target = c.targetPixels + i * c.rowBytes;
    const auto own = static_cast<size_t>(std::min(RowInside(c, i, room.block), room.row));
    FrameCapture row = c;
    row.startPixels += i * length;
    row.endPixels += i * length;
    row.targetPixels = scratch;
    row.captureRows = 1;
    std::memcpy(scratch, target, own);
    kernel(row, weight, bandHeight, static_cast<int32_t>(bandPosition - i), bandSelector);
    std::memcpy(target, scratch, own);
  }
}

int32_t RisingBandStep(const FrameCapture& c, const Band& band, int32_t* revealEdge,
                       const StepTime& step, const TargetRoom& room) {
  const int64_t rows = c.captureRows;
  const auto position =
      static_cast<int32_t>((rows + band.height) * step.t / step.duration - band.height);
  if (position > 0) {
    CopyRows(c, c.endPixels, *revealEdge, position, room);
    *revealEdge = position;
  }
  MixRows(c, band.kernel, 0, band.height, position, band.selector,
          std::min(position + band.height, c.captureRows - 1), room);
  return position;
}

int32_t FallingBandStep(const FrameCapture& c, const Band& band, int32_t* revealEdge,
                        const StepTime& step, const TargetRoom& room) {
  const int64_t rows = c.captureRows;
  const auto q =
      static_cast<int32_t>((step.duration - step.t) * (rows + band.height) / step.duration);
  if (q > 0 && q < rows) {
    CopyRows(c, c.startPixels, q, *revealEdge, room);
    *revealEdge = q;
  }
  MixRows(c, band.kernel, 0, band.height, q - band.height, band.selector,
          std::min(q, c.captureRows - 1), room);
  return q;
}

namespace {

// The asset field of the actor behind an interface, known by its table.
ClassInstance** AssetSlot(InterfaceObject* object) {
  for (const Transition& t : kTransitions)
    if (object->ops == t.ops) return t.assetSlot(object);
  return nullptr;
}

}  // namespace

void KeepAssetAlive(void* actorInterface, ClassInstance* asset) {
  auto* object = static_cast<InterfaceObject*>(actorInterface);
  if (!object || !asset) return;
  ClassInstance** slot = AssetSlot(object);
  if (!slot) return;
  asset->ops->AddRef(asset);
  if (ClassInstance* previous = *slot) previous->ops->Release(previous);
  *slot = asset;
}

}  // namespace orv::actors
