// The six transition actors: their instance fields and operations tables.
#pragma once

#include <cstdint>

#include "actors/frame_capture.h"
#include "kernels/blend_kernel.h"
#include "module/interface_object.h"

// The host's timing record passed to Cue and Continue.
struct TransitionParams {
  int32_t chunkSize;  // pixels; read by the wipes' Cue
  int32_t duration;
  int32_t unused;
  int32_t elapsed;  // same unit as duration
};
static_assert(sizeof(TransitionParams) == 16);

enum ActorProperty : int32_t {
  PropertyColorChoice = 1,
  PropertyCpuFeatures = 11,
};

struct ActorOps {
  ORV_OBJECT_BASE_SLOTS;
  HResult(ORV_CALL* SetProperty)(InterfaceObject*, int32_t property, intptr_t value);  // 3
  HResult(ORV_CALL* Cue)(InterfaceObject*, HostGC* window, HostGC* offscreen,
                         const HostRect* rect, const TransitionParams* params);  // 4
  HResult(ORV_CALL* Continue)(InterfaceObject*, HostGC* window, HostGC* offscreen,
                              const HostRect* rect, const TransitionParams* params,
                              int32_t* done);  // 5
  HResult(ORV_CALL* Finish)(InterfaceObject*, HostGC* window, HostGC* offscreen,
                            const HostRect* rect, const TransitionParams* params);  // 6
};
static_assert(sizeof(ActorOps) == 7 * sizeof(void*));

struct FadeFields {
  FrameCapture capture;
  int32_t weight;  // follows the capture: the kernel's 23rd argument
  CpuFeatures* cpuFeatures;
  BlendKernel kernel;
};

struct WipeFields {
  FrameCapture capture;
  CpuFeatures* cpuFeatures;
  int32_t bandSelector;
  int32_t bandHeight;
  BlendKernel kernel;
  int32_t revealEdge;
};

struct ColorFields {
  int32_t colorChoice;
  FrameCapture capture;
  CpuFeatures* cpuFeatures;
  BlendKernel kernel;
  uint8_t* tintedPixels;
};

struct HorizontalWipeFields {
  FrameCapture capture;
  CpuFeatures* cpuFeatures;
  FrameCapture savedCapture;
  int32_t bandSelector;
  int32_t bandHeight;
  BlendKernel kernel;
  uint8_t* columnPixels;
  int32_t revealEdge;
};

// Keeps the asset whose CpuFeatures pair the actor points at alive for the
// actor's life: one reference on the asset instance, given back when the
// actor's instance terminates.
void KeepAssetAlive(void* actorInterface, ClassInstance* asset);

extern const ActorOps kFadeActorOps;
extern const ActorOps kWipeUpActorOps;
extern const ActorOps kWipeDownActorOps;
extern const ActorOps kColorActorOps;
extern const ActorOps kWipeLeftActorOps;
extern const ActorOps kWipeRightActorOps;
