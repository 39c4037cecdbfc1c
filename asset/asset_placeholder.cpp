// Placeholder until the asset lands: the base slots only.
#include "asset/transition_asset.h"

CpuFeatures* SharedCpuFeatures = nullptr;
const AssetOps kAssetOps{};
const InitFromDictOps kInitFromDictOps{};

HResult ORV_CALL AssetInitialize(ClassInstance*) { return 0; }
void ORV_CALL AssetTerminate(ClassInstance*) {}
