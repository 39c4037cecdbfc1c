// The module's transitions, one row each. The class table, the registrar, the
// asset's choice of actor, the actors' asset slot and the tools' class names
// are all made from this list; the version resource's count of transitions
// too (cmake/transitions.cmake counts the lines that begin a row).
//
// ORV_TRANSITION(fields, ops, {.index = ..., ...}): the actor's instance fields
// (a type) and operations table, in orv::actors, and the row's record, every
// field of TransitionRow given by name and in its order (a field left out
// does not compile).
//
// The rows run in the order in which DllGetClassInfo lists the actor classes,
// after the registrar and the asset: by index 0, 1, 2, 5, 3, 4.
#pragma once

#include <cstdint>

#include "module/class_ids.h"

namespace orv::module {

enum TransitionMedia { kMediaNotGiven = -1, kNoMedia, kColorMedia };

struct TransitionRow {
  // The TransitionIndex registration stores under "myData" and the asset reads
  // back. Hosts keep it in their files: a row keeps its number for good, and
  // a new row takes the next free one.
  int32_t index = -1;
  const char* symbol = nullptr;       // the registry entry's "symbolString"
  const char* displayName = nullptr;  // its "displayNameString"
  const char* className = nullptr;    // the actor class's name, as the tools print it
  Guid classId{};                     // the actor class's ID (module/class_ids.h)
  int32_t assetCaps = 0;              // "assetCaps": 0x18, with 0x02 for an options dialog
  int32_t transitionCaps = 0;         // "transitionCaps": 5, with 0x02 for a chunk size that counts
  // kColorMedia: the asset saves its ColorChoice and gives it to the actor;
  // kNoMedia: the asset saves nothing.
  TransitionMedia media = kMediaNotGiven;
};

// The row itself, once every field is given; a row that leaves one out is no
// constant expression, and its table does not compile.
constexpr TransitionRow Given(TransitionRow row) {
  bool idGiven = row.classId.data1 || row.classId.data2 || row.classId.data3;
  for (uint8_t byte : row.classId.data4) idGiven = idGiven || byte;
  if (row.index < 0 || !row.symbol || !row.displayName || !row.className || !idGiven ||
      row.assetCaps == 0 || row.transitionCaps == 0 || row.media == kMediaNotGiven)
    throw "module/transitions.h: a row leaves a field out";
  return row;
}

}  // namespace orv::module

// clang-format off
#define ORV_TRANSITIONS(ORV_TRANSITION)                                                           \
  ORV_TRANSITION(FadeFields, kFadeActorOps,                                                       \
                 {.index = 0, .symbol = "OrvFade", .displayName = "OrvFade",                      \
                  .className = "FadeActor", .classId = kFadeActorId,                              \
                  .assetCaps = 0x18, .transitionCaps = 5, .media = kNoMedia})                     \
  ORV_TRANSITION(WipeFields, kWipeUpActorOps,                                                     \
                 {.index = 1, .symbol = "OrvWipeUp", .displayName = "OrvWipe Up",                 \
                  .className = "WipeUpActor", .classId = kWipeUpActorId,                          \
                  .assetCaps = 0x18, .transitionCaps = 7, .media = kNoMedia})                     \
  ORV_TRANSITION(WipeFields, kWipeDownActorOps,                                                   \
                 {.index = 2, .symbol = "OrvWipeDown", .displayName = "OrvWipe Down",             \
                  .className = "WipeDownActor", .classId = kWipeDownActorId,                      \
                  .assetCaps = 0x18, .transitionCaps = 7, .media = kNoMedia})                     \
  ORV_TRANSITION(ColorFields, kColorActorOps,                                                     \
                 {.index = 5, .symbol = "OrvColor", .displayName = "OrvColor",                    \
                  .className = "ColorActor", .classId = kColorActorId,                            \
                  .assetCaps = 0x1a, .transitionCaps = 5, .media = kColorMedia})                  \
  ORV_TRANSITION(HorizontalWipeFields, kWipeLeftActorOps,                                         \
                 {.index = 3, .symbol = "OrvWipeLeft", .displayName = "OrvWipe Left",             \
                  .className = "WipeLeftActor", .classId = kWipeLeftActorId,                      \
                  .assetCaps = 0x18, .transitionCaps = 7, .media = kNoMedia})                     \
  ORV_TRANSITION(HorizontalWipeFields, kWipeRightActorOps,                                        \
                 {.index = 4, .symbol = "OrvWipeRight", .displayName = "OrvWipe Right",           \
                  .className = "WipeRightActor", .classId = kWipeRightActorId,                    \
                  .assetCaps = 0x18, .transitionCaps = 7, .media = kNoMedia})
// clang-format on
