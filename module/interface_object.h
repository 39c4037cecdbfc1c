// The host-made class instance and the module's interface objects: one
// pattern for every interface the module hands out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "module/abi.h"
#include "module/host_services.h"

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

// A class's instance: the host header, then the class's own fields.
template <class Fields>
struct Instance : ClassInstance {
  Fields f;
};

// One interface object: 12 bytes on the 32-bit target.
struct InterfaceObject {
  const void* ops;       // the interface's constant operations table
  ClassInstance* owner;  // set at creation, never changed
  int32_t refCount;      // 1 at creation
};
ORV_LAYOUT32(sizeof(InterfaceObject) == 12, "InterfaceObject is three words");

// The owner's fields behind an interface object.
template <class Fields>
Fields& FieldsOf(InterfaceObject* object) {
  return static_cast<Instance<Fields>*>(object->owner)->f;
}

// The three base slots every module interface starts with.
HResult ORV_CALL SharedQueryInterface(InterfaceObject* self, const Guid* iid, void** out);
uint32_t ORV_CALL SharedAddRef(InterfaceObject* self);
// Frees the object when its count reaches 0; the objects hold nothing else.
uint32_t ORV_CALL ReleaseInterfaceObject(InterfaceObject* self);

#define ORV_OBJECT_BASE_SLOTS                                                              \
  HResult(ORV_CALL* QueryInterface)(InterfaceObject*, const Guid*, void**) =               \
      SharedQueryInterface;                                                                \
  uint32_t(ORV_CALL* AddRef)(InterfaceObject*) = SharedAddRef;                             \
  uint32_t(ORV_CALL* Release)(InterfaceObject*) = ReleaseInterfaceObject

// The part every operations table shares.
struct BaseOps {
  ORV_OBJECT_BASE_SLOTS;
};

inline const BaseOps& BaseOpsOf(void* object) {
  return *static_cast<const BaseOps*>(static_cast<InterfaceObject*>(object)->ops);
}

// Builds an interface object on owner with the given table (the create
// operation of every class-table row).
HResult CreateInterfaceObject(ClassInstance* owner, const void* ops, void** out);

template <const auto& Ops>
HResult ORV_CALL CreateInterface(ClassInstance* owner, void** out) {
  return CreateInterfaceObject(owner, &Ops, out);
}

// The number of interface objects alive in the whole module.
extern int32_t ModuleObjectCount;
// The module's instance handle, stored at load.
extern HMODULE moduleInstance;
