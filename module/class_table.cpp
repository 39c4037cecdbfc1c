#include "module/class_table.h"

#include "actors/actor.h"
#include "asset/transition_asset.h"
#include "module/class_ids.h"
#include "registration/transition_registrar.h"

namespace orv::module {

HResult ORV_CALL InitializeNothing(ClassInstance*) { return kOk; }
void ORV_CALL TerminateNothing(ClassInstance*) {}

namespace {

template <class Fields>
constexpr int32_t kSize = static_cast<int32_t>(sizeof(Instance<Fields>));

constexpr InterfaceEntry kRegistrarInterfaces[] = {
    {kRegistrationInterfaceId, kVersion, CreateInterface<registration::kRegistrationOps>},
};
constexpr InterfaceEntry kAssetInterfaces[] = {
    {kAssetInterfaceId, kVersion, CreateInterface<asset::kAssetOps>},
    {kInitFromDictInterfaceId, kVersion, CreateInterface<asset::kInitFromDictOps>},
};
constexpr InterfaceEntry kFadeInterfaces[] = {
    {kActorInterfaceId, kVersion, CreateInterface<actors::kFadeActorOps>}};
constexpr InterfaceEntry kWipeUpInterfaces[] = {
    {kActorInterfaceId, kVersion, CreateInterface<actors::kWipeUpActorOps>}};
constexpr InterfaceEntry kWipeDownInterfaces[] = {
    {kActorInterfaceId, kVersion, CreateInterface<actors::kWipeDownActorOps>}};
constexpr InterfaceEntry kColorInterfaces[] = {
    {kActorInterfaceId, kVersion, CreateInterface<actors::kColorActorOps>}};
constexpr InterfaceEntry kWipeLeftInterfaces[] = {
    {kActorInterfaceId, kVersion, CreateInterface<actors::kWipeLeftActorOps>}};
constexpr InterfaceEntry kWipeRightInterfaces[] = {
    {kActorInterfaceId, kVersion, CreateInterface<actors::kWipeRightActorOps>}};

// Table order is not TransitionIndex order: 0, 1, 2, 5, 3, 4.
const ClassEntry kClasses[] = {
    {kTransitionRegistrarId, kVersion, kSize<registration::RegistrarFields>, InitializeNothing,
     TerminateNothing, kRegistrarInterfaces},
    {kTransitionAssetId, kVersion, kSize<asset::AssetFields>, asset::AssetInitialize,
     asset::AssetTerminate, kAssetInterfaces},
    {kFadeActorId, kVersion, kSize<actors::FadeFields>, actors::InitializeActor<actors::FadeFields>,
     actors::TerminateActor<actors::FadeFields>, kFadeInterfaces},
    {kWipeUpActorId, kVersion, kSize<actors::WipeFields>,
     actors::InitializeActor<actors::WipeFields>, actors::TerminateActor<actors::WipeFields>,
     kWipeUpInterfaces},
    {kWipeDownActorId, kVersion, kSize<actors::WipeFields>,
     actors::InitializeActor<actors::WipeFields>, actors::TerminateActor<actors::WipeFields>,
     kWipeDownInterfaces},
    {kColorActorId, kVersion, kSize<actors::ColorFields>,
     actors::InitializeActor<actors::ColorFields>, actors::TerminateActor<actors::ColorFields>,
     kColorInterfaces},
    {kWipeLeftActorId, kVersion, kSize<actors::HorizontalWipeFields>,
     actors::InitializeActor<actors::HorizontalWipeFields>,
     actors::TerminateActor<actors::HorizontalWipeFields>, kWipeLeftInterfaces},
    {kWipeRightActorId, kVersion, kSize<actors::HorizontalWipeFields>,
     actors::InitializeActor<actors::HorizontalWipeFields>,
     actors::TerminateActor<actors::HorizontalWipeFields>, kWipeRightInterfaces},
};

}  // namespace

const std::span<const ClassEntry> ClassTable = kClasses;

int ForEachClass(const Guid* filter, ClassVisitor classVisitor, InterfaceVisitor interfaceVisitor,
                 void* context) {
  for (const ClassEntry& entry : ClassTable) {
    if (filter && !SameGuid(*filter, entry.classId)) continue;
    if (classVisitor) {
      if (int stop = classVisitor(entry.classId, entry.version, entry.instanceSize,
                                  entry.initialize, entry.terminate, context))
        return stop;
    }
    if (interfaceVisitor) {
      for (const InterfaceEntry& iface : entry.interfaces) {
        if (int stop = interfaceVisitor(entry.classId, entry.version, iface.iid, iface.version,
                                        iface.create, context))
          return stop;
      }
    }
  }
  return 0;
}

}  // namespace orv::module
