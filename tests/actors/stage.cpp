#include "tests/actors/stage.h"

#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <sstream>

#include "module/class_ids.h"
#include "tests/support/actor_classes.h"

using namespace orv::module;

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's own count of the blocks its allocator gave out.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace actors_test {

uint32_t Memory::Get(int32_t x, int32_t y) const {
  uint32_t v = 0;
  std::memcpy(&v, bytes.data() + Offset(x, y), static_cast<size_t>(bytesPerPixel));
  return v;
}

void Memory::Set(int32_t x, int32_t y, uint32_t value) {
  std::memcpy(bytes.data() + Offset(x, y), &value, static_cast<size_t>(bytesPerPixel));
}

Memory Snapshot(const orvhost::Surface& s) {
  Memory m;
  m.width = s.width;
  m.height = s.height;
  m.bytesPerPixel = s.header.biBitCount / 8;
  m.rowBytes = s.rowBytes;
  m.bytes.assign(s.pixels, s.pixels + static_cast<size_t>(s.rowBytes) * s.height);
  return m;
}

Stage::Stage(orvhost::Host& host, int32_t width, int32_t height, int32_t depth)
    : window(host.NewSurface("window", width, height, depth)),
      offscreen(host.NewSurface("offscreen", width, height, depth)) {}

void Stage::Fill(uint32_t seed) {
  std::mt19937 random(seed);
  for (orvhost::Surface* s : {window.get(), offscreen.get()}) {
    const size_t n = static_cast<size_t>(s->rowBytes) * s->height;
    for (size_t i = 0; i < n; ++i) s->pixels[i] = static_cast<uint8_t>(random());
    if (s->header.biBitCount == 16)
      for (size_t i = 1; i < n; i += 2) s->pixels[i] &= 0x7F;
  }
}

std::string FirstDifference(const Memory& expected, const orvhost::Surface& actual) {
  const size_t n = expected.bytes.size();
  for (size_t i = 0; i < n; ++i) {
    if (expected.bytes[i] == actual.pixels[i]) continue;
    const size_t memoryRow = i / static_cast<size_t>(expected.rowBytes);
    const size_t inRow = i % static_cast<size_t>(expected.rowBytes);
    std::ostringstream out;
    out << actual.name << ": byte " << i << " (image row " << expected.height - 1 - memoryRow
        << ", column " << inRow / static_cast<size_t>(expected.bytesPerPixel) << ", byte "
        << inRow % static_cast<size_t>(expected.bytesPerPixel) << ") is " << int{actual.pixels[i]}
        << ", expected " << int{expected.bytes[i]};
    return out.str();
  }
  return {};
}

Actor::Actor(orvhost::Host& host, const Guid& classId) {
  void* out = nullptr;
  if (host.CreateInstance(classId, orv::module::kActorInterfaceId, &out) == 0)
    object = static_cast<InterfaceObject*>(out);
}

HResult Actor::SetProperty(int32_t property, intptr_t value) {
  return ops().SetProperty(object, property, value);
}

HResult Actor::Cue(Stage& stage, const HostRect& rect, const TransitionParams& params) {
  return ops().Cue(object, stage.window.get(), stage.offscreen.get(), &rect, &params);
}

int32_t Actor::Continue(Stage& stage, const HostRect& rect, const TransitionParams& params) {
  int32_t done = -1;
  const HResult rc =
      ops().Continue(object, stage.window.get(), stage.offscreen.get(), &rect, &params, &done);
  return rc == 0 ? done : -2;
}

HResult Actor::Finish(Stage& stage, const HostRect& rect, const TransitionParams& params) {
  return ops().Finish(object, stage.window.get(), stage.offscreen.get(), &rect, &params);
}

void Actor::Release() {
  if (object) ops().Release(object);
  object = nullptr;
}

static_assert(
    [] {
      for (size_t i = 0; i < std::size(kKinds); ++i)
        if (static_cast<size_t>(kKinds[i].kind) != i) return false;
      return std::size(kKinds) == static_cast<size_t>(kTransitionsKnown);
    }(),
    "kKinds: a row for every transition the tests know, in index order");

const Guid& ClassOf(Kind kind) { return kActorClassOfIndex[static_cast<int>(kind)]; }

std::string NameOf(Kind kind) { return FactsOf(kind).name; }

FrameCapture& CaptureOf(Actor& actor, Kind kind) {
  return WithFields(actor, kind, [](auto& f) -> FrameCapture& { return f.capture; });
}

int64_t HeapInUse() {
#if defined(_WIN32)
  // The module and this program share the C runtime DLL's heap.
  _HEAPINFO entry{};
  int64_t total = 0;
  while (_heapwalk(&entry) == _HEAPOK)
    if (entry._useflag == _USEDENTRY) total += static_cast<int64_t>(entry._size);
  return total;
#elif defined(__SANITIZE_ADDRESS__)
  return static_cast<int64_t>(__sanitizer_get_current_allocated_bytes());
#elif defined(__EMSCRIPTEN__)
  // Its allocator answers the older form only, with the same in-use count.
  const struct mallinfo info = mallinfo();
  return static_cast<int64_t>(info.uordblks) + info.hblkhd;
#else
  const struct mallinfo2 info = mallinfo2();
  return static_cast<int64_t>(info.uordblks + info.hblkhd);
#endif
}

bool UnderValgrind() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload && std::strstr(preload, "vgpreload");
}

bool UnderSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#endif
#endif
  return false;
}

}  // namespace actors_test
