// Reads a fuzz input as a stream of typed values; past the end every value
// is 0, so any prefix of an input is an input too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <vector>

#include "host/member.h"
#include "host/stand_in_host.h"

using orv::module::HostUtilities;

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool empty() const { return pos_ >= size_; }

  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }

  // The next sizeof(T) bytes, least significant first.
  template <class T>
  T Raw() {
    std::make_unsigned_t<T> value = 0;
    for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<decltype(value)>(Byte()) << 8 * i;
    return static_cast<T>(value);
  }

  // Mostly values in [-small, small] (small below 2^30), sometimes any 32-bit value.
  int32_t Int(int32_t small) {
    const uint8_t how = Byte();
    if (how < 200) {
      const uint32_t raw = small < (1 << 15) ? Raw<uint16_t>() : Raw<uint32_t>();
      return static_cast<int32_t>(raw % static_cast<uint32_t>(2 * small + 1)) - small;
    }
    if (how < 230) return Raw<int32_t>();
    static const int32_t kEdges[] = {0, 1, -1, INT32_MAX, INT32_MIN, INT32_MAX - 1, 1 << 16};
    return kEdges[how % (sizeof kEdges / sizeof kEdges[0])];
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// A failed expectation ends the run, so the fuzzer keeps the input.
inline void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz: %s\n", what);
  std::abort();
}

// One host for the whole run: the module is loaded once, and every input
// must leave it as it found it.
inline orvhost::Host& TheHost() {
  static orvhost::Host* host = [] {
    auto* h = new orvhost::Host();
    h->recording = false;
    return h;
  }();
  return *host;
}

// What every input must leave behind: nothing.
inline void CheckNothingLeft(orvhost::Host& host) {
  Check(host.module().CanUnloadNow() == 0, "interface objects left alive");
  Check(host.liveBlocks() == 0, "host blocks left allocated");
  Check(host.liveInstances() == 0, "instances left alive");
  Check(host.badFrees == 0, "a block freed twice or never allocated");
  Check(host.utilitiesAlive == 0, "HostUtilities not released");
  host.registry.clear();
}

// The TransitionIndex of each registry entry the module writes, in order,
// registered once on the run's host (the entries stay in its registry).
inline const std::vector<int32_t>& RegisteredIndices() {
  static const std::vector<int32_t> indices = [] {
    orvhost::Host& host = TheHost();
    const size_t before = host.registry.size();
    Check(orvhost::RegisterTransitions(host) == 0, "Register failed");
    std::vector<int32_t> out;
    for (size_t i = before; i < host.registry.size(); ++i) {
      const orvhost::DictValue* myData = host.registry[i]->Find("myData");
      Check(myData != nullptr, "a registry entry without myData");
      out.push_back(myData->AsInt());
    }
    Check(!out.empty(), "the module registers no transition");
    return out;
  }();
  return indices;
}
