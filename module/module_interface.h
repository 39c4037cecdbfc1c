// What crosses the module boundary from the module's side: the instance header
// the host makes for every module class, the records the exports hand over,
// and the operations tables of the interfaces the module serves (the
// registrar's, the asset's and the actors'). A host includes this, the IDs in
// module/class_ids.h and the host interfaces in module/host_services.h, and
// nothing else of the module.
#pragma once

#include <cstddef>
#include <cstdint>

#include "module/abi.h"
#include "module/host_services.h"

namespace orv::module {

// The 24-byte header the host fills and owns; a class's own fields follow it.
struct ClassInstance {
  const ClassInstanceOps* ops;  // QueryInterface, AddRef, Release, served by the host
  intptr_t hostWord2;
  HostCallback* callback;
  HostAllocator* allocator;
  intptr_t hostWord5;
  intptr_t hostWord6;
};
ORV_LAYOUT32(sizeof(ClassInstance) == 24, "the host header is six words");

// A class's initialise and terminate operations, as DllGetClassForm reports them.
using InitializeOp = HResult(ORV_CALL*)(ClassInstance* instance);
using TerminateOp = void(ORV_CALL*)(ClassInstance* instance);

// The record array DllGetClassInfo hands to the host.
struct ClassInterfaceRecord {
  Guid classId;
  uint32_t classVersion;
  Guid iid;
  uint32_t iidVersion;
};
static_assert(sizeof(ClassInterfaceRecord) == 40);
static_assert(offsetof(ClassInterfaceRecord, classVersion) == 16);
static_assert(offsetof(ClassInterfaceRecord, iid) == 20);
static_assert(offsetof(ClassInterfaceRecord, iidVersion) == 36);

// The interface ID of a record that describes a class itself.
inline constexpr Guid kClassRecordId =
    MakeGuid(0x00000001, 0x0000, 0x0000, 0xC000, 0x000000000046ull);

// An interface the module hands out. Outside the module only its first word
// counts: it points at the interface's operations table.
struct InterfaceObject;

// The three base slots every module interface starts with, shared by all of
// them inside the module.
HResult ORV_CALL SharedQueryInterface(InterfaceObject* self, const Guid* iid, void** out);
uint32_t ORV_CALL SharedAddRef(InterfaceObject* self);
// Frees the object when its count reaches 0; the objects hold nothing else.
uint32_t ORV_CALL ReleaseInterfaceObject(InterfaceObject* self);

#define ORV_OBJECT_BASE_SLOTS                                                                \
  ::orv::module::HResult(ORV_CALL* QueryInterface)(::orv::module::InterfaceObject*,          \
                                                   const ::orv::module::Guid*, void**) =     \
      ::orv::module::SharedQueryInterface;                                                   \
  uint32_t(ORV_CALL* AddRef)(::orv::module::InterfaceObject*) = ::orv::module::SharedAddRef; \
  uint32_t(ORV_CALL* Release)(::orv::module::InterfaceObject*) =                             \
      ::orv::module::ReleaseInterfaceObject

// The part every operations table shares.
struct BaseOps {
  ORV_OBJECT_BASE_SLOTS;
};

// The operations table of a module interface.
template <class Ops = BaseOps>
const Ops& OpsOf(const void* object) {
  return **static_cast<const Ops* const*>(object);
}

inline const BaseOps& BaseOpsOf(const void* object) { return OpsOf<BaseOps>(object); }

// ---- TransitionRegistrar: RegistrationInterface ----

struct RegistrationOps {
  ORV_OBJECT_BASE_SLOTS;
  // 3: called by the host.
  HResult(ORV_CALL* Register)(InterfaceObject* self, HostCache* cache, void* registrationDict);
  // 4: length-prefixed copy of a zero-terminated text (no operation calls it).
  HResult(ORV_CALL* CopyLengthPrefixed)(InterfaceObject* self, const char* source,
                                        uint8_t* destination);
  // 5: stores one icon bitmap into an entry under "colorIcon" or "BWIcon".
  HResult(ORV_CALL* LoadIcon)(InterfaceObject* self, HostDict* entry, const char* resourceName,
                              int32_t color);
  // 6: writes one entry per transition.
  HResult(ORV_CALL* RegisterTransitions)(InterfaceObject* self, HostCache* cache,
                                         void* registrationDict);
};
static_assert(sizeof(RegistrationOps) == 7 * sizeof(void*));

// ---- TransitionAsset: AssetInterface and InitFromDictInterface ----

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
  HResult(ORV_CALL* RunAbout)(InterfaceObject*);                                          // 24
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
static_assert(sizeof(InitFromDictOps) == 4 * sizeof(void*));

// ---- The actors: ActorInterface ----

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
  HResult(ORV_CALL* Cue)(InterfaceObject*, HostGC* window, HostGC* offscreen, const HostRect* rect,
                         const TransitionParams* params);  // 4
  HResult(ORV_CALL* Continue)(InterfaceObject*, HostGC* window, HostGC* offscreen,
                              const HostRect* rect, const TransitionParams* params,
                              int32_t* done);  // 5
  HResult(ORV_CALL* Finish)(InterfaceObject*, HostGC* window, HostGC* offscreen,
                            const HostRect* rect, const TransitionParams* params);  // 6
};
static_assert(sizeof(ActorOps) == 7 * sizeof(void*));

}  // namespace orv::module
