// WipeLeftActor and WipeRightActor: the soft-band wipe of the vertical wipes
// run on the frames turned through a right angle. Each picture column becomes
// a column-row of the buffers, the band climbs (wipe right) or descends (wipe
// left) over the column-rows of a working image, and after each step the
// column-rows that changed are turned back into the offscreen image's columns.
#include <algorithm>
#include <cstring>
#include <utility>

#include "actors/actor_common.h"

namespace orv::actors {

using namespace orv::module;

namespace {

using Wipe = HorizontalWipeFields;

// 2-byte pixels are written back with the row distance counted in 16 bits of
// pixels: wider images could not be addressed.
constexpr int32_t kWidest16BitRow = 131072;

int64_t FrameBytes(const FrameCapture& c) { return RowLength(c) * c.captureRows; }

// Turns a frame buffer of rows x columns pixels into column order in place,
// through the working image.
void TurnToColumns(uint8_t* frame, uint8_t* work, const FrameCapture& c) {
  kernels::TransposeToColumns(frame, work, c.captureColumns, c.captureRows, c.bytesPerPixel);
  std::memcpy(frame, work, static_cast<size_t>(FrameBytes(c)));
}

// Back to row order, the end frame into the offscreen image and every buffer
// freed. Where every row's span lies inside its own memory row, the end frame
// is turned straight into the image; otherwise it is turned back into the
// working image and the rows go into the image from there, cut as CopyRows
// cuts them (the end buffer, about to be freed, need not hold them first).
template <bool kLeft>
void Settle(Wipe& f) {
  FrameCapture& c = f.capture;
  if (HasFrames(c)) {
    if (kLeft) std::swap(c.startPixels, c.endPixels);
    const FrameCapture& s = f.savedCapture;
    if (RowsInsideBlock(s) && RowLength(s) <= RoomOf(s).row) {
      kernels::TransposeFromColumns(c.endPixels, s.targetPixels, s.captureRows, s.captureColumns,
                                    s.bytesPerPixel, s.rowBytes);
      c = s;
    } else {
      kernels::TransposeToColumns(c.endPixels, f.columnPixels, c.captureColumns, c.captureRows,
                                  c.bytesPerPixel);
      c = s;
      CopyRows(c, f.columnPixels, 0, c.captureRows, RoomOf(c));
    }
  }
  FreeOwnedPixels(f);
  FreeFrames(c);
}

// Takes each frame straight into column order where every row lies inside
// the pixel block, and otherwise as rows, which Cue then turns. Taking the
// end frame also makes the working image, unless the frames cannot be turned
// at all.
struct ColumnTake {
  Wipe* fields;
  bool turned;
};

void TakeColumns(const FrameCapture& c, uint8_t* to, bool endFrame, void* context) {
  auto& take = *static_cast<ColumnTake*>(context);
  Wipe& f = *take.fields;
  if (endFrame) {
    if (c.bytesPerPixel != 2 || c.rowBytes < kWidest16BitRow)
      f.columnPixels = static_cast<uint8_t*>(AllocatePixels(FrameBytes(c)));
    take.turned = f.columnPixels && RowsInsideBlock(c);
  }
  if (take.turned)
    kernels::TransposeRowsToColumns(c.targetPixels, c.rowBytes, to, c.captureColumns, c.captureRows,
                                    c.bytesPerPixel);
  else
    TakeRows(c, to, 0, c.captureRows);
}

template <bool kLeft>
HResult ORV_CALL Cue(InterfaceObject* self, HostGC* window, HostGC* offscreen, const HostRect* rect,
                     const TransitionParams* params) {
  Wipe& f = FieldsOf<Wipe>(self);
  FrameCapture& c = f.capture;
  Settle<kLeft>(f);  // what an earlier Cue took
  ColumnTake take{&f, false};
  CaptureFrames(c, window, offscreen, *rect, params, TakeColumns, &take);
  f.kernel = ChooseBandKernel(f.cpuFeatures, c.depth);
  ChooseBand(params->chunkSize, &f.bandSelector, &f.bandHeight);
  f.revealEdge = 0;
  if (!HasFrames(c)) return kOk;
  // 16-bit rows too long to write back, or no room for the working image.
  if (!f.columnPixels) {
    DropFrames(c);
    return kOk;
  }
  // The working image starts as the start frame, which the offscreen image
  // shows after the capture.
  if (take.turned) {
    std::memcpy(f.columnPixels, c.startPixels, static_cast<size_t>(FrameBytes(c)));
  } else {
    TurnToColumns(c.endPixels, f.columnPixels, c);
    TurnToColumns(c.startPixels, f.columnPixels, c);
  }
  f.savedCapture = c;
  c.captureColumns = f.savedCapture.captureRows;
  c.captureRows = f.savedCapture.captureColumns;
  c.rowBytes = c.captureColumns * c.bytesPerPixel;
  c.targetPixels = f.columnPixels;
  // The wipe left runs the falling band: the far side of the band, and the
  // column-rows it has passed, show the end frame.
  if (kLeft) std::swap(c.startPixels, c.endPixels);
  f.revealEdge = kLeft ? c.captureRows : 0;
  return kOk;
}

// Writes column-rows from..to-1 of the working image back as columns of the
// offscreen image, those inside the rectangle only.
void WriteBack(const Wipe& f, int32_t from, int32_t to, const HostRect& rect) {
  const FrameCapture& s = f.savedCapture;
  const HostRect area = ClipToImage(s, rect);
  const int32_t lo = std::max(from, area.left - s.alignedLeft);
  const int32_t hi = std::min({to, area.right - s.alignedLeft, s.captureColumns});
  if (hi <= lo) return;
  const int64_t columnRow = int64_t{s.captureRows} * s.bytesPerPixel;
  kernels::TransposeFromColumns(f.columnPixels + lo * columnRow,
                                s.targetPixels + int64_t{lo} * s.bytesPerPixel, s.captureRows,
                                hi - lo, s.bytesPerPixel, s.rowBytes);
}

template <bool kLeft>
HResult ORV_CALL Continue(InterfaceObject* self, HostGC*, HostGC*, const HostRect* rect,
                          const TransitionParams* params, int32_t* done) {
  Wipe& f = FieldsOf<Wipe>(self);
  const FrameCapture& c = f.capture;
  const auto step = BeginStep(f.capture, *rect, *params, 1, done, [&] { Settle<kLeft>(f); });
  if (!step) return kOk;
  const Band band{f.kernel, f.bandSelector, f.bandHeight};
  // The working image holds exactly the column-rows, each in its own row.
  const TargetRoom room{int64_t{c.captureRows} * c.rowBytes, c.rowBytes};
  // Written back: the band and the column-rows newly copied whole.
  if (kLeft) {
    const int32_t edge = f.revealEdge;
    const int32_t q = FallingBandStep(c, band, &f.revealEdge, *step, room);
    WriteBack(f, std::max(q - band.height, 0), edge, *rect);
  } else {
    const int32_t from = std::max(f.revealEdge, 0);
    const int32_t position = RisingBandStep(c, band, &f.revealEdge, *step, room);
    WriteBack(f, from, std::min(position + band.height, c.captureRows), *rect);
  }
  PresentStep(c, *rect);
  return kOk;
}

template <bool kLeft>
HResult ORV_CALL Finish(InterfaceObject* self, HostGC* window, HostGC* offscreen,
                        const HostRect* rect, const TransitionParams* params) {
  Wipe& f = FieldsOf<Wipe>(self);
  Settle<kLeft>(f);
  ReleaseFrames(f.capture, window, offscreen, *rect, params);
  return kOk;
}

}  // namespace

extern const ActorOps kWipeLeftActorOps{.SetProperty = SetCpuFeatures<Wipe>,
                                        .Cue = Cue<true>,
                                        .Continue = Continue<true>,
                                        .Finish = Finish<true>};
extern const ActorOps kWipeRightActorOps{.SetProperty = SetCpuFeatures<Wipe>,
                                         .Cue = Cue<false>,
                                         .Continue = Continue<false>,
                                         .Finish = Finish<false>};

}  // namespace orv::actors
