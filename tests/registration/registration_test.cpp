// The registrar through the loaded module and the recording stand-in host:
// the exact calls of Register, the values of the six entries, the icons as
// the module holds them, and registration with failing host calls or missing
// resources.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/member.h"
#include "host/stand_in_host.h"
#include "module/class_ids.h"
#include "registration/transition_registrar.h"
#if !defined(_WIN32)
#include "platform/standin/resources.h"
#endif

using namespace orv::module;
using orvhost::Host;

namespace {

constexpr char kColorIconName[] = "ORV_FADE_XTRA_PICON";
constexpr char kBlackWhiteIconName[] = "ORV_FADE_XTRA_PICON_BW";

// A bitmap file of resources/ as a resource holds it: without the 14-byte
// file header.
std::vector<uint8_t> BitmapResource(const std::string& file) {
  std::ifstream in(std::string(ORV_SOURCE_DIR) + "/resources/" + file, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  if (bytes.size() < 14) return {};
  return std::vector<uint8_t>(bytes.begin() + 14, bytes.end());
}

std::vector<uint8_t> Le32(int32_t v) {
  std::vector<uint8_t> out(4);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
  return out;
}

std::vector<uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

struct Expected {
  const char* symbol;
  const char* displayName;
  int32_t assetCaps;
  int32_t transitionCaps;
};
const Expected kExpected[] = {
    {"OrvFade", "OrvFade", 0x18, 5},
    {"OrvWipeUp", "OrvWipe Up", 0x18, 7},
    {"OrvWipeDown", "OrvWipe Down", 0x18, 7},
    {"OrvWipeLeft", "OrvWipe Left", 0x18, 7},
    {"OrvWipeRight", "OrvWipe Right", 0x18, 7},
    {"OrvColor", "OrvColor", 0x1a, 5},
};
constexpr int kEntries = static_cast<int>(std::size(kExpected));

// The calls that one complete entry makes, tokens counting up from first.
std::vector<std::string> EntryCalls(int& token, int32_t colorIconSize, int32_t bwIconSize) {
  const std::string add = "AddRegistryEntry " + orvhost::GuidText(kTransitionAssetId) + " " +
                          orvhost::GuidText(kAssetInterfaceId);
  std::vector<std::string> calls = {add,
                                    "Put symbolString 9 0",
                                    "Put displayNameString 9 0",
                                    "Put displayCategoryString 9 0",
                                    "Put actorType 3 0",
                                    "Put assetCaps 8 4",
                                    "BeginUsingResources"};
  if (colorIconSize) calls.push_back("Put colorIcon 8 " + std::to_string(colorIconSize));
  calls.push_back("EndUsingResources " + std::to_string(token++));
  calls.push_back("BeginUsingResources");
  if (bwIconSize) calls.push_back("Put BWIcon 8 " + std::to_string(bwIconSize));
  calls.push_back("EndUsingResources " + std::to_string(token++));
  for (const char* put : {"Put transitionCaps 8 4", "Put transitionDefaultArea 3 0",
                          "Put transitionDefaultDuration 3 0", "Put transitionDefaultChunkSize 3 0",
                          "Put myData 8 4", "Put safeForShockwave 6 1"})
    calls.push_back(put);
  return calls;
}

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    void* object = nullptr;
    ASSERT_EQ(host.CreateInstance(kTransitionRegistrarId, kRegistrationInterfaceId, &object), 0);
    registrar = static_cast<InterfaceObject*>(object);
    host.calls.clear();
  }
  void TearDown() override {
#if !defined(_WIN32)
    OrvSetResourceFault(RT_BITMAP, kColorIconName, kResourcePresent);
    OrvSetResourceFault(RT_BITMAP, kBlackWhiteIconName, kResourcePresent);
#endif
    if (registrar) BaseOpsOf(registrar).Release(registrar);
    EXPECT_EQ(host.module().CanUnloadNow(), 0) << "interface objects left alive";
    EXPECT_EQ(host.liveInstances(), 0);
    EXPECT_EQ(host.liveBlocks(), 0);
    EXPECT_EQ(host.badFrees, 0);
    EXPECT_EQ(host.openResourceBrackets, 0);
  }

  const RegistrationOps& ops() const {
    return *static_cast<const RegistrationOps*>(registrar->ops);
  }
  HResult Register() { return ops().Register(registrar, host.cache(), host.registrationDict); }

  Host host;
  InterfaceObject* registrar = nullptr;
};

TEST_F(RegistrationTest, RegisterMakesAnEntryPerTransitionWithThirteenPutsEachInOrder) {
  ASSERT_EQ(Register(), 0);
  std::vector<std::string> expected;
  int token = 100;  // the stand-in host's first resource token
  for (int i = 0; i < kEntries; ++i) {
    std::vector<std::string> entry = EntryCalls(token, 2120, 176);
    expected.insert(expected.end(), entry.begin(), entry.end());
  }
  EXPECT_EQ(host.calls, expected);
  ASSERT_EQ(host.registry.size(), static_cast<size_t>(kEntries));
  for (const auto& entry : host.registry) {
    EXPECT_TRUE(SameGuid(entry->classId, kTransitionAssetId));
    EXPECT_TRUE(SameGuid(entry->iid, kAssetInterfaceId));
  }
}

TEST_F(RegistrationTest, EntriesHoldEachTransitionsValues) {
  ASSERT_EQ(Register(), 0);
  ASSERT_EQ(host.registry.size(), static_cast<size_t>(kEntries));
  const std::vector<uint8_t> colorIcon = BitmapResource("orv_fade_xtra_picon.bmp");
  const std::vector<uint8_t> bwIcon = BitmapResource("orv_fade_xtra_picon_bw.bmp");
  ASSERT_EQ(colorIcon.size(), 2120u);
  ASSERT_EQ(bwIcon.size(), 176u);

  for (int i = 0; i < kEntries; ++i) {
    SCOPED_TRACE("entry " + std::to_string(i));
    const Expected& e = kExpected[i];
    const struct {
      const char* key;
      int32_t type;
      std::vector<uint8_t> bytes;
    } values[] = {
        {"symbolString", kDictText, Text(e.symbol)},
        {"displayNameString", kDictText, Text(e.displayName)},
        {"displayCategoryString", kDictText, Text("Orv Transition Pack 1")},
        {"actorType", kDictInt32, Le32(2)},
        {"assetCaps", kDictBytes, Le32(e.assetCaps)},
        {"colorIcon", kDictBytes, colorIcon},
        {"BWIcon", kDictBytes, bwIcon},
        {"transitionCaps", kDictBytes, Le32(e.transitionCaps)},
        {"transitionDefaultArea", kDictInt32, Le32(1)},
        {"transitionDefaultDuration", kDictInt32, Le32(2000)},
        {"transitionDefaultChunkSize", kDictInt32, Le32(64)},
        {"myData", kDictBytes, Le32(i)},
        {"safeForShockwave", kDictFlag, {1}},
    };
    const auto& stored = host.registry[static_cast<size_t>(i)]->values;
    ASSERT_EQ(stored.size(), std::size(values));
    for (size_t k = 0; k < stored.size(); ++k) {
      SCOPED_TRACE(values[k].key);
      EXPECT_EQ(stored[k].first, values[k].key);
      EXPECT_EQ(stored[k].second.type, values[k].type);
      EXPECT_EQ(stored[k].second.bytes, values[k].bytes);
    }
  }
}

TEST_F(RegistrationTest, StoredIconsAreTheBitmapsTheyAreNamedFor) {
  ASSERT_EQ(Register(), 0);
  BITMAPINFOHEADER color{}, bw{};
  const auto& colorBytes = host.registry[0]->Find("colorIcon")->bytes;
  const auto& bwBytes = host.registry[0]->Find("BWIcon")->bytes;
  std::memcpy(&color, colorBytes.data(), sizeof color);
  std::memcpy(&bw, bwBytes.data(), sizeof bw);
  EXPECT_EQ(color.biSize, 40u);
  EXPECT_EQ(color.biWidth, 32);
  EXPECT_EQ(color.biHeight, 33);
  EXPECT_EQ(color.biBitCount, 8);
  EXPECT_EQ(color.biCompression, BI_RGB);
  // Header, 256 palette entries, 33 rows of 32 bytes.
  EXPECT_EQ(colorBytes.size(), 40u + 256 * 4 + 33 * 32);
  EXPECT_EQ(bw.biWidth, 32);
  EXPECT_EQ(bw.biHeight, 32);
  EXPECT_EQ(bw.biBitCount, 1);
  // Header, 2 palette entries, 32 rows of 4 bytes.
  EXPECT_EQ(bwBytes.size(), 40u + 2 * 4 + 32 * 4);
}

TEST_F(RegistrationTest, EveryRegisterWritesEveryEntryAnew) {
  ASSERT_EQ(Register(), 0);
  ASSERT_EQ(Register(), 0);
  ASSERT_EQ(host.registry.size(), static_cast<size_t>(2 * kEntries));
  for (int i = 0; i < 2 * kEntries; ++i)
    EXPECT_EQ(host.registry[static_cast<size_t>(i)]->Find("myData")->AsInt(), i % kEntries);
}

TEST_F(RegistrationTest, FailingPutEndsRegistrationWithItsCode) {
  host.failPutEntry = 2;
  host.failPutKey = "transitionCaps";
  host.putFault = static_cast<HResult>(0x80041234);
  EXPECT_EQ(Register(), static_cast<HResult>(0x80041234));

  ASSERT_EQ(host.registry.size(), 3u) << "no entry for indexes 3 to 5";
  EXPECT_EQ(host.registry[0]->values.size(), 13u);
  EXPECT_EQ(host.registry[1]->values.size(), 13u);
  // The failing entry keeps what was written before the failure.
  std::vector<std::string> keys;
  for (const auto& [key, value] : host.registry[2]->values) keys.push_back(key);
  EXPECT_EQ(keys,
            (std::vector<std::string>{"symbolString", "displayNameString", "displayCategoryString",
                                      "actorType", "assetCaps", "colorIcon", "BWIcon"}));
  EXPECT_EQ(host.calls.back(), "Put transitionCaps 8 4");
  EXPECT_EQ(host.CallsStartingWith("AddRegistryEntry").size(), 3u);
}

TEST_F(RegistrationTest, FailingPutOfTheFirstOrLastKeyEndsRegistration) {
  host.failPutEntry = 0;
  host.failPutKey = "symbolString";
  host.putFault = static_cast<HResult>(0x80041111);
  EXPECT_EQ(Register(), static_cast<HResult>(0x80041111));
  EXPECT_EQ(host.registry.size(), 1u);
  EXPECT_TRUE(host.registry[0]->values.empty());

  host.registry.clear();
  host.failPutEntry = 4;
  host.failPutKey = "safeForShockwave";
  EXPECT_EQ(Register(), static_cast<HResult>(0x80041111));
  EXPECT_EQ(host.registry.size(), 5u);
  EXPECT_EQ(host.registry[4]->values.size(), 12u);
}

TEST_F(RegistrationTest, FailingAddRegistryEntryEndsRegistrationWithItsCode) {
  // The stand-in cache refuses any registration dictionary but its own.
  EXPECT_EQ(ops().Register(registrar, host.cache(), reinterpret_cast<void*>(0xBAD)),
            orvhost::kHostFault);
  EXPECT_TRUE(host.registry.empty());
  EXPECT_EQ(host.calls.size(), 1u);
}

TEST_F(RegistrationTest, AFailingIconPutDoesNotStopRegistration) {
  host.failPutEntry = 1;
  host.failPutKey = "colorIcon";
  EXPECT_EQ(Register(), 0);
  ASSERT_EQ(host.registry.size(), static_cast<size_t>(kEntries));
  EXPECT_EQ(host.registry[1]->Find("colorIcon"), nullptr);
  EXPECT_EQ(host.registry[1]->values.size(), 12u);
  EXPECT_NE(host.registry[0]->Find("colorIcon"), nullptr);
  EXPECT_NE(host.registry[2]->Find("colorIcon"), nullptr);
}

TEST_F(RegistrationTest, LengthPrefixedCopyStoresTheCountThenTheCharacters) {
  uint8_t buffer[320];
  std::memset(buffer, 0xAA, sizeof buffer);
  EXPECT_EQ(ops().CopyLengthPrefixed(registrar, "OrvFade", buffer), 0);
  const uint8_t expected[] = {7, 'O', 'r', 'v', 'F', 'a', 'd', 'e', 0xAA};
  EXPECT_EQ(std::memcmp(buffer, expected, sizeof expected), 0) << "no terminator is written";

  std::memset(buffer, 0xAA, sizeof buffer);
  EXPECT_EQ(ops().CopyLengthPrefixed(registrar, "", buffer), 0);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[1], 0xAA);

  // The count byte holds the length modulo 256; every character is copied.
  const std::string long_text(300, 'x');
  std::memset(buffer, 0xAA, sizeof buffer);
  EXPECT_EQ(ops().CopyLengthPrefixed(registrar, long_text.c_str(), buffer), 0);
  EXPECT_EQ(buffer[0], 300 % 256);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer + 1), 300), long_text);
  EXPECT_EQ(buffer[301], 0xAA);
  EXPECT_TRUE(host.calls.empty()) << "the copy calls nothing of the host";
}

TEST_F(RegistrationTest, IconLoaderStoresUnderTheKeyOfItsFlag) {
  auto entry = host.NewDict();
  EXPECT_EQ(ops().LoadIcon(registrar, entry.get(), kBlackWhiteIconName, 1), 0);
  EXPECT_EQ(ops().LoadIcon(registrar, entry.get(), kColorIconName, 0), 0);
  ASSERT_EQ(entry->values.size(), 2u);
  EXPECT_EQ(entry->values[0].first, "colorIcon");
  EXPECT_EQ(entry->values[0].second.bytes.size(), 176u);
  EXPECT_EQ(entry->values[1].first, "BWIcon");
  EXPECT_EQ(entry->values[1].second.bytes.size(), 2120u);
}

TEST_F(RegistrationTest, IconLoaderReturnsTheCodeOfItsPut) {
  auto entry = host.NewDict();
  host.failPutEntry = entry->index;
  host.failPutKey = "BWIcon";
  host.putFault = static_cast<HResult>(0x80042222);
  EXPECT_EQ(ops().LoadIcon(registrar, entry.get(), kBlackWhiteIconName, 0),
            static_cast<HResult>(0x80042222));
  EXPECT_EQ(host.calls.back(), "EndUsingResources 100");
}

TEST_F(RegistrationTest, IconLoaderReportsAMissingResource) {
  auto entry = host.NewDict();
  EXPECT_EQ(ops().LoadIcon(registrar, entry.get(), "NO_SUCH_BITMAP", 1), kResourceMissing);
  EXPECT_TRUE(entry->values.empty());
  EXPECT_EQ(host.calls, (std::vector<std::string>{"BeginUsingResources", "EndUsingResources 100"}));
}

#if !defined(_WIN32)
TEST_F(RegistrationTest, WithoutTheColourIconEveryEntryLacksIt) {
  OrvSetResourceFault(RT_BITMAP, kColorIconName, kResourceHidden);
  ASSERT_EQ(Register(), 0);
  ASSERT_EQ(host.registry.size(), static_cast<size_t>(kEntries));
  std::vector<std::string> expected;
  int token = 100;
  for (int i = 0; i < kEntries; ++i) {
    std::vector<std::string> entry = EntryCalls(token, 0, 176);
    expected.insert(expected.end(), entry.begin(), entry.end());
  }
  EXPECT_EQ(host.calls, expected);
  for (const auto& entry : host.registry) {
    EXPECT_EQ(entry->Find("colorIcon"), nullptr);
    ASSERT_NE(entry->Find("BWIcon"), nullptr);
    EXPECT_EQ(entry->Find("BWIcon")->bytes.size(), 176u);
    EXPECT_EQ(entry->values.size(), 12u);
  }
}

TEST_F(RegistrationTest, IconThatCannotBeLoadedIsSkippedWithoutFailure) {
  OrvSetResourceFault(RT_BITMAP, kBlackWhiteIconName, kResourceUnloadable);
  auto entry = host.NewDict();
  EXPECT_EQ(ops().LoadIcon(registrar, entry.get(), kBlackWhiteIconName, 0), 0);
  EXPECT_TRUE(entry->values.empty());
  EXPECT_EQ(host.calls, (std::vector<std::string>{"BeginUsingResources", "EndUsingResources 100"}));

  ASSERT_EQ(Register(), 0);
  for (const auto& e : host.registry) {
    EXPECT_EQ(e->Find("BWIcon"), nullptr);
    EXPECT_NE(e->Find("colorIcon"), nullptr);
  }
}

TEST_F(RegistrationTest, HiddenResourcesComeBack) {
  OrvSetResourceFault(RT_BITMAP, kColorIconName, kResourceHidden);
  OrvSetResourceFault(RT_BITMAP, kColorIconName, kResourcePresent);
  auto entry = host.NewDict();
  EXPECT_EQ(ops().LoadIcon(registrar, entry.get(), kColorIconName, 1), 0);
  EXPECT_EQ(entry->values.size(), 1u);
}
#endif

TEST(RegisterTransitionsTest, HostFlowRegistersAndReleasesTheRegistrar) {
  Host host;
  ASSERT_EQ(orvhost::RegisterTransitions(host), 0);
  ASSERT_EQ(host.registry.size(), static_cast<size_t>(kEntries));
  for (int i = 0; i < kEntries; ++i) {
    EXPECT_EQ(host.registry[static_cast<size_t>(i)]->Find("symbolString")->AsText(),
              kExpected[i].symbol);
  }
  EXPECT_EQ(host.CallsStartingWith("CreateInstance").size(), 0u)
      << "the registrar creates no instances";
  EXPECT_EQ(host.module().CanUnloadNow(), 0);
  EXPECT_EQ(host.liveInstances(), 0);
  EXPECT_EQ(host.liveBlocks(), 0);
}

TEST(RegisterTransitionsTest, HostFlowReportsAFailedCreation) {
  Host host;
  host.failAllAllocs = true;
  EXPECT_EQ(orvhost::RegisterTransitions(host), kNoMemory);
  EXPECT_TRUE(host.registry.empty());
  EXPECT_EQ(host.module().CanUnloadNow(), 0);
  EXPECT_EQ(host.liveInstances(), 0);
}

}  // namespace
