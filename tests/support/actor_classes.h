// For tests only: the actor class of each transition, by the index that
// registration stores under "myData", as a host must see them. Written out
// here rather than taken from the module's table, which the tests check.
#pragma once

#include <iterator>

#include "module/class_ids.h"

inline constexpr orv::module::Guid kActorClassOfIndex[] = {
    orv::module::kFadeActorId,     orv::module::kWipeUpActorId,    orv::module::kWipeDownActorId,
    orv::module::kWipeLeftActorId, orv::module::kWipeRightActorId, orv::module::kColorActorId};

// The transitions the tests know.
inline constexpr int kTransitionsKnown = static_cast<int>(std::size(kActorClassOfIndex));
