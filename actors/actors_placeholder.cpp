// Placeholder until the actors land: the base slots only.
#include "actors/actor.h"

const ActorOps kFadeActorOps{};
const ActorOps kWipeUpActorOps{};
const ActorOps kWipeDownActorOps{};
const ActorOps kColorActorOps{};
const ActorOps kWipeLeftActorOps{};
const ActorOps kWipeRightActorOps{};

// Placeholder until the actors land: the actors keep no asset reference yet.
void KeepAssetAlive(void*, ClassInstance*) {}
