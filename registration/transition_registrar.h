// TransitionRegistrar: writes one host registry entry per transition.
#pragma once

#include <cstdint>

#include "module/interface_object.h"

struct RegistrarFields {
  int32_t unused;  // nothing reads or writes it
};
ORV_LAYOUT32(sizeof(Instance<RegistrarFields>) == 28, "registrar instance size");

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
  // 6: writes the six entries.
  HResult(ORV_CALL* RegisterTransitions)(InterfaceObject* self, HostCache* cache,
                                         void* registrationDict);
};

extern const RegistrationOps kRegistrationOps;
