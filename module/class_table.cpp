#include "module/class_table.h"

#include <array>
#include <iterator>

#include "asset/transition_asset.h"
#include "module/class_ids.h"
#include "module/transition_table.h"
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
// The registrar, the asset, then the actor classes in the transitions' order.
constexpr auto kClasses = [] {
  std::array<ClassEntry, 2 + std::size(kTransitions)> classes{
      ClassEntry{kTransitionRegistrarId, kVersion, kSize<registration::RegistrarFields>,
                 InitializeNothing, TerminateNothing, kRegistrarInterfaces},
      ClassEntry{kTransitionAssetId, kVersion, kSize<asset::AssetFields>, asset::AssetInitialize,
                 asset::AssetTerminate, kAssetInterfaces}};
  for (size_t i = 0; i < std::size(kTransitions); ++i) {
    const Transition& t = kTransitions[i];
    classes[2 + i] = {t.classId, kVersion, t.instanceSize, t.initialize, t.terminate, t.interfaces};
  }
  return classes;
}();

// Every class answers to an ID of its own: a pasted one would give two
// classes one, and the host would create the first for both.
static_assert(
    [] {
      auto same = [](const Guid& a, const Guid& b) {
        if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
        for (size_t k = 0; k < std::size(a.data4); ++k)
          if (a.data4[k] != b.data4[k]) return false;
        return true;
      };
      for (size_t i = 0; i < kClasses.size(); ++i)
        for (size_t j = i + 1; j < kClasses.size(); ++j)
          if (same(kClasses[i].classId, kClasses[j].classId)) return false;
      return true;
    }(),
    "module/class_ids.h: two classes share one ID");

// CMake counts the table's rows for the version resource.
static_assert(kTransitionCount == ORV_TRANSITION_ROWS,
              "cmake/transitions.cmake counts a row of module/transitions.h by the line that "
              "begins it with ORV_TRANSITION(");

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
