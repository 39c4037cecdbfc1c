// Resource lookup from the tables that modules register at load.
#include "platform/standin/resources.h"

#include <strings.h>

#include <map>
#include <string>
#include <vector>

namespace {

// A name or a number, as the resource calls take it.
struct Key {
  uint32_t id = 0;
  std::string name;  // empty: the number counts

  bool operator==(const Key&) const = default;

  static Key Of(LPCSTR nameOrId) {
    if (IS_INTRESOURCE(nameOrId))
      return {static_cast<uint32_t>(reinterpret_cast<uintptr_t>(nameOrId)), {}};
    return {0, nameOrId};
  }
  // Names compare without regard to case, as the system's do.
  bool Matches(const ModuleResource& r) const {
    if (name.empty()) return !r.name && r.id == id;
    return r.name && strcasecmp(r.name, name.c_str()) == 0;
  }
};

struct Fault {
  uint32_t type;
  Key key;
  int32_t fault;
};

// Never destroyed: a module still loaded at exit forgets its table in its
// unload notification, which runs after the exit handlers.
std::map<HMODULE, const ModuleResourceTable*>& Tables() {
  static auto& tables = *new std::map<HMODULE, const ModuleResourceTable*>;
  return tables;
}

std::vector<Fault>& Faults() {
  static auto& faults = *new std::vector<Fault>;
  return faults;
}

uint32_t TypeId(LPCSTR type) {
  // Only numbered types exist here; a named type finds nothing.
  return IS_INTRESOURCE(type) ? static_cast<uint32_t>(reinterpret_cast<uintptr_t>(type)) : 0;
}

int32_t FaultOf(const ModuleResource& r) {
  for (const Fault& f : Faults())
    if (f.type == r.type && f.key.Matches(r)) return f.fault;
  return kResourcePresent;
}

const ModuleResource* EntryOf(HRSRC resource) {
  return reinterpret_cast<const ModuleResource*>(resource);
}

}  // namespace

ORV_PLATFORM_API void OrvRegisterModuleResources(HMODULE module, const ModuleResourceTable* table) {
  if (table)
    Tables()[module] = table;
  else
    Tables().erase(module);
}

ORV_PLATFORM_API void OrvSetResourceFault(LPCSTR type, LPCSTR name, int32_t fault) {
  const uint32_t typeId = TypeId(type);
  const Key key = Key::Of(name);
  std::vector<Fault>& faults = Faults();
  for (auto it = faults.begin(); it != faults.end(); ++it) {
    if (it->type == typeId && it->key == key) {
      faults.erase(it);
      break;
    }
  }
  if (fault != kResourcePresent) faults.push_back({typeId, key, fault});
}

ORV_PLATFORM_API HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  auto it = Tables().find(module);
  if (it == Tables().end() || !name) return nullptr;
  const uint32_t typeId = TypeId(type);
  const Key key = Key::Of(name);
  for (uint32_t i = 0; i < it->second->count; ++i) {
    const ModuleResource& r = it->second->entries[i];
    if (r.type == typeId && key.Matches(r) && FaultOf(r) != kResourceHidden)
      return reinterpret_cast<HRSRC>(const_cast<ModuleResource*>(&r));
  }
  return nullptr;
}

ORV_PLATFORM_API HGLOBAL WINAPI LoadResource(HMODULE, HRSRC resource) {
  if (!resource || FaultOf(*EntryOf(resource)) == kResourceUnloadable) return nullptr;
  return const_cast<uint8_t*>(EntryOf(resource)->data);
}

ORV_PLATFORM_API void* WINAPI LockResource(HGLOBAL loaded) { return loaded; }

ORV_PLATFORM_API DWORD WINAPI SizeofResource(HMODULE, HRSRC resource) {
  return resource ? EntryOf(resource)->size : 0;
}

// Loaded resources stay in the module's image; there is nothing to free.
ORV_PLATFORM_API BOOL WINAPI FreeResource(HGLOBAL) { return 0; }
