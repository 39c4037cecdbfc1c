// The module's own resources where the system cannot hold them: a table
// compiled into the module (generated from the files in this folder) that the
// load notification hands to the platform's resource lookup.
#pragma once

#include "platform/standin/resources.h"

#if !defined(_WIN32)
extern const ModuleResourceTable kModuleResources;
#endif
