#include "registration/transition_registrar.h"

#include <initializer_list>

#include "module/class_ids.h"
#include "module/transition_table.h"

namespace orv::registration {

using namespace orv::module;

namespace {

constexpr char kCategory[] = "Orv Transition Pack 1";
constexpr int32_t kActorType = 2;
constexpr int32_t kDefaultArea = 1;
constexpr int32_t kDefaultDuration = 2000;
constexpr int32_t kDefaultChunkSize = 64;
constexpr uint8_t kSafeForWebPlayback = 1;

constexpr char kColorIcon[] = "ORV_FADE_XTRA_PICON";
constexpr char kBlackWhiteIcon[] = "ORV_FADE_XTRA_PICON_BW";

const RegistrationOps& OpsOf(InterfaceObject* self) {
  return *static_cast<const RegistrationOps*>(self->ops);
}

// One Put of an entry: type code, value, size as passed, key.
struct Value {
  int32_t type;
  const void* data;
  int32_t size;
  const char* key;
};

// Puts the values in order; the first failure ends it and is returned.
HResult PutAll(HostDict* entry, std::initializer_list<Value> values) {
  for (const Value& v : values)
    if (HResult rc = entry->ops->Put(entry, v.type, v.data, v.size, v.key)) return rc;
  return kOk;
}

HResult ORV_CALL Register(InterfaceObject* self, HostCache* cache, void* registrationDict) {
  return OpsOf(self).RegisterTransitions(self, cache, registrationDict);
}

// Copies the characters of source after a leading count byte (the count
// modulo 256); no terminator. destination holds one byte more than source.
HResult ORV_CALL CopyLengthPrefixed(InterfaceObject*, const char* source, uint8_t* destination) {
  uint32_t count = 0;
  for (; source[count]; ++count) destination[1 + count] = static_cast<uint8_t>(source[count]);
  destination[0] = static_cast<uint8_t>(count);
  return kOk;
}

// Stores one of the module's bitmap resources, as the module holds it (header,
// palette, rows), under "colorIcon" or "BWIcon". A missing resource gives
// 0x80040001, one that cannot be loaded 0 with nothing stored.
HResult ORV_CALL LoadIcon(InterfaceObject* self, HostDict* entry, const char* resourceName,
                          int32_t color) {
  HostCallback* callback = self->owner->callback;
  ResourceToken token = 0;
  HMODULE module = callback->ops->BeginUsingResources(callback, moduleInstance, &token);
  HResult result = kResourceMissing;
  if (HRSRC resource = FindResourceA(module, resourceName, RT_BITMAP)) {
    result = kOk;
    if (HGLOBAL loaded = LoadResource(module, resource)) {
      if (const void* data = LockResource(loaded))
        result = entry->ops->Put(entry, kDictBytes, data,
                                 static_cast<int32_t>(SizeofResource(module, resource)),
                                 color ? "colorIcon" : "BWIcon");
      FreeResource(loaded);
    }
  }
  callback->ops->EndUsingResources(callback, moduleInstance, token);
  return result;
}

// Writes one registry entry per transition, in index order. A failing AddRegistryEntry or Put
// ends the work with its code; a missing icon leaves the entry without it.
HResult ORV_CALL RegisterTransitions(InterfaceObject* self, HostCache* cache,
                                     void* registrationDict) {
  for (int32_t index = 0; index < kTransitionCount; ++index) {
    const Transition& t = *TransitionOfIndex(index);  // every index has its row
    HostDict* entry = nullptr;                        // the host's; the module never releases it
    if (HResult rc = cache->ops->AddRegistryEntry(cache, registrationDict, &kTransitionAssetId,
                                                  &kAssetInterfaceId, &entry))
      return rc;
    if (HResult rc = PutAll(entry, {{kDictText, t.symbol, 0, "symbolString"},
                                    {kDictText, t.displayName, 0, "displayNameString"},
                                    {kDictText, kCategory, 0, "displayCategoryString"},
                                    {kDictInt32, &kActorType, 0, "actorType"},
                                    {kDictBytes, &t.assetCaps, 4, "assetCaps"}}))
      return rc;
    OpsOf(self).LoadIcon(self, entry, kColorIcon, 1);
    OpsOf(self).LoadIcon(self, entry, kBlackWhiteIcon, 0);
    if (HResult rc =
            PutAll(entry, {{kDictBytes, &t.transitionCaps, 4, "transitionCaps"},
                           {kDictInt32, &kDefaultArea, 0, "transitionDefaultArea"},
                           {kDictInt32, &kDefaultDuration, 0, "transitionDefaultDuration"},
                           {kDictInt32, &kDefaultChunkSize, 0, "transitionDefaultChunkSize"},
                           {kDictBytes, &index, 4, "myData"},
                           {kDictFlag, &kSafeForWebPlayback, 1, "safeForShockwave"}}))
      return rc;
  }
  return kOk;
}

}  // namespace

const RegistrationOps kRegistrationOps{
    .Register = Register,
    .CopyLengthPrefixed = CopyLengthPrefixed,
    .LoadIcon = LoadIcon,
    .RegisterTransitions = RegisterTransitions,
};

}  // namespace orv::registration
