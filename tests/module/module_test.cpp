// The module frame through the loaded module file: the class table as the
// host reads it, the five exports, and the interface objects' reference
// counting as the host's instances see it.
#include <gtest/gtest.h>

#include <new>
#include <vector>

#include "asset/transition_asset.h"
#include "host/stand_in_host.h"
#include "module/class_ids.h"
#include "module/class_table.h"
#include "registration/transition_registrar.h"
#include "tests/support/actor_classes.h"

using namespace orv::module;
using orvhost::Host;

namespace {

struct Expected {
  Guid classId;
  Guid iid;
  uint32_t iidVersion;
};

// The table as the host must see it: each class, then its interfaces.
std::vector<Expected> ExpectedRecords() {
  std::vector<Expected> out;
  auto add_class = [&](const Guid& c, std::initializer_list<Guid> interfaces) {
    out.push_back({c, kClassRecordId, 1});
    for (const Guid& i : interfaces) out.push_back({c, i, kVersion});
  };
  add_class(kTransitionRegistrarId, {kRegistrationInterfaceId});
  add_class(kTransitionAssetId, {kAssetInterfaceId, kInitFromDictInterfaceId});
  add_class(kFadeActorId, {kActorInterfaceId});
  add_class(kWipeUpActorId, {kActorInterfaceId});
  add_class(kWipeDownActorId, {kActorInterfaceId});
  add_class(kColorActorId, {kActorInterfaceId});
  add_class(kWipeLeftActorId, {kActorInterfaceId});
  add_class(kWipeRightActorId, {kActorInterfaceId});
  return out;
}

uint32_t Release(void* object) {
  return BaseOpsOf(object).Release(static_cast<InterfaceObject*>(object));
}
uint32_t AddRef(void* object) {
  return BaseOpsOf(object).AddRef(static_cast<InterfaceObject*>(object));
}

class ModuleTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(host.module().CanUnloadNow(), 0) << "interface objects left alive";
    EXPECT_EQ(host.liveInstances(), 0);
    EXPECT_EQ(host.liveBlocks(), 0);
    EXPECT_EQ(host.badFrees, 0);
  }
  Host host;
};

TEST_F(ModuleTest, ClassInfoListsEveryClassAndInterfaceInTableOrder) {
  ClassInterfaceRecord* records = nullptr;
  host.calls.clear();
  ASSERT_EQ(host.module().GetClassInfo(host.allocator(), &records), 0);
  ASSERT_NE(records, nullptr);
  // 17 records and a terminator, 40 bytes each.
  EXPECT_EQ(host.calls, std::vector<std::string>{"Alloc 720"});

  const std::vector<Expected> expected = ExpectedRecords();
  ASSERT_EQ(expected.size(), 17u);
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i + 1));
    EXPECT_TRUE(SameGuid(records[i].classId, expected[i].classId));
    EXPECT_EQ(records[i].classVersion, kVersion);
    EXPECT_TRUE(SameGuid(records[i].iid, expected[i].iid));
    EXPECT_EQ(records[i].iidVersion, expected[i].iidVersion);
  }
  const Guid zero{};
  EXPECT_TRUE(SameGuid(records[17].classId, zero));
  EXPECT_TRUE(SameGuid(records[17].iid, zero));
  host.allocator()->ops->Free(host.allocator(), records);
}

TEST_F(ModuleTest, ClassInfoWithFailingAllocatorLeavesNull) {
  host.failAllAllocs = true;
  auto* records = reinterpret_cast<ClassInterfaceRecord*>(0x1234);
  EXPECT_EQ(host.module().GetClassInfo(host.allocator(), &records), kNoMemory);
  EXPECT_EQ(records, nullptr);
}

TEST_F(ModuleTest, ClassFormReportsSizesAndOperations) {
  int32_t size = 0;
  InitializeOp init = nullptr, registrarInit = nullptr;
  TerminateOp term = nullptr, registrarTerm = nullptr;
  ASSERT_EQ(
      host.module().GetClassForm(&kTransitionRegistrarId, &size, &registrarInit, &registrarTerm),
      0);
  EXPECT_EQ(size, static_cast<int32_t>(sizeof(Instance<orv::registration::RegistrarFields>)));
  if (sizeof(void*) == 4) {
    EXPECT_EQ(size, 28);
  }

  ASSERT_EQ(host.module().GetClassForm(&kTransitionAssetId, &size, &init, &term), 0);
  EXPECT_EQ(size, static_cast<int32_t>(sizeof(Instance<orv::asset::AssetFields>)));
  EXPECT_NE(init, registrarInit) << "the asset has its own initialise operation";
  EXPECT_NE(term, registrarTerm) << "the asset has its own terminate operation";

  // The shared "none" pair: initialise returns 0 and leaves the block alone.
  std::vector<uint8_t> block(64, 0xAB);
  EXPECT_EQ(registrarInit(reinterpret_cast<ClassInstance*>(block.data())), 0);
  registrarTerm(reinterpret_cast<ClassInstance*>(block.data()));
  EXPECT_EQ(block, std::vector<uint8_t>(64, 0xAB));

  for (const Guid& actor : kActorClassOfIndex)
    EXPECT_EQ(host.module().GetClassForm(&actor, &size, &init, &term), 0);
}

TEST_F(ModuleTest, ClassFormForUnknownClassWritesNothing) {
  const Guid unknown = MakeGuid(0x12345678, 1, 2, 3, 4);
  int32_t size = -7;
  InitializeOp init = reinterpret_cast<InitializeOp>(0x10);
  TerminateOp term = reinterpret_cast<TerminateOp>(0x20);
  EXPECT_EQ(host.module().GetClassForm(&unknown, &size, &init, &term), kNoClass);
  EXPECT_EQ(size, -7);
  EXPECT_EQ(init, reinterpret_cast<InitializeOp>(0x10));
  EXPECT_EQ(term, reinterpret_cast<TerminateOp>(0x20));
}

TEST_F(ModuleTest, ClassFormWithNullIdReportsFirstClass) {
  int32_t size = 0, registrarSize = 0;
  InitializeOp init = nullptr, registrarInit = nullptr;
  TerminateOp term = nullptr, registrarTerm = nullptr;
  ASSERT_EQ(host.module().GetClassForm(nullptr, &size, &init, &term), 0);
  ASSERT_EQ(host.module().GetClassForm(&kTransitionRegistrarId, &registrarSize, &registrarInit,
                                       &registrarTerm),
            0);
  EXPECT_EQ(size, registrarSize);
  EXPECT_EQ(init, registrarInit);
  EXPECT_EQ(term, registrarTerm);
}

TEST_F(ModuleTest, GetInterfaceMatchesClassAndInterface) {
  ClassInstance* asset = host.NewInstance(kTransitionAssetId);
  ASSERT_NE(asset, nullptr);
  void* out = reinterpret_cast<void*>(0x77);
  EXPECT_EQ(host.module().GetInterface(asset, &kTransitionAssetId, &kActorInterfaceId, &out),
            kNoInterface);
  EXPECT_EQ(out, reinterpret_cast<void*>(0x77));

  // The asset's second interface, not its first.
  void* assetIface = nullptr;
  void* initIface = nullptr;
  ASSERT_EQ(host.module().GetInterface(asset, &kTransitionAssetId, &kAssetInterfaceId, &assetIface),
            0);
  ASSERT_EQ(
      host.module().GetInterface(asset, &kTransitionAssetId, &kInitFromDictInterfaceId, &initIface),
      0);
  void* assetAgain = nullptr;
  ASSERT_EQ(host.module().GetInterface(asset, &kTransitionAssetId, &kAssetInterfaceId, &assetAgain),
            0);
  auto opsOf = [](void* p) { return static_cast<InterfaceObject*>(p)->ops; };
  EXPECT_NE(opsOf(initIface), opsOf(assetIface));
  EXPECT_EQ(opsOf(assetAgain), opsOf(assetIface));
  Release(assetAgain);
  EXPECT_EQ(static_cast<InterfaceObject*>(initIface)->owner, asset);
  Release(assetIface);
  Release(initIface);
  host.DropInstance(asset);
}

TEST_F(ModuleTest, EveryActorClassBuildsItsActorInterface) {
  for (const Guid& actorClass : kActorClassOfIndex) {
    void* actor = nullptr;
    ASSERT_EQ(host.CreateInstance(actorClass, kActorInterfaceId, &actor), 0);
    ASSERT_NE(actor, nullptr);
    auto* object = static_cast<InterfaceObject*>(actor);
    EXPECT_EQ(object->refCount, 1);
    EXPECT_EQ(host.module().CanUnloadNow(), kStillInUse);
    EXPECT_EQ(Release(actor), 0u);
    EXPECT_EQ(host.module().CanUnloadNow(), 0);
  }
}

TEST_F(ModuleTest, ClassObjectIsNeverOffered) {
  int dummy = 0;
  EXPECT_EQ(host.module().GetClassObject(nullptr, nullptr, nullptr), kNoClass);
  EXPECT_EQ(host.module().GetClassObject(&dummy, &dummy, &dummy), kNoClass);
}

// Reference counting, seen from the owning instance and the allocator.
class InterfaceObjectTest : public ModuleTest {
 protected:
  void SetUp() override {
    owner = host.NewInstance(kTransitionRegistrarId);
    ASSERT_NE(owner, nullptr);
    record = host.RecordOf(owner);
    host.calls.clear();
  }
  void* Create() {
    void* object = nullptr;
    EXPECT_EQ(host.module().GetInterface(owner, &kTransitionRegistrarId, &kRegistrationInterfaceId,
                                         &object),
              0);
    return object;
  }
  ClassInstance* owner = nullptr;
  Host::InstanceRecord* record = nullptr;
};

TEST_F(InterfaceObjectTest, CreateThenReleaseBalancesOwnerAndAllocator) {
  void* object = Create();
  ASSERT_NE(object, nullptr);
  const std::string alloc = "Alloc " + std::to_string(sizeof(InterfaceObject));
  EXPECT_EQ(host.calls, (std::vector<std::string>{alloc, "instance.AddRef", "instance.AddRef"}));
  EXPECT_EQ(host.liveBlocks(), 1);
  EXPECT_EQ(host.module().CanUnloadNow(), kStillInUse);
  EXPECT_EQ(static_cast<InterfaceObject*>(object)->owner, owner);

  host.calls.clear();
  EXPECT_EQ(Release(object), 0u);
  EXPECT_EQ(host.calls, (std::vector<std::string>{"Free", "instance.Release", "instance.Release"}));
  EXPECT_EQ(record->addRefs, 2);
  EXPECT_EQ(record->releases, 2);
  EXPECT_EQ(host.liveBlocks(), 0);
  EXPECT_EQ(host.module().CanUnloadNow(), 0);
  host.DropInstance(owner);
}

TEST_F(InterfaceObjectTest, AddRefAndReleaseForwardToOwner) {
  void* object = Create();
  EXPECT_EQ(AddRef(object), 2u);
  EXPECT_EQ(record->addRefs, 3);
  host.calls.clear();
  EXPECT_EQ(Release(object), 1u);
  EXPECT_EQ(host.calls, std::vector<std::string>{"instance.Release"});
  EXPECT_EQ(host.liveBlocks(), 1);
  // The last release: the owner sees as many releases as add-refs.
  EXPECT_EQ(Release(object), 0u);
  EXPECT_EQ(record->releases, record->addRefs);
  host.DropInstance(owner);
}

TEST_F(InterfaceObjectTest, LastReleaseReachesOwnerAfterFree) {
  // The freed block is poisoned by the host; reading the owner from it
  // afterwards would send the two owner releases elsewhere.
  void* object = Create();
  host.DropInstance(owner);  // the object alone keeps the owner alive now
  host.calls.clear();
  EXPECT_EQ(Release(object), 0u);
  EXPECT_EQ(host.calls,
            (std::vector<std::string>{"Free", "instance.Release", "instance.Release",
                                      "terminate " + orvhost::GuidText(kTransitionRegistrarId)}));
  EXPECT_EQ(host.liveInstances(), 0);
}

TEST_F(InterfaceObjectTest, FailingAllocationTouchesNothing) {
  host.failAllAllocs = true;
  void* object = reinterpret_cast<void*>(0x99);
  EXPECT_EQ(host.module().GetInterface(owner, &kTransitionRegistrarId, &kRegistrationInterfaceId,
                                       &object),
            kNoMemory);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(host.calls,
            std::vector<std::string>{"Alloc " + std::to_string(sizeof(InterfaceObject))});
  EXPECT_EQ(record->addRefs, 0);
  EXPECT_EQ(host.module().CanUnloadNow(), 0);
  host.DropInstance(owner);
}

int newHandlerCalls = 0;

TEST_F(InterfaceObjectTest, FailingAllocationConsultsTheRuntimesHandler) {
#if defined(_WIN32)
  // On Windows the module links its own C++ runtime, whose handler no other
  // program can install; there a failing Alloc fails at once (see above).
  host.DropInstance(owner);
  GTEST_SKIP() << "the module's runtime is not this program's";
#endif
  // The runtime's out-of-memory handler is asked once, then Alloc is retried.
  host.failAllocAt = 1;
  newHandlerCalls = 0;
  std::new_handler previous = std::set_new_handler([] { ++newHandlerCalls; });
  void* object = Create();
  std::set_new_handler(previous);
  EXPECT_NE(object, nullptr);
  EXPECT_EQ(newHandlerCalls, 1);
  EXPECT_EQ(host.CallsStartingWith("Alloc").size(), 2u);
  Release(object);
  host.DropInstance(owner);
}

// A handler that throws, as the standard one may: the creation fails with the
// out-of-memory code instead of unwinding through the host's call.
TEST_F(InterfaceObjectTest, ThrowingHandlerGivesOutOfMemory) {
#if defined(_WIN32)
  host.DropInstance(owner);
  GTEST_SKIP() << "the module's runtime is not this program's";
#endif
  host.failAllAllocs = true;
  const std::new_handler throwers[] = {[] { throw std::bad_alloc(); }, [] { throw 42; }};
  for (std::new_handler thrower : throwers) {
    host.calls.clear();
    std::new_handler previous = std::set_new_handler(thrower);
    void* object = reinterpret_cast<void*>(0x99);
    const HResult rc = host.module().GetInterface(owner, &kTransitionRegistrarId,
                                                  &kRegistrationInterfaceId, &object);
    std::set_new_handler(previous);
    EXPECT_EQ(rc, kNoMemory);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(host.CallsStartingWith("Alloc").size(), 1u);
    EXPECT_EQ(record->addRefs, 0);
  }
  EXPECT_EQ(host.module().CanUnloadNow(), 0);
  host.DropInstance(owner);
}

TEST_F(InterfaceObjectTest, QueryInterfaceIsAnsweredByTheOwner) {
  void* object = Create();
  host.calls.clear();
  void* other = nullptr;
  const BaseOps& ops = BaseOpsOf(object);
  ASSERT_EQ(
      ops.QueryInterface(static_cast<InterfaceObject*>(object), &kRegistrationInterfaceId, &other),
      0);
  // Even for its own interface the owner decides, and builds a new object.
  EXPECT_EQ(host.calls.front(),
            "instance.QueryInterface " + orvhost::GuidText(kRegistrationInterfaceId));
  EXPECT_NE(other, object);
  void* none = reinterpret_cast<void*>(0x55);
  EXPECT_EQ(ops.QueryInterface(static_cast<InterfaceObject*>(object), &kAssetInterfaceId, &none),
            kNoInterface);
  EXPECT_EQ(none, reinterpret_cast<void*>(0x55));
  Release(other);
  Release(object);
  host.DropInstance(owner);
}

}  // namespace
