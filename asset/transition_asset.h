// TransitionAsset: the cast-member side of a transition.
#pragma once

#include <cstdint>

#include "actors/cpu_features.h"
#include "module/class_ids.h"
#include "module/interface_object.h"

namespace orv::asset {

using module::AssetOps;
using module::ClassInstance;
using module::HResult;
using module::InitFromDictOps;
using module::Instance;

struct AssetFields {
  int32_t colorChoice;                      // 0..6, 6 (black and white) after initialise
  actors::CpuFeatures cpuFeatures;          // every actor made by this asset points here
  module::TransitionIndex transitionIndex;  // read from "myData"; any value may arrive
};
ORV_LAYOUT32(sizeof(Instance<AssetFields>) == 40, "asset instance size");

using AssetInstance = Instance<AssetFields>;

extern const AssetOps kAssetOps;
extern const InitFromDictOps kInitFromDictOps;

HResult ORV_CALL AssetInitialize(ClassInstance* instance);
void ORV_CALL AssetTerminate(ClassInstance* instance);

// The pair of the asset that last measured the processor, or null.
extern actors::CpuFeatures* SharedCpuFeatures;

}  // namespace orv::asset
