// TransitionAsset: the cast-member side of a transition.
#pragma once

#include <cstdint>

#include "kernels/blend_kernel.h"
#include "module/interface_object.h"

struct AssetFields {
  int32_t colorChoice;      // 0..6, 6 (black and white) after initialise
  CpuFeatures cpuFeatures;  // every actor made by this asset points here
  int32_t transitionIndex;  // 0..5, read from "myData"
};
ORV_LAYOUT32(sizeof(Instance<AssetFields>) == 40, "asset instance size");

using AssetInstance = Instance<AssetFields>;

// Slots 3..28 are offered to the host; 29 and 30 are the asset's own
// byte-order helpers, called through the table by the media operations.
struct AssetOps {
  ORV_OBJECT_BASE_SLOTS;
  HResult(ORV_CALL* Unsupported3)(InterfaceObject*, intptr_t, intptr_t);
  HResult(ORV_CALL* Unsupported4)(InterfaceObject*, intptr_t, intptr_t);
  HResult(ORV_CALL* Unsupported5)(InterfaceObject*, intptr_t, intptr_t, intptr_t, intptr_t);
  HResult(ORV_CALL* Accept6)(InterfaceObject*, intptr_t);
  HResult(ORV_CALL* Accept7)(InterfaceObject*, intptr_t, intptr_t);
  HResult(ORV_CALL* Accept8)(InterfaceObject*, intptr_t);
  HResult(ORV_CALL* Accept9)(InterfaceObject*, intptr_t);
  HResult(ORV_CALL* Accept10)(InterfaceObject*, intptr_t);
  HResult(ORV_CALL* Accept11)(InterfaceObject*, intptr_t);
  HResult(ORV_CALL* Accept12)(InterfaceObject*);
  HResult(ORV_CALL* ReportZero13)(InterfaceObject*, int32_t* out);
  HResult(ORV_CALL* ReportZero14)(InterfaceObject*, int32_t* out);
  HResult(ORV_CALL* SaveMedia)(InterfaceObject*, HostStream* stream);  // 15
  HResult(ORV_CALL* LoadMedia)(InterfaceObject*, HostStream* stream);  // 16
  HResult(ORV_CALL* Accept17)(InterfaceObject*);
  HResult(ORV_CALL* ReportZero18)(InterfaceObject*, int32_t* out);
  HResult(ORV_CALL* QueryMediaSize)(InterfaceObject*, int32_t* bytes);  // 19
  HResult(ORV_CALL* MakeActor)(InterfaceObject*, void** actor);         // 20
  HResult(ORV_CALL* Accept21)(InterfaceObject*, intptr_t);
  HResult(ORV_CALL* RunOptions)(InterfaceObject*);  // 22
  HResult(ORV_CALL* Accept23)(InterfaceObject*, intptr_t, intptr_t);
  HResult(ORV_CALL* RunAbout)(InterfaceObject*);                                      // 24
  HResult(ORV_CALL* PaintThumbnail)(InterfaceObject*, HostGC* gc, const HostRect* rect);  // 25
  HResult(ORV_CALL* Accept26)(InterfaceObject*, intptr_t, intptr_t);
  HResult(ORV_CALL* Accept27)(InterfaceObject*, intptr_t, intptr_t);
  HResult(ORV_CALL* Accept28)(InterfaceObject*, intptr_t, intptr_t);
  uint16_t(ORV_CALL* SwapBytes16)(InterfaceObject*, uint16_t value);  // 29
  uint32_t(ORV_CALL* SwapBytes32)(InterfaceObject*, uint32_t value);  // 30
};
static_assert(offsetof(AssetOps, MakeActor) == 20 * sizeof(void*));
static_assert(sizeof(AssetOps) == 31 * sizeof(void*));

struct InitFromDictOps {
  ORV_OBJECT_BASE_SLOTS;
  HResult(ORV_CALL* InitFromDict)(InterfaceObject*, HostDict* entry);  // 3: always 0
};

extern const AssetOps kAssetOps;
extern const InitFromDictOps kInitFromDictOps;

HResult ORV_CALL AssetInitialize(ClassInstance* instance);
void ORV_CALL AssetTerminate(ClassInstance* instance);

// The pair of the asset that last measured the processor, or null.
extern CpuFeatures* SharedCpuFeatures;
