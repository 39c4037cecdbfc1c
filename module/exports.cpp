// The module's five exports and its load notification.
#include "module/class_table.h"
#include "module/interface_object.h"

#if !defined(_WIN32)
#if !defined(ORV_MODULE_LINKED_IN)
#include <dlfcn.h>
#endif

#include "resources/module_resources.h"
#endif

namespace orv::module {
namespace {

struct ClassForm {
  int32_t* instanceSize;
  InitializeOp* initialize;
  TerminateOp* terminate;
  bool found;
};

int WriteClassForm(const Guid&, uint32_t, int32_t instanceSize, InitializeOp initialize,
                   TerminateOp terminate, void* context) {
  auto* form = static_cast<ClassForm*>(context);
  *form->instanceSize = instanceSize;
  *form->initialize = initialize;
  *form->terminate = terminate;
  form->found = true;
  return 1;
}

struct InterfaceQuery {
  const Guid* iid;
  CreateOp create;
};

int FindCreateOp(const Guid&, uint32_t, const Guid& iid, uint32_t, CreateOp create, void* context) {
  auto* query = static_cast<InterfaceQuery*>(context);
  if (!SameGuid(iid, *query->iid)) return 0;
  query->create = create;
  return 1;
}

int CountClass(const Guid&, uint32_t, int32_t, InitializeOp, TerminateOp, void* context) {
  ++*static_cast<int32_t*>(context);
  return 0;
}

int CountInterface(const Guid&, uint32_t, const Guid&, uint32_t, CreateOp, void* context) {
  ++*static_cast<int32_t*>(context);
  return 0;
}

int WriteClassRecord(const Guid& classId, uint32_t version, int32_t, InitializeOp, TerminateOp,
                     void* context) {
  auto*& cursor = *static_cast<ClassInterfaceRecord**>(context);
  *cursor++ = {classId, version, kClassRecordId, 1};
  return 0;
}

int WriteInterfaceRecord(const Guid& classId, uint32_t classVersion, const Guid& iid,
                         uint32_t version, CreateOp, void* context) {
  auto*& cursor = *static_cast<ClassInterfaceRecord**>(context);
  *cursor++ = {classId, classVersion, iid, version};
  return 0;
}

}  // namespace
}  // namespace orv::module

using namespace orv::module;

ORV_EXPORT HResult ORV_CALL DllGetClassForm(const Guid* classId, int32_t* instanceSize,
                                            InitializeOp* initialize, TerminateOp* terminate) {
  ClassForm form{instanceSize, initialize, terminate, false};
  ForEachClass(classId, WriteClassForm, nullptr, &form);
  return form.found ? kOk : kNoClass;
}

ORV_EXPORT HResult ORV_CALL DllGetInterface(ClassInstance* owner, const Guid* classId,
                                            const Guid* iid, void** out) {
  InterfaceQuery query{iid, nullptr};
  ForEachClass(classId, nullptr, FindCreateOp, &query);
  return query.create ? query.create(owner, out) : kNoInterface;
}

ORV_EXPORT HResult ORV_CALL DllGetClassInfo(HostAllocator* allocator,
                                            ClassInterfaceRecord** records) {
  int32_t count = 0;
  ForEachClass(nullptr, CountClass, CountInterface, &count);
  auto* block = static_cast<ClassInterfaceRecord*>(allocator->ops->Alloc(
      allocator, (count + 1) * static_cast<int32_t>(sizeof(ClassInterfaceRecord))));
  *records = block;
  if (!block) return kNoMemory;
  ClassInterfaceRecord* cursor = block;
  ForEachClass(nullptr, WriteClassRecord, WriteInterfaceRecord, &cursor);
  // The terminator: zero IDs; its version fields stay as allocated.
  std::memset(&cursor->classId, 0, sizeof(Guid));
  std::memset(&cursor->iid, 0, sizeof(Guid));
  return kOk;
}

ORV_EXPORT HResult ORV_CALL DllCanUnloadNow() { return ModuleObjectCount == 0 ? kOk : kStillInUse; }

ORV_EXPORT HResult ORV_CALL DllGetClassObject(void*, void*, void*) { return kNoClass; }

#if defined(_WIN32)
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD, void*) {
  moduleInstance = instance;
  return TRUE;
}
#else
// The load and unload notification: the handle is the module's base address,
// as an instance handle is on Windows. The module's resources are known to the
// platform's lookup under that handle while the module is loaded.
namespace orv::module {
namespace {
void StoreModuleInstance() {
#if defined(ORV_MODULE_LINKED_IN)
  // Linked into the program, the module has no base address of its own: its
  // resource table's address stands for it, unique and above the range of
  // resource numbers.
  moduleInstance = reinterpret_cast<HMODULE>(const_cast<ModuleResourceTable*>(&kModuleResources));
#else
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&StoreModuleInstance), &info))
    moduleInstance = static_cast<HMODULE>(info.dli_fbase);
#endif
}
__attribute__((constructor)) void ModuleLoaded() {
  StoreModuleInstance();
  OrvRegisterModuleResources(moduleInstance, &kModuleResources);
}
__attribute__((destructor)) void ModuleUnloaded() {
  StoreModuleInstance();
  OrvRegisterModuleResources(moduleInstance, nullptr);
}
}  // namespace
}  // namespace orv::module
#endif
