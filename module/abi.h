// The binary conventions shared by the module and its host: calling
// convention, result codes, class and interface IDs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Every export and interface operation uses the platform's component-model
// calling convention: __stdcall on 32-bit x86 (Linux too, so that the 32-bit
// test build exercises the same convention), the platform default elsewhere.
#if defined(__i386__) || defined(_M_IX86)
#define ORV_CALL __attribute__((stdcall))
#else
#define ORV_CALL
#endif

#if defined(_WIN32)
#define ORV_EXPORT extern "C"
#else
#define ORV_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Layout checks that hold only where pointers are 32 bits wide, i.e. on the
// real target. Elsewhere pointer-sized words widen the records.
#define ORV_LAYOUT32(cond, what) static_assert(sizeof(void*) != 4 || (cond), what)

namespace orv::module {

using HResult = int32_t;

inline constexpr HResult kOk = 0;
inline constexpr HResult kResourceMissing = static_cast<HResult>(0x80040001);
inline constexpr HResult kNoMemory = static_cast<HResult>(0x80040002);
inline constexpr HResult kStillInUse = static_cast<HResult>(0x80040003);
inline constexpr HResult kNoInterface = static_cast<HResult>(0x80040004);
inline constexpr HResult kNoClass = static_cast<HResult>(0x80040005);
inline constexpr HResult kAssetUnsupported = static_cast<HResult>(0x800407D5);
inline constexpr HResult kAssetUnsupportedAlt = static_cast<HResult>(0x800407DF);

inline constexpr uint32_t kVersion = 0x01000040;

// 16-byte GUID in the standard binary layout.
struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
static_assert(sizeof(Guid) == 16);

// Equal when all 16 bytes are equal; compared as four 32-bit words.
inline bool SameGuid(const Guid& a, const Guid& b) {
  uint32_t x[4], y[4];
  std::memcpy(x, &a, 16);
  std::memcpy(y, &b, 16);
  return x[0] == y[0] && x[1] == y[1] && x[2] == y[2] && x[3] == y[3];
}

// Builds a Guid from its text form's numbers: {d1-d2-d3-d4a-d4b}, where d4a is
// the 16-bit group and d4b the trailing 48 bits.
constexpr Guid MakeGuid(uint32_t d1, uint16_t d2, uint16_t d3, uint16_t d4a, uint64_t d4b) {
  return Guid{
      d1,
      d2,
      d3,
      {static_cast<uint8_t>(d4a >> 8), static_cast<uint8_t>(d4a), static_cast<uint8_t>(d4b >> 40),
       static_cast<uint8_t>(d4b >> 32), static_cast<uint8_t>(d4b >> 24),
       static_cast<uint8_t>(d4b >> 16), static_cast<uint8_t>(d4b >> 8), static_cast<uint8_t>(d4b)}};
}

}  // namespace orv::module
