// The stand-in for the system's resource lookup. A module's resources are
// compiled into it as a table, which the module hands over when it loads;
// FindResourceA and the rest then answer from that table by module handle.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

#if !defined(_WIN32)

// One resource: its type (2 bitmap, 5 dialog, ...) and its name or number,
// with the bytes exactly as the system would hold them (a bitmap without its
// file header).
struct ModuleResource {
  uint32_t type;
  const char* name;  // null when the resource is known by number
  uint32_t id;
  const uint8_t* data;
  uint32_t size;
};

struct ModuleResourceTable {
  const ModuleResource* entries;
  uint32_t count;
};

// Makes the table the resources of module; a null table forgets the module.
ORV_PLATFORM_API void OrvRegisterModuleResources(HMODULE module, const ModuleResourceTable* table);

// For tests: makes FindResourceA miss a resource, or LoadResource fail on it,
// in every module. kResourcePresent undoes it.
enum ResourceFault : int32_t {
  kResourcePresent = 0,
  kResourceHidden = 1,
  kResourceUnloadable = 2,
};
ORV_PLATFORM_API void OrvSetResourceFault(LPCSTR type, LPCSTR name, int32_t fault);

namespace orv::standin {

// Finds, loads and locks resource name of type in module, hands its bytes to
// use and frees the resource again. False when it is missing or cannot be
// loaded, otherwise what use answers.
template <class Use>
bool UseResource(HMODULE module, LPCSTR name, LPCSTR type, Use use) {
  HRSRC found = FindResourceA(module, name, type);
  if (!found) return false;
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  const bool ok = data && use(static_cast<const uint8_t*>(data),
                              static_cast<size_t>(SizeofResource(module, found)));
  if (loaded) FreeResource(loaded);
  return ok;
}

}  // namespace orv::standin

#endif  // !_WIN32
