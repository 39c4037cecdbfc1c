// The transition asset through the loaded module and the recording stand-in
// host: its index from the registry entry, the shared processor description,
// the saved media, every slot of its table and the actors it makes.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "actors/actor.h"
#include "host/member.h"
#include "host/stand_in_host.h"
#include "module/class_ids.h"
#include "tests/support/actor_classes.h"
#include "tests/support/asset_peek.h"

using namespace orv::module;
using namespace orv::actors;
using orv::actors::CpuFeatures;
using orvhost::Actor;
using orvhost::Host;
using orvhost::Member;

namespace {

constexpr int32_t kYellow = 5;
constexpr int32_t kBlackAndWhite = 6;

class AssetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(orvhost::RegisterTransitions(host), 0);
    ASSERT_EQ(host.registry.size(), static_cast<size_t>(kTransitionsKnown));
    host.calls.clear();
  }
  void TearDown() override {
    for (Member& m : members) m.Release();
    EXPECT_EQ(host.module().CanUnloadNow(), 0) << "interface objects left alive";
    EXPECT_EQ(host.liveInstances(), 0);
    EXPECT_EQ(host.liveBlocks(), 0);
    EXPECT_EQ(host.badFrees, 0);
    EXPECT_EQ(host.utilitiesAlive, 0);
  }

  // A member placed from the registry entry of index.
  Member& Place(int index) {
    Member& m = members.emplace_back();
    EXPECT_EQ(m.Place(host, *host.registry.at(static_cast<size_t>(index))), 0);
    return m;
  }

  std::unique_ptr<orvhost::Stream> StreamWith(std::vector<uint8_t> bytes) {
    auto s = host.NewStream();
    s->bytes = std::move(bytes);
    return s;
  }

  Host host;
  std::deque<Member> members;
};

// ---- placing ----

TEST_F(AssetTest, PlacedMemberReadsItsIndexFromTheEntry) {
  for (int i = 0; i < kTransitionsKnown; ++i) {
    SCOPED_TRACE("index " + std::to_string(i));
    host.calls.clear();
    Member& m = Place(i);
    EXPECT_EQ(AssetFieldsOf(m).transitionIndex, i);
    EXPECT_EQ(AssetFieldsOf(m).colorChoice, kBlackAndWhite);
    EXPECT_EQ(AssetFieldsOf(m).cpuFeatures.tested, 1);
    EXPECT_EQ(host.CallsStartingWith("Get"), std::vector<std::string>{"Get myData"});
  }
}

TEST_F(AssetTest, InitFromDictWithoutDictionaryOrKeyLeavesTheIndex) {
  Member& m = members.emplace_back();
  ASSERT_EQ(m.Create(host), 0);
  EXPECT_EQ(AssetFieldsOf(m).transitionIndex, 0) << "the index before InitFromDict";
  const auto& ops = *static_cast<const InitFromDictOps*>(m.initFromDict->ops);

  AssetFieldsOf(m).transitionIndex = kWipeLeftTransition;
  EXPECT_EQ(ops.InitFromDict(m.initFromDict, nullptr), 0);
  EXPECT_EQ(AssetFieldsOf(m).transitionIndex, 3);

  auto empty = host.NewDict();
  host.calls.clear();
  EXPECT_EQ(ops.InitFromDict(m.initFromDict, empty.get()), 0);
  EXPECT_EQ(AssetFieldsOf(m).transitionIndex, 3);
  EXPECT_EQ(host.calls, std::vector<std::string>{"Get myData"});
}

TEST_F(AssetTest, MemberReleasesBothInterfacesAndTheInstance) {
  {
    Member m;
    ASSERT_EQ(m.Place(host, *host.registry[2]), 0);
    EXPECT_EQ(host.liveInstances(), 1);
    EXPECT_NE(host.module().CanUnloadNow(), 0);
  }
  EXPECT_EQ(host.liveInstances(), 0);
  EXPECT_EQ(host.CallsStartingWith("terminate").size(), 1u);
}

TEST_F(AssetTest, PlacingFailsCleanlyWithoutMemory) {
  Member m;
  host.failAllAllocs = true;
  EXPECT_EQ(m.Place(host, *host.registry[0]), kNoMemory);
  EXPECT_EQ(m.asset, nullptr);
  host.failAllAllocs = false;
  host.failAllocAt = 2;  // the InitFromDictInterface object
  EXPECT_EQ(m.Place(host, *host.registry[0]), kNoMemory);
  EXPECT_EQ(m.asset, nullptr);
  EXPECT_EQ(m.initFromDict, nullptr);
}

// ---- the shared processor description ----

// The processor test gives mmx 0 or 1, the row walks' answer (on x86 the
// processor's own, never the ORV_SIMD cap); a pair with any other mmx value
// was copied from the asset the test writes it into.
TEST_F(AssetTest, ProcessorIsMeasuredOnceWhileTheMeasuringAssetLives) {
  Member& first = Place(0);
  const CpuFeatures measured = AssetFieldsOf(first).cpuFeatures;
  EXPECT_EQ(measured.mmx, orv::kernels::RowWalksTakeMmx() ? 1 : 0);
  EXPECT_EQ(measured.tested, 1);

  AssetFieldsOf(first).cpuFeatures.mmx = 7;  // marks the pair the next asset copies
  Member& second = Place(1);
  EXPECT_EQ(AssetFieldsOf(second).cpuFeatures.mmx, 7) << "the second asset copied the first";
  EXPECT_EQ(AssetFieldsOf(second).cpuFeatures.tested, 1);

  // The measuring asset goes: the next one measures again and becomes the
  // one that later assets copy.
  first.Release();
  Member& third = Place(2);
  EXPECT_EQ(AssetFieldsOf(third).cpuFeatures.mmx, measured.mmx) << "the third asset measured";
  AssetFieldsOf(third).cpuFeatures.mmx = 9;
  Member& fourth = Place(3);
  EXPECT_EQ(AssetFieldsOf(fourth).cpuFeatures.mmx, 9);

  // An asset that only copied leaves the shared pair where it was.
  second.Release();
  fourth.Release();
  Member& fifth = Place(4);
  EXPECT_EQ(AssetFieldsOf(fifth).cpuFeatures.mmx, 9);

  // With every asset gone the next one measures.
  third.Release();
  fifth.Release();
  Member& sixth = Place(5);
  EXPECT_EQ(AssetFieldsOf(sixth).cpuFeatures.mmx, measured.mmx);
}

// ---- media ----

TEST_F(AssetTest, ColourMemberSavesItsColourBigEndian) {
  Member& m = Place(kColorTransition);
  EXPECT_EQ(m.MediaSize(), 4);
  for (int32_t colour = 0; colour <= 6; ++colour) {
    SCOPED_TRACE("colour " + std::to_string(colour));
    AssetFieldsOf(m).colorChoice = colour;
    auto stream = host.NewStream();
    host.calls.clear();
    EXPECT_EQ(m.Save(*stream), 0);
    EXPECT_EQ(stream->bytes, (std::vector<uint8_t>{0, 0, 0, static_cast<uint8_t>(colour)}));
    EXPECT_EQ(AssetFieldsOf(m).colorChoice, colour) << "the field keeps its value";
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Open 2", "Write 4", "Close"}));
    EXPECT_FALSE(stream->open);
  }
}

TEST_F(AssetTest, YellowSavesAndLoadsAsFiveBytesOfMedia) {
  Member& saved = Place(kColorTransition);
  AssetFieldsOf(saved).colorChoice = kYellow;
  auto stream = host.NewStream();
  ASSERT_EQ(saved.Save(*stream), 0);
  EXPECT_EQ(stream->bytes, (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x05}));

  Member& loaded = Place(kColorTransition);
  EXPECT_EQ(AssetFieldsOf(loaded).colorChoice, kBlackAndWhite);
  host.calls.clear();
  EXPECT_EQ(loaded.Load(*stream), 0);
  EXPECT_EQ(AssetFieldsOf(loaded).colorChoice, kYellow);
  EXPECT_EQ(host.calls, (std::vector<std::string>{"callback.QueryInterface HostUtilities", "Open 0",
                                                  "Read 4", "Close", "Utilities.Release"}));
}

TEST_F(AssetTest, MediaKeepsEveryByteInOrder) {
  Member& m = Place(kColorTransition);
  AssetFieldsOf(m).colorChoice = 0x01020304;
  auto stream = host.NewStream();
  ASSERT_EQ(m.Save(*stream), 0);
  EXPECT_EQ(stream->bytes, (std::vector<uint8_t>{1, 2, 3, 4}));

  // A stored value outside 0..6 is taken as it comes.
  auto other = StreamWith({0x00, 0x00, 0x00, 0x09});
  EXPECT_EQ(m.Load(*other), 0);
  EXPECT_EQ(AssetFieldsOf(m).colorChoice, 9);
  auto high = StreamWith({0x80, 0x00, 0x00, 0x01});
  EXPECT_EQ(m.Load(*high), 0);
  EXPECT_EQ(AssetFieldsOf(m).colorChoice, static_cast<int32_t>(0x80000001));
}

TEST_F(AssetTest, OtherMembersHaveEmptyMedia) {
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE("index " + std::to_string(i));
    Member& m = Place(i);
    AssetFieldsOf(m).colorChoice = 2;
    EXPECT_EQ(m.MediaSize(), 0);
    auto stream = StreamWith({0xEE});
    host.calls.clear();
    EXPECT_EQ(m.Save(*stream), 0);
    EXPECT_TRUE(stream->bytes.empty());
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Open 2", "Close"}));

    auto source = StreamWith({0, 0, 0, 4});
    host.calls.clear();
    EXPECT_EQ(m.Load(*source), 0);
    EXPECT_EQ(AssetFieldsOf(m).colorChoice, 2);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"callback.QueryInterface HostUtilities",
                                                    "Open 0", "Close", "Utilities.Release"}));
  }
}

TEST_F(AssetTest, StreamThatCannotOpenIsReportedAndNotClosed) {
  Member& m = Place(kColorTransition);
  AssetFieldsOf(m).colorChoice = 3;
  auto stream = StreamWith({0, 0, 0, 1});
  stream->failOpen = static_cast<HResult>(0x80043333);
  host.calls.clear();
  EXPECT_EQ(m.Save(*stream), static_cast<HResult>(0x80043333));
  EXPECT_EQ(host.calls, std::vector<std::string>{"Open 2"});
  host.calls.clear();
  EXPECT_EQ(m.Load(*stream), static_cast<HResult>(0x80043333));
  EXPECT_EQ(host.calls, (std::vector<std::string>{"callback.QueryInterface HostUtilities", "Open 0",
                                                  "Utilities.Release"}));
  EXPECT_EQ(AssetFieldsOf(m).colorChoice, 3);
}

TEST_F(AssetTest, FailedWriteIsReportedAndTheStreamClosed) {
  Member& m = Place(kColorTransition);
  AssetFieldsOf(m).colorChoice = 4;
  auto stream = host.NewStream();
  stream->failWrite = static_cast<HResult>(0x80044444);
  host.calls.clear();
  EXPECT_EQ(m.Save(*stream), static_cast<HResult>(0x80044444));
  EXPECT_EQ(host.calls, (std::vector<std::string>{"Open 2", "Write 4", "Close"}));
  EXPECT_EQ(AssetFieldsOf(m).colorChoice, 4);
}

// The colour changes only when all four bytes arrive: a failed or short read
// leaves none of the stream's partial bytes in it.
TEST_F(AssetTest, FailedReadLeavesTheColourAsItWas) {
  Member& m = Place(kColorTransition);
  AssetFieldsOf(m).colorChoice = 2;
  auto failing = StreamWith({0x7F, 0x7F, 0x7F, 0x7F});
  failing->failRead = static_cast<HResult>(0x80045555);  // one byte arrives, then the fault
  host.calls.clear();
  EXPECT_EQ(m.Load(*failing), static_cast<HResult>(0x80045555));
  EXPECT_EQ(AssetFieldsOf(m).colorChoice, 2);
  EXPECT_EQ(host.calls, (std::vector<std::string>{"callback.QueryInterface HostUtilities", "Open 0",
                                                  "Read 4", "Close", "Utilities.Release"}));

  auto shortStream = StreamWith({0x00, 0x01});
  EXPECT_EQ(m.Load(*shortStream), orvhost::kHostFault);
  EXPECT_EQ(AssetFieldsOf(m).colorChoice, 2);
  auto empty = StreamWith({});
  EXPECT_EQ(m.Load(*empty), orvhost::kHostFault);
  EXPECT_EQ(AssetFieldsOf(m).colorChoice, 2);
}

TEST_F(AssetTest, LoadWithoutUtilitiesFailsBeforeOpening) {
  Member& m = Place(kColorTransition);
  host.refuseUtilities = true;
  auto stream = StreamWith({0, 0, 0, 1});
  host.calls.clear();
  EXPECT_EQ(m.Load(*stream), kNoInterface);
  EXPECT_EQ(host.calls, std::vector<std::string>{"callback.QueryInterface HostUtilities"});
  EXPECT_EQ(AssetFieldsOf(m).colorChoice, kBlackAndWhite);
}

// ---- the other slots ----

// The slots that only answer: what each returns, and what it writes (the
// ReportZero slots 0 through their pointer; the others nothing, not even
// through the pointers they are given).
struct AnsweringSlot {
  const char* name;
  HResult (*call)(const AssetOps& ops, InterfaceObject* self, intptr_t a, intptr_t b);
  HResult result;
  bool writesZero;
};

// One row: the slot's name, a call of it with the arguments given, its result.
// clang-format off
#define ANSWERING_SLOT(slot, result, writesZero, ...)                                    \
  AnsweringSlot{#slot,                                                                   \
                [](const AssetOps& ops, InterfaceObject* self, intptr_t a, intptr_t b) { \
                  (void)a, (void)b;                                                      \
                  return ops.slot(self __VA_OPT__(, ) __VA_ARGS__);                      \
                },                                                                       \
                result, writesZero}
// clang-format on
const AnsweringSlot kAnsweringSlots[] = {
    ANSWERING_SLOT(Unsupported3, kAssetUnsupported, false, a, b),
    ANSWERING_SLOT(Unsupported4, kAssetUnsupported, false, a, b),
    ANSWERING_SLOT(Unsupported5, kAssetUnsupportedAlt, false, a, b, a, b),
    ANSWERING_SLOT(Accept6, 0, false, a),
    ANSWERING_SLOT(Accept7, 0, false, a, b),
    ANSWERING_SLOT(Accept8, 0, false, a),
    ANSWERING_SLOT(Accept9, 0, false, a),
    ANSWERING_SLOT(Accept10, 0, false, a),
    ANSWERING_SLOT(Accept11, 0, false, a),
    ANSWERING_SLOT(Accept12, 0, false),
    ANSWERING_SLOT(ReportZero13, 0, true, reinterpret_cast<int32_t*>(a)),
    ANSWERING_SLOT(ReportZero14, 0, true, reinterpret_cast<int32_t*>(a)),
    ANSWERING_SLOT(Accept17, 0, false),
    ANSWERING_SLOT(ReportZero18, 0, true, reinterpret_cast<int32_t*>(a)),
    ANSWERING_SLOT(Accept21, 0, false, a),
    ANSWERING_SLOT(Accept23, 0, false, a, b),
    ANSWERING_SLOT(Accept26, 0, false, a, b),
    ANSWERING_SLOT(Accept27, 0, false, a, b),
    ANSWERING_SLOT(Accept28, 0, false, a, b),
};
#undef ANSWERING_SLOT

TEST_F(AssetTest, AnsweringSlotsReturnTheirCodesAndWriteNothingElse) {
  Member& m = Place(kColorTransition);
  const AssetOps& ops = m.ops();
  for (const AnsweringSlot& slot : kAnsweringSlots) {
    SCOPED_TRACE(slot.name);
    int32_t canary[2] = {0x55555555, 22};
    const orv::asset::AssetFields before = AssetFieldsOf(m);
    host.calls.clear();
    EXPECT_EQ(slot.call(ops, m.asset, reinterpret_cast<intptr_t>(&canary[0]),
                        reinterpret_cast<intptr_t>(&canary[1])),
              slot.result);
    EXPECT_EQ(canary[0], slot.writesZero ? 0 : 0x55555555);
    EXPECT_EQ(canary[1], 22);
    // Values that are no pointers: a slot that reads through them faults.
    if (!slot.writesZero) {
      EXPECT_EQ(slot.call(ops, m.asset, 0, -1), slot.result);
    }
    EXPECT_EQ(std::memcmp(&before, &AssetFieldsOf(m), sizeof before), 0);
    EXPECT_TRUE(host.calls.empty());
  }
}

TEST_F(AssetTest, SwapBytesReversesTheBytesInMemory) {
  Member& m = Place(0);
  const AssetOps& ops = m.ops();
  const uint8_t in16[2] = {0x12, 0x34};
  uint16_t v16;
  std::memcpy(&v16, in16, 2);
  const uint16_t out16 = ops.SwapBytes16(m.asset, v16);
  uint8_t got16[2];
  std::memcpy(got16, &out16, 2);
  EXPECT_EQ(got16[0], 0x34);
  EXPECT_EQ(got16[1], 0x12);

  const uint8_t in32[4] = {0x11, 0x22, 0x33, 0x44};
  uint32_t v32;
  std::memcpy(&v32, in32, 4);
  const uint32_t out32 = ops.SwapBytes32(m.asset, v32);
  uint8_t got32[4];
  std::memcpy(got32, &out32, 4);
  EXPECT_EQ(got32[0], 0x44);
  EXPECT_EQ(got32[1], 0x33);
  EXPECT_EQ(got32[2], 0x22);
  EXPECT_EQ(got32[3], 0x11);
  EXPECT_EQ(ops.SwapBytes32(m.asset, 0x80FF0001u), 0x0100FF80u);
  EXPECT_EQ(ops.SwapBytes16(m.asset, 0xFF01u), 0x01FFu);
  // The interface argument is not used.
  EXPECT_EQ(ops.SwapBytes32(nullptr, 0xA1B2C3D4u), 0xD4C3B2A1u);
}

// ---- actors ----

// The actor's fields behind its interface, by TransitionIndex.
struct ActorView {
  CpuFeatures* cpuFeatures;
  ClassInstance* asset;
};
ActorView ViewOf(const Actor& actor, int index) {
  InterfaceObject* object = actor.get();
  switch (index) {
    case kFadeTransition:
      return {FieldsOf<FadeFields>(object).cpuFeatures, FieldsOf<FadeFields>(object).asset};
    case kWipeUpTransition:
    case kWipeDownTransition:
      return {FieldsOf<WipeFields>(object).cpuFeatures, FieldsOf<WipeFields>(object).asset};
    case kColorTransition:
      return {FieldsOf<ColorFields>(object).cpuFeatures, FieldsOf<ColorFields>(object).asset};
    case kWipeLeftTransition:
    case kWipeRightTransition:
      return {FieldsOf<HorizontalWipeFields>(object).cpuFeatures,
              FieldsOf<HorizontalWipeFields>(object).asset};
    default:  // read with another actor's layout, it would look at the wrong bytes
      ADD_FAILURE() << "no fields known for index " << index;
      return {};
  }
}

TEST_F(AssetTest, MakeActorCreatesTheActorOfTheIndexWithTheAssetsSettings) {
  for (int i = 0; i < kTransitionsKnown; ++i) {
    SCOPED_TRACE("index " + std::to_string(i));
    Member& m = Place(i);
    AssetFieldsOf(m).colorChoice = 3;
    Actor actor;
    host.calls.clear();
    ASSERT_EQ(m.MakeActor(actor), 0);
    ASSERT_TRUE(actor);
    EXPECT_EQ(
        host.CallsStartingWith("CreateInstance"),
        std::vector<std::string>{"CreateInstance " + orvhost::GuidText(kActorClassOfIndex[i])});
    EXPECT_TRUE(SameGuid(host.RecordOf(actor.get()->owner)->classId, kActorClassOfIndex[i]));
    const ActorView view = ViewOf(actor, i);
    EXPECT_EQ(view.cpuFeatures, &AssetFieldsOf(m).cpuFeatures)
        << "property 11: the asset's own pair";
    EXPECT_EQ(view.asset, InstanceOf(m)) << "the actor keeps its asset";
    if (i == kColorTransition) {
      // Property 1 is copied at once: a later change does not reach the actor.
      EXPECT_EQ(FieldsOf<ColorFields>(actor.get()).colorChoice, 3);
      AssetFieldsOf(m).colorChoice = 4;
      EXPECT_EQ(FieldsOf<ColorFields>(actor.get()).colorChoice, 3);
    }
  }
}

TEST_F(AssetTest, EveryMakeActorGivesAFreshActorOnTheSamePair) {
  Member& m = Place(2);
  Actor first, second;
  ASSERT_EQ(m.MakeActor(first), 0);
  ASSERT_EQ(m.MakeActor(second), 0);
  EXPECT_NE(first.get(), second.get());
  EXPECT_NE(first.get()->owner, second.get()->owner);
  EXPECT_EQ(ViewOf(first, 2).cpuFeatures, ViewOf(second, 2).cpuFeatures);
}

// The actor reads the asset's CpuFeatures pair through its address, so the
// asset stays alive until its last actor is gone.
TEST_F(AssetTest, AssetOutlivesItsActors) {
  Member& m = Place(kColorTransition);
  ClassInstance* asset = InstanceOf(m);
  Actor actor;
  ASSERT_EQ(m.MakeActor(actor), 0);
  m.Release();
  EXPECT_EQ(host.liveInstances(), 2) << "the asset lives on with its actor";
  EXPECT_TRUE(host.CallsStartingWith("terminate").empty());
  const CpuFeatures* pair = ViewOf(actor, kColorTransition).cpuFeatures;
  EXPECT_EQ(pair->tested, 1) << "the pair is still the asset's";
  EXPECT_EQ(host.RecordOf(asset)->refs, 1);

  host.calls.clear();
  actor.Release();
  EXPECT_EQ(host.liveInstances(), 0);
  EXPECT_EQ(host.CallsStartingWith("terminate"),
            (std::vector<std::string>{"terminate " + orvhost::GuidText(kColorActorId),
                                      "terminate " + orvhost::GuidText(kTransitionAssetId)}));
}

TEST_F(AssetTest, PlacedFadeMemberPlaysToTheNewFrame) {
  Member& m = Place(0);
  auto window = host.NewSurface("window", 24, 16, 32);
  auto offscreen = host.NewSurface("offscreen", 24, 16, 32);
  for (int32_t y = 0; y < 16; ++y) {
    std::memset(window->Row(y), 0x10, static_cast<size_t>(window->rowBytes));
    std::memset(offscreen->Row(y), 0xF0, static_cast<size_t>(offscreen->rowBytes));
  }
  Actor actor;
  ASSERT_EQ(m.MakeActor(actor), 0);
  const HostRect rect{2, 3, 14, 20};
  int steps = 0;
  ASSERT_EQ(
      orvhost::Play(actor, *window, *offscreen, rect, TransitionParams{64, 100, 0, 0}, 25, &steps),
      0);
  EXPECT_GE(steps, 4);
  for (int32_t y = rect.top; y < rect.bottom; ++y)
    for (int32_t x = rect.left * 4; x < rect.right * 4; ++x)
      ASSERT_EQ(window->Row(y)[x], 0xF0) << "row " << y << " byte " << x;
  EXPECT_EQ(window->Row(0)[0], 0x10) << "outside the rectangle nothing changes";
}

TEST_F(AssetTest, RefusedActorCreationReportsAndLeavesTheOutPointer) {
  Member& m = Place(1);
  host.failCreateInstance = static_cast<HResult>(0x80046666);
  void* out = reinterpret_cast<void*>(0x1234);
  host.calls.clear();
  EXPECT_EQ(m.ops().MakeActor(m.asset, &out), kNoInterface);
  EXPECT_EQ(out, reinterpret_cast<void*>(0x1234));
  EXPECT_EQ(host.calls,
            std::vector<std::string>{"CreateInstance " + orvhost::GuidText(kWipeUpActorId)});
}

// An index that names no transition (a corrupt entry) makes no actor and reads nothing
// outside the table of actor classes.
TEST_F(AssetTest, IndexOutsideTheTransitionsMakesNoActor) {
  Member& m = Place(0);
  for (int32_t index : {6, -1, 100, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE("index " + std::to_string(index));
    AssetFieldsOf(m).transitionIndex = static_cast<TransitionIndex>(index);
    void* out = reinterpret_cast<void*>(0x1234);
    host.calls.clear();
    EXPECT_EQ(m.ops().MakeActor(m.asset, &out), kNoInterface);
    EXPECT_EQ(out, reinterpret_cast<void*>(0x1234));
    EXPECT_TRUE(host.calls.empty());
  }
  // The same through a registry entry whose "myData" is out of range.
  auto corrupt = host.NewDict();
  const int32_t seven = 7;
  corrupt->Set("myData", kDictBytes, &seven, 4);
  Member& placed = members.emplace_back();
  ASSERT_EQ(placed.Place(host, *corrupt), 0);
  Actor actor;
  EXPECT_EQ(placed.MakeActor(actor), kNoInterface);
  EXPECT_FALSE(actor);
  EXPECT_EQ(host.liveInstances(), 2) << "only the two assets";
}

}  // namespace
