// The module's interface objects, one pattern for every interface it hands
// out, and the class instances they belong to.
#pragma once

#include <cstddef>
#include <cstdint>

#include "module/abi.h"
#include "module/module_interface.h"

namespace orv::module {

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

}  // namespace orv::module
