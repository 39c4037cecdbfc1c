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

// An operation's slot in a module table: it has no default, so a table that
// leaves an operation out does not compile. It calls as the pointer it holds.
template <class Fn>
struct Slot {
  constexpr Slot(Fn f) : fn(f) {}
  constexpr operator Fn() const { return fn; }
  Fn fn;
};

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
  Slot<HResult(ORV_CALL*)(InterfaceObject* self, HostCache* cache, void* registrationDict)>
      Register;
  // 4: length-prefixed copy of a zero-terminated text (no operation calls it).
  Slot<HResult(ORV_CALL*)(InterfaceObject* self, const char* source, uint8_t* destination)>
      CopyLengthPrefixed;
  // 5: stores one icon bitmap into an entry under "colorIcon" or "BWIcon".
  Slot<HResult(ORV_CALL*)(InterfaceObject* self, HostDict* entry, const char* resourceName,
                          int32_t color)>
      LoadIcon;
  // 6: writes one entry per transition.
  Slot<HResult(ORV_CALL*)(InterfaceObject* self, HostCache* cache, void* registrationDict)>
      RegisterTransitions;
};
static_assert(sizeof(RegistrationOps) == 7 * sizeof(void*));

// ---- TransitionAsset: AssetInterface and InitFromDictInterface ----

// Slots 3..28 are offered to the host; 29 and 30 are the asset's own
// byte-order helpers, called through the table by the media operations.
struct AssetOps {
  ORV_OBJECT_BASE_SLOTS;
  Slot<HResult(ORV_CALL*)(InterfaceObject*, intptr_t, intptr_t)> Unsupported3;
  Slot<HResult(ORV_CALL*)(InterfaceObject*, intptr_t, intptr_t)> Unsupported4;
  Slot<HResult(ORV_CALL*)(InterfaceObject*, intptr_t, intptr_t, intptr_t, intptr_t)> Unsupported5;
  Slot<HResult(ORV_CALL*)(InterfaceObject*, intptr_t)> Accept6;
  Slot<HResult(ORV_CALL*)(InterfaceObject*, intptr_t, intptr_t)> Accept7;
  Slot<HResult(ORV_CALL*)(InterfaceObject*, intptr_t)> Accept8;
  Slot<HResult(ORV_CALL*)(InterfaceObject*, intptr_t)> Accept9;
  Slot<HResult(ORV_CALL*)(InterfaceObject*, intptr_t)> Accept10;
  Slot<HResult(ORV_CALL*)(InterfaceObject*, intptr_t)> Accept11;
  Slot<HResult(ORV_CALL*)(InterfaceObject*)> Accept12;
  Slot<HResult(ORV_CALL*)(InterfaceObject*, int32_t* out)> ReportZero13;
  Slot<HResult(ORV_CALL*)(InterfaceObject*, int32_t* out)> ReportZero14;
  Slot<HResult(ORV_CALL*)(InterfaceObject*, HostStream* stream)> SaveMedia;  // 15
  Slot<HResult(ORV_CALL*)(InterfaceObject*, HostStream* stream)> LoadMedia;  // 16
  Slot<HResult(ORV_CALL*)(InterfaceObject*)> Accept17;
  Slot<HResult(ORV_CALL*)(InterfaceObject*, int32_t* out)> ReportZero18;
  Slot<HResult(ORV_CALL*)(InterfaceObject*, int32_t* bytes)> QueryMediaSize;  // 19
  Slot<HResult(ORV_CALL*)(InterfaceObject*, void** actor)> MakeActor;         // 20
  Slot<HResult(ORV_CALL*)(InterfaceObject*, intptr_t)> Accept21;
  Slot<HResult(ORV_CALL*)(InterfaceObject*)> RunOptions;  // 22
  Slot<HResult(ORV_CALL*)(InterfaceObject*, intptr_t, intptr_t)> Accept23;
  Slot<HResult(ORV_CALL*)(InterfaceObject*)> RunAbout;  // 24
  Slot<HResult(ORV_CALL*)(InterfaceObject*, HostGC* gc, const HostRect* rect)>
      PaintThumbnail;  // 25
  Slot<HResult(ORV_CALL*)(InterfaceObject*, intptr_t, intptr_t)> Accept26;
  Slot<HResult(ORV_CALL*)(InterfaceObject*, intptr_t, intptr_t)> Accept27;
  Slot<HResult(ORV_CALL*)(InterfaceObject*, intptr_t, intptr_t)> Accept28;
  Slot<uint16_t(ORV_CALL*)(InterfaceObject*, uint16_t value)> SwapBytes16;  // 29
  Slot<uint32_t(ORV_CALL*)(InterfaceObject*, uint32_t value)> SwapBytes32;  // 30
};
static_assert(offsetof(AssetOps, MakeActor) == 20 * sizeof(void*));
static_assert(sizeof(AssetOps) == 31 * sizeof(void*));

struct InitFromDictOps {
  ORV_OBJECT_BASE_SLOTS;
  Slot<HResult(ORV_CALL*)(InterfaceObject*, HostDict* entry)> InitFromDict;  // 3: always 0
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
  Slot<HResult(ORV_CALL*)(InterfaceObject*, int32_t property, intptr_t value)> SetProperty;  // 3
  Slot<HResult(ORV_CALL*)(InterfaceObject*, HostGC* window, HostGC* offscreen, const HostRect* rect,
                          const TransitionParams* params)>
      Cue;  // 4
  Slot<HResult(ORV_CALL*)(InterfaceObject*, HostGC* window, HostGC* offscreen, const HostRect* rect,
                          const TransitionParams* params, int32_t* done)>
      Continue;  // 5
  Slot<HResult(ORV_CALL*)(InterfaceObject*, HostGC* window, HostGC* offscreen, const HostRect* rect,
                          const TransitionParams* params)>
      Finish;  // 6
};
static_assert(sizeof(ActorOps) == 7 * sizeof(void*));

}  // namespace orv::module
