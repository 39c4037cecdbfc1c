#include "kernel_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#elif defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace kt {

uint64_t Seed() {
  static const uint64_t seed = []() -> uint64_t {
    if (const char* text = std::getenv("ORV_TEST_SEED")) return std::strtoull(text, nullptr, 0);
    return (static_cast<uint64_t>(std::random_device{}()) << 32) ^ std::random_device{}();
  }();
  return seed;
}

std::string SeedNote() { return "ORV_TEST_SEED=" + std::to_string(Seed()); }

bool Quick() {
  static const bool quick = std::getenv("ORV_TEST_QUICK") != nullptr;
  return quick;
}

int Cases(int normal) { return Quick() ? (normal + 7) / 8 : normal; }

Rng::Rng(uint64_t salt) : engine_(Seed() ^ (salt * 0x9E3779B97F4A7C15ull)) {}

int Rng::Between(int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(engine_);
}

void Rng::Fill(uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(engine_() >> 56);
}

GuardedBytes::GuardedBytes(size_t size) : size_(size) {
#if defined(_WIN32)
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const size_t page = info.dwPageSize;
  const size_t usable = (size + page - 1) / page * page;
  mappingSize_ = usable + page;
  mapping_ = VirtualAlloc(nullptr, mappingSize_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (mapping_ != nullptr) {
    DWORD old;
    VirtualProtect(static_cast<uint8_t*>(mapping_) + usable, page, PAGE_NOACCESS, &old);
    data_ = static_cast<uint8_t*>(mapping_) + usable - size;
    return;
  }
#elif defined(__unix__) || defined(__APPLE__)
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t usable = (size + page - 1) / page * page;
  mappingSize_ = usable + page;
  void* mapping =
      mmap(nullptr, mappingSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping != MAP_FAILED) {
    mapping_ = mapping;
    mprotect(static_cast<uint8_t*>(mapping_) + usable, page, PROT_NONE);
    data_ = static_cast<uint8_t*>(mapping_) + usable - size;
    return;
  }
#endif
  fallback_.resize(size + 1);
  data_ = fallback_.data();
}

GuardedBytes::~GuardedBytes() {
#if defined(_WIN32)
  if (mapping_ != nullptr) VirtualFree(mapping_, 0, MEM_RELEASE);
#elif defined(__unix__) || defined(__APPLE__)
  if (mapping_ != nullptr) munmap(mapping_, mappingSize_);
#endif
}

namespace {

constexpr ptrdiff_t kGuard = 48;

ptrdiff_t TargetSpan(const Shape& s, ptrdiff_t rowLength) {
  if (s.rows <= 0 || rowLength <= 0) return 0;
  return static_cast<ptrdiff_t>(s.rows - 1) * s.rowBytes + rowLength;
}

size_t SourceSize(const Shape& s) {
  const ptrdiff_t bytes = static_cast<ptrdiff_t>(s.rows) * s.columns * s.bytesPerPixel;
  return bytes > 0 ? static_cast<size_t>(bytes) : 0;
}

}  // namespace

Scene::Scene(Rng& rng, const Shape& shape, int32_t targetMisalign)
    : shape_(shape),
      rowLength_(static_cast<ptrdiff_t>(shape.columns) * shape.bytesPerPixel),
      start_(SourceSize(shape)),
      end_(SourceSize(shape)) {
  rng.Fill(start_.data(), start_.size());
  rng.Fill(end_.data(), end_.size());
  startCopy_.assign(start_.data(), start_.data() + start_.size());
  endCopy_.assign(end_.data(), end_.data() + end_.size());
  origin_ = kGuard + targetMisalign;
  initialTarget_.resize(static_cast<size_t>(origin_ + TargetSpan(shape, rowLength_) + kGuard));
  rng.Fill(initialTarget_.data(), initialTarget_.size());
  target_ = initialTarget_;
}

FrameCapture Scene::Capture() const {
  FrameCapture c{};
  c.startPixels = start_.data();
  c.endPixels = end_.data();
  c.targetPixels = const_cast<uint8_t*>(target_.data()) + origin_;
  c.bytesPerPixel = shape_.bytesPerPixel;
  c.rowBytes = shape_.rowBytes;
  c.depth = shape_.depth;
  c.captureRows = shape_.rows;
  c.captureColumns = shape_.columns;
  return c;
}

FrameCapture Scene::CaptureOver(std::vector<uint8_t>& expected) const {
  FrameCapture c = Capture();
  c.targetPixels = expected.data() + origin_;
  return c;
}

void Scene::AcceptSources() {
  startCopy_.assign(start_.data(), start_.data() + start_.size());
  endCopy_.assign(end_.data(), end_.data() + end_.size());
}

testing::AssertionResult Scene::Check(const std::vector<uint8_t>& expected) const {
  testing::AssertionResult target =
      SameBytes("target", expected, target_.data(), origin_, shape_.rowBytes);
  if (!target) return target;
  testing::AssertionResult start = SameBytes("start frame", startCopy_, start_.data(), 0, 0);
  if (!start) return start;
  return SameBytes("end frame", endCopy_, end_.data(), 0, 0);
}

testing::AssertionResult SameBytes(const char* what, const std::vector<uint8_t>& expected,
                                   const uint8_t* actual, ptrdiff_t origin, int32_t rowBytes) {
  size_t first = expected.size();
  size_t count = 0;
  for (size_t i = 0; i < expected.size(); ++i) {
    if (expected[i] != actual[i]) {
      if (count++ == 0) first = i;
    }
  }
  if (count == 0) return testing::AssertionSuccess();
  const ptrdiff_t offset = static_cast<ptrdiff_t>(first) - origin;
  std::string where;
  if (offset < 0) {
    where = std::to_string(-offset) + " bytes before the first row";
  } else if (rowBytes > 0) {
    where =
        "row " + std::to_string(offset / rowBytes) + ", byte " + std::to_string(offset % rowBytes);
  } else {
    where = "byte " + std::to_string(offset);
  }
  char values[64];
  std::snprintf(values, sizeof values, "expected 0x%02X, got 0x%02X", expected[first],
                actual[first]);
  return testing::AssertionFailure() << what << ": first difference at " << where << " (" << values
                                     << "), " << count << " bytes differ; " << SeedNote();
}

bool IsSixteenBit(Form form) {
  return form == Form::kFadeRows16 || form == Form::kFadeRows16Mmx || form == Form::kBandRows16Mmx;
}

uint32_t MixField(uint32_t a, uint32_t b, uint32_t w, uint32_t scale) {
  return (a * (scale - w) + b * w) / scale;
}

uint16_t Mix555(uint16_t a, uint16_t b, uint32_t w, uint32_t scale) {
  uint32_t out = 0;
  for (int field = 0; field < 3; ++field) {
    const int shift = 5 * field;
    out |= MixField((a >> shift) & 31u, (b >> shift) & 31u, w, scale) << shift;
  }
  return static_cast<uint16_t>(out);
}

void ReferenceFade(Form form, const FrameCapture& c, int32_t weight) {
  const ptrdiff_t length = static_cast<ptrdiff_t>(c.captureColumns) * c.bytesPerPixel;
  ptrdiff_t sourceRow = length;
  ptrdiff_t mixed = 0;  // whole steps of the form
  switch (form) {
    case Form::kFadeRows16:
      sourceRow = 2 * static_cast<ptrdiff_t>(c.captureColumns);
      mixed = (c.captureColumns / 2) * 4;
      break;
    case Form::kFadeRows32:
      mixed = length / 4 * 4;
      break;
    default:
      mixed = length / 8 * 8;
      break;
  }
  const uint32_t w = static_cast<uint32_t>(weight);
  for (int32_t r = 0; r < c.captureRows; ++r) {
    const uint8_t* a = c.startPixels + r * sourceRow;
    const uint8_t* b = c.endPixels + r * sourceRow;
    uint8_t* out = c.targetPixels + static_cast<ptrdiff_t>(r) * c.rowBytes;
    if (form == Form::kFadeRows16) {
      for (ptrdiff_t k = 0; k + 2 <= mixed; k += 2) {
        Store16(out + k, Mix555(Load16(a + k), Load16(b + k), w >> 3, 32));
      }
    } else if (form == Form::kFadeRows16Mmx) {
      for (ptrdiff_t k = 0; k + 2 <= mixed; k += 2) {
        Store16(out + k, Mix555(Load16(a + k), Load16(b + k), w, 256));
      }
    } else {
      for (ptrdiff_t k = 0; k < mixed; ++k) {
        out[k] = static_cast<uint8_t>(MixField(a[k], b[k], w, 256));
      }
    }
  }
}

void ReferenceBand(Form form, const FrameCapture& c, int32_t bandHeight, int32_t bandPosition,
                   int32_t bandSelector) {
  const bool fields555 = form == Form::kBandRows16Mmx || (form == Form::kBandRows && c.depth < 24);
  const ptrdiff_t length = static_cast<ptrdiff_t>(c.captureColumns) * c.bytesPerPixel;
  for (int32_t r = 0; r < c.captureRows; ++r) {
    const int64_t i = static_cast<int64_t>(r) - bandPosition;
    if (i < 0 || i > bandHeight) continue;
    const uint32_t m = static_cast<uint32_t>(std::min<int64_t>(i >> bandSelector, 32));
    const uint8_t* a = c.startPixels + r * length;
    const uint8_t* b = c.endPixels + r * length;
    uint8_t* out = c.targetPixels + static_cast<ptrdiff_t>(r) * c.rowBytes;
    if (fields555) {
      for (ptrdiff_t k = 0; k + 2 <= length; k += 2) {
        Store16(out + k, Mix555(Load16(b + k), Load16(a + k), m, 32));
      }
    } else {
      for (ptrdiff_t k = 0; k < length; ++k) {
        out[k] = static_cast<uint8_t>(MixField(b[k], a[k], m, 32));
      }
    }
  }
}

void ForEachKernelSet(const std::function<void(const orv::kernels::KernelSet&)>& body) {
  struct Restore {
    ~Restore() { orv::kernels::UseKernelSet(nullptr); }
  } restore;
  for (const orv::kernels::KernelSet* set : orv::kernels::RunnableKernelSets()) {
    orv::kernels::UseKernelSet(set);
    body(*set);
  }
}

uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

void Store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

}  // namespace kt
