// The constant table of the module's classes and their interfaces, and the
// one walk over it that every export uses.
#pragma once

#include <cstdint>
#include <span>

#include "module/abi.h"
#include "module/interface_object.h"

namespace orv::module {

using CreateOp = HResult(ORV_CALL*)(ClassInstance* owner, void** out);

struct InterfaceEntry {
  Guid iid;
  uint32_t version;
  CreateOp create;
};

struct ClassEntry {
  Guid classId;
  uint32_t version;
  int32_t instanceSize;
  InitializeOp initialize;
  TerminateOp terminate;
  std::span<const InterfaceEntry> interfaces;
};

extern const std::span<const ClassEntry> ClassTable;

using ClassVisitor = int (*)(const Guid& classId, uint32_t version, int32_t instanceSize,
                             InitializeOp initialize, TerminateOp terminate, void* context);
using InterfaceVisitor = int (*)(const Guid& classId, uint32_t classVersion, const Guid& iid,
                                 uint32_t version, CreateOp create, void* context);

// Walks the table in order; a non-zero visitor result ends the walk and is
// returned. A null filter matches every class.
int ForEachClass(const Guid* filter, ClassVisitor classVisitor, InterfaceVisitor interfaceVisitor,
                 void* context);

// The shared "none" pair: initialise returns 0, terminate does nothing.
HResult ORV_CALL InitializeNothing(ClassInstance*);
void ORV_CALL TerminateNothing(ClassInstance*);

}  // namespace orv::module
