// The module's transitions, one row each. The class table, the registrar, the
// asset's choice of actor, the actors' asset slot and the tools' class names
// are all made from this list; the version resource's count of transitions
// too (cmake/transitions.cmake counts the rows, one per line).
//
// ORV_TRANSITION(index, symbol, display name, class name, class id, fields, ops,
//                asset caps, transition caps, media)
//   index            the TransitionIndex registration stores under "myData" and the asset
//                    reads back. Hosts keep it in their files: a row keeps its number for
//                    good, and a new row takes the next free one.
//   symbol           the registry entry's "symbolString"
//   display name     its "displayNameString"
//   class name       the actor class's name, as the tools print it
//   class id         the actor class's ID (module/class_ids.h, or a MakeGuid of its own)
//   fields, ops      the actor's instance fields and operations table, in orv::actors
//   asset caps       the entry's "assetCaps": 0x18, with 0x02 for an options dialog
//   transition caps  the entry's "transitionCaps": 5, with 0x02 for a chunk size that counts
//   media            kColorMedia: the asset saves its ColorChoice and gives it to the actor;
//                    kNoMedia: the asset saves nothing
//
// The rows run in the order in which DllGetClassInfo lists the actor classes,
// after the registrar and the asset: by index 0, 1, 2, 5, 3, 4.
#pragma once

namespace orv::module {

enum TransitionMedia { kNoMedia, kColorMedia };

}  // namespace orv::module

// clang-format off
#define ORV_TRANSITIONS(ORV_TRANSITION)                                                           \
  ORV_TRANSITION(0, "OrvFade", "OrvFade", "FadeActor", kFadeActorId,                              \
                 FadeFields, kFadeActorOps, 0x18, 5, kNoMedia)                                    \
  ORV_TRANSITION(1, "OrvWipeUp", "OrvWipe Up", "WipeUpActor", kWipeUpActorId,                     \
                 WipeFields, kWipeUpActorOps, 0x18, 7, kNoMedia)                                  \
  ORV_TRANSITION(2, "OrvWipeDown", "OrvWipe Down", "WipeDownActor", kWipeDownActorId,             \
                 WipeFields, kWipeDownActorOps, 0x18, 7, kNoMedia)                                \
  ORV_TRANSITION(5, "OrvColor", "OrvColor", "ColorActor", kColorActorId,                          \
                 ColorFields, kColorActorOps, 0x1a, 5, kColorMedia)                               \
  ORV_TRANSITION(3, "OrvWipeLeft", "OrvWipe Left", "WipeLeftActor", kWipeLeftActorId,             \
                 HorizontalWipeFields, kWipeLeftActorOps, 0x18, 7, kNoMedia)                      \
  ORV_TRANSITION(4, "OrvWipeRight", "OrvWipe Right", "WipeRightActor", kWipeRightActorId,         \
                 HorizontalWipeFields, kWipeRightActorOps, 0x18, 7, kNoMedia)
// clang-format on
