// For tests only: what lies inside a member's asset instance, which a host
// never sees.
#pragma once

#include "asset/transition_asset.h"
#include "host/member.h"
#include "module/interface_object.h"

using orv::module::ClassInstance;
using orv::module::FieldsOf;

inline ClassInstance* InstanceOf(const orvhost::Member& member) { return member.asset->owner; }

inline orv::asset::AssetFields& AssetFieldsOf(const orvhost::Member& member) {
  return FieldsOf<orv::asset::AssetFields>(member.asset);
}
