// Placeholder until the registrar lands: the base slots only.
#include "registration/transition_registrar.h"

const RegistrationOps kRegistrationOps{};
