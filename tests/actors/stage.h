// Test support for the actors: a stage of two host surfaces (the window and
// the offscreen image), byte copies of their pixel blocks, and an actor made
// through the loaded module and driven as the host drives it.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "actors/actor.h"
#include "host/stand_in_host.h"

namespace actors_test {

using orv::module::ActorOps;
using orv::module::FieldsOf;
using orv::module::Guid;
using orv::module::HostRect;
using orv::module::HResult;
using orv::module::InterfaceObject;
using orv::module::TransitionParams;

using orv::actors::ColorFields;
using orv::actors::CpuFeatures;
using orv::actors::FadeFields;
using orv::actors::FrameCapture;
using orv::actors::HorizontalWipeFields;
using orv::actors::WipeFields;

// The pixel block of a surface, byte for byte, with image-row addressing
// (row 0 at the top, stored last: the block is bottom-up).
struct Memory {
  int32_t width = 0, height = 0, bytesPerPixel = 0, rowBytes = 0;
  std::vector<uint8_t> bytes;

  size_t Offset(int32_t x, int32_t y) const {
    return static_cast<size_t>(height - 1 - y) * rowBytes + static_cast<size_t>(x) * bytesPerPixel;
  }
  uint32_t Get(int32_t x, int32_t y) const;
  void Set(int32_t x, int32_t y, uint32_t value);
};

Memory Snapshot(const orvhost::Surface& surface);

// Two surfaces of one size and depth.
struct Stage {
  Stage(orvhost::Host& host, int32_t width, int32_t height, int32_t depth);
  Stage(std::unique_ptr<orvhost::Surface> window, std::unique_ptr<orvhost::Surface> offscreen)
      : window(std::move(window)), offscreen(std::move(offscreen)) {}
  // Random bytes over both whole blocks, padding included; 2-byte pixels keep
  // bit 15 clear, as 5-5-5 images hold them.
  void Fill(uint32_t seed);

  std::unique_ptr<orvhost::Surface> window, offscreen;
};

// Where to compare: the first byte that differs, described for a report.
std::string FirstDifference(const Memory& expected, const orvhost::Surface& actual);

// An actor made with host.CreateInstance(classId, ActorInterface ID), released
// when it goes.
class Actor {
 public:
  Actor(orvhost::Host& host, const Guid& classId);
  ~Actor() { Release(); }
  Actor(const Actor&) = delete;
  Actor& operator=(const Actor&) = delete;

  HResult SetProperty(int32_t property, intptr_t value);
  HResult Cue(Stage& stage, const HostRect& rect, const TransitionParams& params);
  // Returns the done flag; the result code must be 0.
  int32_t Continue(Stage& stage, const HostRect& rect, const TransitionParams& params);
  HResult Finish(Stage& stage, const HostRect& rect, const TransitionParams& params);
  void Release();

  InterfaceObject* object = nullptr;
  template <class Fields>
  Fields& fields() {
    return FieldsOf<Fields>(object);
  }

 private:
  const ActorOps& ops() const { return *static_cast<const ActorOps*>(object->ops); }
};

// The actor classes, by TransitionIndex.
enum class Kind { kFade = 0, kWipeUp, kWipeDown, kWipeLeft, kWipeRight, kColor };

// How a kind plays, and so which fields its actor has.
enum class Shape {
  kFade,        // FadeFields
  kVertical,    // WipeFields: a band over the rows
  kHorizontal,  // HorizontalWipeFields: a band over the columns, a second buffer
  kColor,       // ColorFields: a fade through a one-colour copy, a second buffer
};

// Every kind the tests play, one row each in index order: every suite that
// goes over the transitions walks this list.
struct KindFacts {
  Kind kind;
  const char* name;  // in messages
  const char* id;    // in test names
  Shape shape;
};
inline constexpr KindFacts kKinds[] = {
    {Kind::kFade, "fade", "Fade", Shape::kFade},
    {Kind::kWipeUp, "wipe up", "WipeUp", Shape::kVertical},
    {Kind::kWipeDown, "wipe down", "WipeDown", Shape::kVertical},
    {Kind::kWipeLeft, "wipe left", "WipeLeft", Shape::kHorizontal},
    {Kind::kWipeRight, "wipe right", "WipeRight", Shape::kHorizontal},
    {Kind::kColor, "colour", "Color", Shape::kColor},
};
// The kinds alone, for loops that need no more.
inline constexpr auto kAllKinds = [] {
  std::array<Kind, std::size(kKinds)> kinds{};
  for (size_t i = 0; i < kinds.size(); ++i) kinds[i] = kKinds[i].kind;
  return kinds;
}();
constexpr const KindFacts& FactsOf(Kind kind) { return kKinds[static_cast<int>(kind)]; }
constexpr Shape ShapeOf(Kind kind) { return FactsOf(kind).shape; }
// Whether the actor holds a buffer besides its capture from Cue to Finish.
constexpr bool HasSecondBuffer(Kind kind) {
  return ShapeOf(kind) == Shape::kHorizontal || ShapeOf(kind) == Shape::kColor;
}

const Guid& ClassOf(Kind kind);
std::string NameOf(Kind kind);

// Calls fn with the actor's fields, of the type its kind's actor has.
template <class Fn>
decltype(auto) WithFields(Actor& actor, Kind kind, Fn&& fn) {
  switch (ShapeOf(kind)) {
    case Shape::kFade:
      return fn(actor.fields<FadeFields>());
    case Shape::kVertical:
      return fn(actor.fields<WipeFields>());
    case Shape::kHorizontal:
      return fn(actor.fields<HorizontalWipeFields>());
    case Shape::kColor:
      return fn(actor.fields<ColorFields>());
  }
  std::abort();
}

// The capture of any actor.
FrameCapture& CaptureOf(Actor& actor, Kind kind);

// Bytes the C heap holds for the program: in-use heap chunks and mapped
// blocks. A playback that frees everything brings it back where it was, give
// or take kHeapSlack: small freed chunks the heap keeps at hand for reuse
// count as in use. Every test that counts uses buffers far larger.
int64_t HeapInUse();
inline constexpr int64_t kHeapSlack = 4096;
// Under valgrind the program's blocks come from valgrind's own allocator,
// which the C heap's count does not see (valgrind checks for leaks itself).
bool UnderValgrind();
inline bool HeapCounted() { return !UnderValgrind(); }

// True under AddressSanitizer, whose allocator a lowered address-space limit
// would bring down.
bool UnderSanitizer();

// The fixture of every actor test: its host must end as it began, the module
// ready to unload, no instance or host block alive, nothing freed twice.
class LeakChecked : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(host.module().CanUnloadNow(), 0);
    EXPECT_EQ(host.liveInstances(), 0);
    EXPECT_EQ(host.liveBlocks(), 0);
    EXPECT_EQ(host.badFrees, 0);
  }

  orvhost::Host host;
};

}  // namespace actors_test
