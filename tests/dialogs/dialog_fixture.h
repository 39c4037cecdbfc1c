// What the dialog suites share, on the platform stand-in's windows
// (dialogs_test.cpp) and on Windows' own (dialogs_win32_test.cpp): a
// registered module, colour members placed from its entries, and the options
// dialog and about box run through the dialog runner by script.
#pragma once

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "host/dialog_runner.h"
#include "host/member.h"
#include "host/stand_in_host.h"
#include "module/class_ids.h"
#include "tests/support/asset_peek.h"

using orv::module::HostUtilities;
using orvhost::DialogAction;
using orvhost::DialogRun;
using orvhost::DialogRunner;
using orvhost::Host;
using orvhost::Member;

inline constexpr int32_t kBlackAndWhite = 6;
inline constexpr int kRed = 1004;
inline constexpr int kCyan = 1007;
inline constexpr int kBlackAndWhiteButton = 1010;

// The MMX feature bit as the processor reports it (CPUID 1, EDX bit 23).
inline bool ProcessorHasMmx() {
#if defined(__i386__) || defined(__x86_64__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  return __get_cpuid(1, &a, &b, &c, &d) && (d & (1u << 23)) != 0;
#else
  return false;
#endif
}

inline std::vector<orvhost::DialogAction> Script(const std::string& text) {
  std::vector<orvhost::DialogAction> actions;
  std::string error;
  EXPECT_TRUE(orvhost::ParseDialogScript(text, &actions, &error)) << error;
  return actions;
}

inline std::vector<int> CheckedButtons(const std::vector<orvhost::ControlState>& controls) {
  std::vector<int> ids;
  for (const auto& c : controls)
    if (c.checked) ids.push_back(c.id);
  return ids;
}

// The windows alive now, counted as the platform counts them; each suite's
// own file defines it.
int LiveWindows();

class DialogFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(orvhost::RegisterTransitions(host), 0);
    host.calls.clear();
    windowsBefore = LiveWindows();
  }
  void TearDown() override {
    for (orvhost::Member& m : members) m.Release();
    EXPECT_EQ(host.openResourceBrackets, 0) << "a resource bracket left open";
    EXPECT_EQ(host.utilitiesAlive, 0) << "HostUtilities not released";
    EXPECT_EQ(LiveWindows(), windowsBefore) << "windows left behind";
    EXPECT_EQ(host.module().CanUnloadNow(), 0) << "interface objects left alive";
    EXPECT_EQ(host.liveInstances(), 0);
    EXPECT_EQ(host.liveBlocks(), 0);
    EXPECT_EQ(host.badFrees, 0);
  }

  orvhost::Member& Place(int index = orv::module::kColorTransition) {
    orvhost::Member& m = members.emplace_back();
    EXPECT_EQ(m.Place(host, *host.registry.at(static_cast<size_t>(index))), 0);
    return m;
  }

  // A colour member whose media held value.
  orvhost::Member& FromMedia(int32_t value) {
    orvhost::Member& m = Place();
    EXPECT_EQ(m.LoadColorChoice(host, value), 0);
    EXPECT_EQ(AssetFieldsOf(m).colorChoice, value);
    return m;
  }

  // Runs the options dialog or the about box of m with script; the run it made.
  const orvhost::DialogRun& Options(orvhost::Member& m, const std::string& script) {
    return Run(m, script, false);
  }
  const orvhost::DialogRun& About(orvhost::Member& m, const std::string& script) {
    return Run(m, script, true);
  }

  orvhost::Host host;
  orvhost::DialogRunner runner{host};
  std::deque<orvhost::Member> members;
  int windowsBefore = 0;

 private:
  const orvhost::DialogRun& Run(orvhost::Member& m, const std::string& script, bool about) {
    runner.script = Script(script);
    runner.runs.clear();
    host.calls.clear();
    EXPECT_EQ(about ? m.ops().RunAbout(m.asset) : m.ops().RunOptions(m.asset), 0);
    EXPECT_EQ(runner.runs.size(), 1u);
    return runner.runs.back();
  }
};
