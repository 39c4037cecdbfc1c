// TransitionRegistrar: writes one host registry entry per transition.
#pragma once

#include <cstdint>

#include "module/interface_object.h"

namespace orv::registration {

using module::Instance;
using module::RegistrationOps;

struct RegistrarFields {
  int32_t unused;  // nothing reads or writes it
};
ORV_LAYOUT32(sizeof(Instance<RegistrarFields>) == 28, "registrar instance size");

extern const RegistrationOps kRegistrationOps;

}  // namespace orv::registration
