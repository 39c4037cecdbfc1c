#include "module/interface_object.h"

#include <new>

namespace orv::module {

int32_t ModuleObjectCount = 0;
HMODULE moduleInstance = nullptr;

namespace {

// Interface memory comes from the owner's host allocator; like a standard
// allocation, a failure consults the runtime's out-of-memory handler. Nothing
// may unwind into the host's frames, so whatever the handler throws ends the
// attempt as out of memory.
void* AllocateObject(HostAllocator* allocator, int32_t bytes) {
  for (;;) {
    if (void* block = allocator->ops->Alloc(allocator, bytes)) return block;
    std::new_handler handler = std::get_new_handler();
    if (!handler) return nullptr;
    try {
      handler();
    } catch (...) {
      return nullptr;
    }
  }
}

}  // namespace

HResult CreateInterfaceObject(ClassInstance* owner, const void* ops, void** out) {
  auto* object = static_cast<InterfaceObject*>(
      AllocateObject(owner->allocator, static_cast<int32_t>(sizeof(InterfaceObject))));
  if (!object) {
    *out = nullptr;
    return kNoMemory;
  }
  object->owner = owner;
  object->refCount = 1;
  owner->ops->AddRef(owner);  // for the object's existence
  owner->ops->AddRef(owner);  // for the reference handed out
  ++ModuleObjectCount;
  object->ops = ops;
  *out = object;
  return kOk;
}

// The owner decides every query, even for the object's own interface.
HResult ORV_CALL SharedQueryInterface(InterfaceObject* self, const Guid* iid, void** out) {
  return self->owner->ops->QueryInterface(self->owner, iid, out);
}

uint32_t ORV_CALL SharedAddRef(InterfaceObject* self) {
  self->owner->ops->AddRef(self->owner);
  return static_cast<uint32_t>(++self->refCount);
}

uint32_t ORV_CALL ReleaseInterfaceObject(InterfaceObject* self) {
  ClassInstance* owner = self->owner;  // still needed once the block is gone
  const int32_t count = --self->refCount;
  if (count == 0) {
    owner->allocator->ops->Free(owner->allocator, self);
    --ModuleObjectCount;
    owner->ops->Release(owner);  // for the object's existence
  }
  owner->ops->Release(owner);  // for the reference this call gives up
  return static_cast<uint32_t>(count);
}

}  // namespace orv::module
