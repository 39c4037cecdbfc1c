// The transitions of module/transitions.h as the module uses them: one
// descriptor each, in class-table order, with what the class table, the
// registrar, the asset and the actors need.
#pragma once

#include <cstdint>
#include <iterator>
#include <span>

#include "actors/actor.h"
#include "module/class_ids.h"
#include "module/class_table.h"
#include "module/transitions.h"

// Each row's operations table, defined as extern const in its actor's file.
// Every slot has to be given there: ActorOps's slots have no defaults.
namespace orv::actors {
#define ORV_ACTOR_OPS(Fields, ops, ...) extern const ActorOps ops;
ORV_TRANSITIONS(ORV_ACTOR_OPS)
#undef ORV_ACTOR_OPS
}  // namespace orv::actors

namespace orv::module {

// The one interface of an actor class.
template <const ActorOps& Ops>
inline constexpr InterfaceEntry kActorInterfaces[] = {
    {kActorInterfaceId, kVersion, CreateInterface<Ops>}};

struct Transition {
  TransitionIndex index;
  const char* symbol;
  const char* displayName;
  Guid classId;
  int32_t instanceSize;
  InitializeOp initialize;
  TerminateOp terminate;
  const ActorOps* ops;
  std::span<const InterfaceEntry> interfaces;
  // The actor's asset field, behind one of its interface objects.
  ClassInstance** (*assetSlot)(InterfaceObject* actor);
  int32_t assetCaps;
  int32_t transitionCaps;
  TransitionMedia media;
};

// The module's descriptor of a row.
template <class Fields, const ActorOps& Ops>
constexpr Transition Describe(const TransitionRow& given) {
  const TransitionRow row = Given(given);
  return Transition{TransitionIndex{row.index},
                    row.symbol,
                    row.displayName,
                    row.classId,
                    static_cast<int32_t>(sizeof(Instance<Fields>)),
                    actors::InitializeActor<Fields>,
                    actors::TerminateActor<Fields>,
                    &Ops,
                    kActorInterfaces<Ops>,
                    actors::AssetSlotOf<Fields>,
                    row.assetCaps,
                    row.transitionCaps,
                    row.media};
}

#define ORV_TRANSITION_DESCRIPTOR(Fields, ops, ...) \
  Describe<actors::Fields, actors::ops>(TransitionRow __VA_ARGS__),
inline constexpr Transition kTransitions[] = {ORV_TRANSITIONS(ORV_TRANSITION_DESCRIPTOR)};
#undef ORV_TRANSITION_DESCRIPTOR

inline constexpr int32_t kTransitionCount = static_cast<int32_t>(std::size(kTransitions));

// The transition stored under index, or null for a value that names none.
constexpr const Transition* TransitionOfIndex(int32_t index) {
  for (const Transition& t : kTransitions)
    if (t.index == index) return &t;
  return nullptr;
}

// Registration stores the indices 0 .. count - 1, each once. (Counted by
// value: a comparison of addresses is no constant expression under the
// sanitizers' null checks.)
static_assert(
    [] {
      int32_t seen[std::size(kTransitions)] = {};
      for (const Transition& t : kTransitions) {
        if (t.index < 0 || t.index >= kTransitionCount || seen[t.index]++ != 0) return false;
      }
      return true;
    }(),
    "module/transitions.h: the indices are 0, 1, ... in some order, each once");

}  // namespace orv::module
