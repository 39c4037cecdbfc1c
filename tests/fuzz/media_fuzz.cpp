// Feeds arbitrary registry entries and media bytes to a member: InitFromDict,
// LoadMedia, SaveMedia and QueryMediaSize must agree with each other, never
// fault, and leave nothing behind.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "host/member.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/asset_peek.h"

using namespace orv::module;

using namespace orvhost;

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  Host& host = TheHost();
  const std::vector<int32_t>& registered = RegisteredIndices();
  {
    Member member;
    if (member.Create(host) != 0) return 0;

    // An entry with any values under any keys, "myData" among them.
    auto entry = host.NewDict();
    static const char* kKeys[] = {"myData", "symbolString", "colorIcon", "x"};
    static const int32_t kTypes[] = {kDictInt32, kDictFlag, kDictBytes, kDictText, 0, 77};
    for (int n = in.Byte() % 5; n > 0; --n) {
      const char* key = kKeys[in.Byte() % std::size(kKeys)];
      const int32_t type = kTypes[in.Byte() % std::size(kTypes)];
      std::string bytes;
      for (int k = in.Byte() % 9; k > 0; --k) bytes.push_back(static_cast<char>(in.Byte()));
      entry->Set(key, type, bytes.data(), bytes.size());
    }
    const bool nullEntry = in.Byte() & 1;
    const auto& init = *static_cast<const InitFromDictOps*>(member.initFromDict->ops);
    Check(init.InitFromDict(member.initFromDict, nullEntry ? nullptr : entry.get()) == 0,
          "InitFromDict failed");

    const uint8_t faults = in.Byte();
    auto stream = host.NewStream();
    for (int k = in.Byte() % 9; k > 0; --k) stream->bytes.push_back(in.Byte());
    if (faults & 1) stream->failOpen = kHostFault;
    if (faults & 2) stream->failRead = kHostFault;
    host.refuseUtilities = faults & 4;
    const int32_t colorBefore = AssetFieldsOf(member).colorChoice;
    const HResult loaded = member.Load(*stream);
    host.refuseUtilities = false;
    // A member whose media holds a colour: four bytes of it.
    const bool isColor = member.MediaSize() == 4;
    if (loaded != 0 || !isColor)
      Check(AssetFieldsOf(member).colorChoice == colorBefore,
            "a failed or empty load changed the colour");

    // Saving writes exactly what QueryMediaSize announces, and reads back.
    auto saved = host.NewStream();
    if (faults & 8) saved->failWrite = kHostFault;
    const int32_t colorSaved = AssetFieldsOf(member).colorChoice;
    const HResult wrote = member.Save(*saved);
    Check(AssetFieldsOf(member).colorChoice == colorSaved, "SaveMedia changed the colour");
    if (wrote == 0)
      Check(static_cast<int32_t>(saved->bytes.size()) == member.MediaSize(),
            "SaveMedia and QueryMediaSize disagree");
    if (wrote == 0 && isColor) {
      AssetFieldsOf(member).colorChoice = ~colorSaved;
      Check(member.Load(*saved) == 0 && AssetFieldsOf(member).colorChoice == colorSaved,
            "saved media does not load back");
    }

    Actor actor;
    if (member.MakeActor(actor) != 0)
      Check(std::ranges::count(registered, AssetFieldsOf(member).transitionIndex) == 0,
            "MakeActor failed for an index the module registers");
  }
  CheckNothingLeft(host);
  return 0;
}
