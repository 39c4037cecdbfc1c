#include "asset/transition_asset.h"

#include <bit>

#include "actors/actor.h"
#include "asset/about_box.h"
#include "asset/options_dialog.h"
#include "module/class_ids.h"
#include "module/transition_table.h"

namespace orv::asset {

using namespace orv::module;

actors::CpuFeatures* SharedCpuFeatures = nullptr;

// The media holds ColorChoice most significant byte first; the module runs on
// little-endian processors only, where one byte swap makes it so.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr int32_t kBlackAndWhite = 6;

AssetFields& FieldsOfAsset(InterfaceObject* self) { return FieldsOf<AssetFields>(self); }

const AssetOps& OpsOf(InterfaceObject* self) { return *static_cast<const AssetOps*>(self->ops); }

// The transitions whose media is their ColorChoice.
bool HasColorMedia(const AssetFields& f) {
  const Transition* t = TransitionOfIndex(f.transitionIndex);
  return t && t->media == kColorMedia;
}

// The slots the asset does not support, accepts without effect, or answers
// with zero. Their arguments are never looked at.
HResult ORV_CALL NotSupported2(InterfaceObject*, intptr_t, intptr_t) { return kAssetUnsupported; }
HResult ORV_CALL NotSupported4(InterfaceObject*, intptr_t, intptr_t, intptr_t, intptr_t) {
  return kAssetUnsupportedAlt;
}
HResult ORV_CALL Accept0(InterfaceObject*) { return kOk; }
HResult ORV_CALL Accept1(InterfaceObject*, intptr_t) { return kOk; }
HResult ORV_CALL Accept2(InterfaceObject*, intptr_t, intptr_t) { return kOk; }
HResult ORV_CALL ReportZero(InterfaceObject*, int32_t* out) {
  if (out) *out = 0;
  return kOk;
}

uint16_t ORV_CALL SwapBytes16(InterfaceObject*, uint16_t value) {
  return static_cast<uint16_t>(value << 8 | value >> 8);
}

uint32_t ORV_CALL SwapBytes32(InterfaceObject*, uint32_t value) {
  return value << 24 | (value << 8 & 0x00FF0000u) | (value >> 8 & 0x0000FF00u) | value >> 24;
}

// The media of a transition with colour media is its ColorChoice, four bytes
// big-endian; the other transitions save nothing.
HResult ORV_CALL SaveMedia(InterfaceObject* self, HostStream* stream) {
  if (HResult rc = stream->ops->Open(stream, kStreamWrite, 0)) return rc;
  const AssetFields& f = FieldsOfAsset(self);
  HResult result = kOk;
  if (HasColorMedia(f)) {
    const uint32_t bigEndian = OpsOf(self).SwapBytes32(self, static_cast<uint32_t>(f.colorChoice));
    result = stream->ops->Write(stream, &bigEndian, 4, 0);
  }
  stream->ops->Close(stream);
  return result;
}

// ColorChoice changes only when all four bytes were read; a failed read leaves
// it as it was. The value is not checked against 0..6.
HResult ORV_CALL LoadMedia(InterfaceObject* self, HostStream* stream) {
  HostCallback* callback = self->owner->callback;
  void* utilities = nullptr;  // held, not used, while the stream is read
  if (callback->ops->QueryInterface(callback, &kHostUtilitiesId, &utilities) != 0 || !utilities)
    return kNoInterface;
  auto* held = static_cast<HostUtilities*>(utilities);
  HResult result = stream->ops->Open(stream, kStreamRead, 0);
  if (result == kOk) {
    AssetFields& f = FieldsOfAsset(self);
    if (HasColorMedia(f)) {
      uint32_t bigEndian = 0;
      result = stream->ops->Read(stream, &bigEndian, 4, 0);
      if (result == kOk)
        f.colorChoice = static_cast<int32_t>(OpsOf(self).SwapBytes32(self, bigEndian));
    }
    stream->ops->Close(stream);
  }
  held->ops->Release(held);
  return result;
}

HResult ORV_CALL QueryMediaSize(InterfaceObject* self, int32_t* bytes) {
  if (bytes) *bytes = HasColorMedia(FieldsOfAsset(self)) ? 4 : 0;
  return kOk;
}

// Has the host create the actor of this transition and hands it the addresses
// of the asset's settings. The actor keeps the CpuFeatures address, so it also
// keeps the asset alive. An index that names no transition makes no actor.
HResult ORV_CALL MakeActor(InterfaceObject* self, void** actor) {
  AssetFields& f = FieldsOfAsset(self);
  const Transition* transition = TransitionOfIndex(f.transitionIndex);
  if (!transition) return kNoInterface;
  HostCallback* callback = self->owner->callback;
  void* made = nullptr;
  if (callback->ops->CreateInstance(callback, &transition->classId, &kActorInterfaceId, &made) !=
          0 ||
      !made)
    return kNoInterface;
  auto* object = static_cast<InterfaceObject*>(made);
  const ActorOps& ops = *static_cast<const ActorOps*>(object->ops);
  if (transition->media == kColorMedia)
    ops.SetProperty(object, PropertyColorChoice, reinterpret_cast<intptr_t>(&f.colorChoice));
  ops.SetProperty(object, PropertyCpuFeatures, reinterpret_cast<intptr_t>(&f.cpuFeatures));
  actors::KeepAssetAlive(made, self->owner);
  *actor = made;  // the host's reference from now on
  return kOk;
}

// Reads the TransitionIndex that registration stored under "myData". The
// result of Get is not examined: a missing key leaves the index as it was.
HResult ORV_CALL InitFromDict(InterfaceObject* self, HostDict* entry) {
  if (entry) entry->ops->Get(entry, kDictBytes, &FieldsOfAsset(self).transitionIndex, 4, "myData");
  return kOk;
}

}  // namespace

// The processor is measured by the first asset while none that measured is
// alive; the others copy its answer.
HResult ORV_CALL AssetInitialize(ClassInstance* instance) {
  AssetFields& f = static_cast<AssetInstance*>(instance)->f;
  f.colorChoice = kBlackAndWhite;
  f.transitionIndex = kFadeTransition;  // until InitFromDict reads it
  if (SharedCpuFeatures) {
    f.cpuFeatures = *SharedCpuFeatures;
  } else {
    f.cpuFeatures = actors::ReadCpuFeatures();
    SharedCpuFeatures = &f.cpuFeatures;
  }
  return kOk;
}

void ORV_CALL AssetTerminate(ClassInstance* instance) {
  AssetFields& f = static_cast<AssetInstance*>(instance)->f;
  if (SharedCpuFeatures == &f.cpuFeatures) SharedCpuFeatures = nullptr;
}

const AssetOps kAssetOps{
    .Unsupported3 = NotSupported2,
    .Unsupported4 = NotSupported2,
    .Unsupported5 = NotSupported4,
    .Accept6 = Accept1,
    .Accept7 = Accept2,
    .Accept8 = Accept1,
    .Accept9 = Accept1,
    .Accept10 = Accept1,
    .Accept11 = Accept1,
    .Accept12 = Accept0,
    .ReportZero13 = ReportZero,
    .ReportZero14 = ReportZero,
    .SaveMedia = SaveMedia,
    .LoadMedia = LoadMedia,
    .Accept17 = Accept0,
    .ReportZero18 = ReportZero,
    .QueryMediaSize = QueryMediaSize,
    .MakeActor = MakeActor,
    .Accept21 = Accept1,
    .RunOptions = RunOptions,
    .Accept23 = Accept2,
    .RunAbout = RunAbout,
    .PaintThumbnail = PaintThumbnail,
    .Accept26 = Accept2,
    .Accept27 = Accept2,
    .Accept28 = Accept2,
    .SwapBytes16 = SwapBytes16,
    .SwapBytes32 = SwapBytes32,
};

const InitFromDictOps kInitFromDictOps{.InitFromDict = InitFromDict};

}  // namespace orv::asset
