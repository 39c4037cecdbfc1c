// The transition actors: their instance fields and operations tables.
#pragma once

#include <array>
#include <cstdint>

#include "actors/cpu_features.h"
#include "actors/frame_capture.h"
#include "actors/row_walks.h"
#include "kernels/pixel_kernels.h"
#include "module/interface_object.h"

namespace orv::actors {

using module::ActorOps;
using module::ClassInstance;
using module::HResult;

// Each actor's fields end with the asset that made it (KeepAssetAlive), or
// null, and name in kOwnedPixels the pixel buffers they own besides the
// capture (FreeOwnedPixels frees those).
struct FadeFields {
  FrameCapture capture;
  int32_t weight;  // follows the capture: the kernel's 23rd argument
  CpuFeatures* cpuFeatures;
  BlendKernel kernel;
  ClassInstance* asset;
  static constexpr std::array<uint8_t * FadeFields::*, 0> kOwnedPixels{};
};
ORV_LAYOUT32(offsetof(FadeFields, weight) == 88, "FadeFields: weight follows the capture");
ORV_LAYOUT32(offsetof(FadeFields, kernel) == 96, "FadeFields: kernel");
ORV_LAYOUT32(sizeof(FadeFields) == 104, "FadeFields");

struct WipeFields {
  FrameCapture capture;
  CpuFeatures* cpuFeatures;
  int32_t bandSelector;
  int32_t bandHeight;  // 32 << bandSelector
  BlendKernel kernel;
  int32_t revealEdge;
  ClassInstance* asset;
  static constexpr std::array<uint8_t * WipeFields::*, 0> kOwnedPixels{};
};
ORV_LAYOUT32(offsetof(WipeFields, cpuFeatures) == 88, "WipeFields: cpuFeatures");
ORV_LAYOUT32(offsetof(WipeFields, revealEdge) == 104, "WipeFields: revealEdge");
ORV_LAYOUT32(sizeof(WipeFields) == 112, "WipeFields");

struct ColorFields {
  int32_t colorChoice;
  FrameCapture capture;
  CpuFeatures* cpuFeatures;
  BlendKernel kernel;
  uint8_t* tintedPixels;  // the end frame in one colour, from Cue to Finish
  ClassInstance* asset;
  static constexpr std::array kOwnedPixels{&ColorFields::tintedPixels};
};
ORV_LAYOUT32(offsetof(ColorFields, capture) == 4, "ColorFields: capture");
ORV_LAYOUT32(offsetof(ColorFields, tintedPixels) == 100, "ColorFields: tintedPixels");
ORV_LAYOUT32(sizeof(ColorFields) == 108, "ColorFields");

struct HorizontalWipeFields {
  FrameCapture capture;  // in column order from Cue to Finish
  CpuFeatures* cpuFeatures;
  FrameCapture savedCapture;  // the capture in row order
  int32_t bandSelector;
  int32_t bandHeight;
  BlendKernel kernel;
  uint8_t* columnPixels;  // the working image in column order
  int32_t revealEdge;
  ClassInstance* asset;
  static constexpr std::array kOwnedPixels{&HorizontalWipeFields::columnPixels};
};
ORV_LAYOUT32(offsetof(HorizontalWipeFields, savedCapture) == 92, "savedCapture");
ORV_LAYOUT32(offsetof(HorizontalWipeFields, revealEdge) == 196, "revealEdge");
ORV_LAYOUT32(sizeof(HorizontalWipeFields) == 204, "HorizontalWipeFields");

// Keeps the asset whose CpuFeatures pair the actor points at alive for the
// actor's life: one reference on the asset instance, given back when the
// actor's instance terminates. The actor is known by its operations table;
// any other interface is left alone.
void KeepAssetAlive(void* actorInterface, ClassInstance* asset);

// The actor classes' initialise operation: the fields start empty, so that a
// repeated Cue and the terminate operation know what the actor holds.
template <class Fields>
HResult ORV_CALL InitializeActor(ClassInstance* instance) {
  static_cast<module::Instance<Fields>*>(instance)->f = Fields{};
  return module::kOk;
}

// Frees the pixel buffers the fields own besides the capture.
template <class Fields>
void FreeOwnedPixels(Fields& f) {
  for (uint8_t* Fields::*buffer : Fields::kOwnedPixels) {
    FreePixels(f.*buffer);
    f.*buffer = nullptr;
  }
}

// The actor classes' terminate operation: frees the pixel buffers an actor
// released without Finish still holds, and gives back its asset.
template <class Fields>
void ORV_CALL TerminateActor(ClassInstance* instance) {
  Fields& f = static_cast<module::Instance<Fields>*>(instance)->f;
  FreeFrames(f.capture);
  FreeOwnedPixels(f);
  if (ClassInstance* asset = f.asset) {
    f.asset = nullptr;
    asset->ops->Release(asset);
  }
}

// Where an actor keeps the asset that made it.
template <class Fields>
ClassInstance** AssetSlotOf(module::InterfaceObject* actor) {
  return &module::FieldsOf<Fields>(actor).asset;
}

// The colour actor's one-colour copy: for each of columns x rows packed
// pixels, the grey (sum of the three channels / 3) in the channels that
// colorChoice keeps (0 red, 1 green, 2 blue, 3 cyan, 4 magenta, 5 yellow,
// 6 black and white; any other value keeps all three). The fourth byte of a
// 4-byte pixel is copied unchanged.
void TintCopy(const uint8_t* source, uint8_t* destination, int32_t colorChoice, int32_t columns,
              int32_t rows, int32_t bytesPerPixel);

}  // namespace orv::actors
