// The options dialog cases that hold alike on the platform stand-in's windows
// and on Windows' own; built into both dialog suites.
#include "tests/dialogs/dialog_fixture.h"

using namespace orv::module;

namespace {

using orvhost::DialogRun;
using orvhost::Member;
using DialogCases = DialogFixture;

TEST_F(DialogCases, NewAssetOpensWithBlackAndWhiteChecked) {
  Member& m = Place();
  EXPECT_EQ(AssetFieldsOf(m).colorChoice, kBlackAndWhite);
  const DialogRun& run = Options(m, "enter");
  EXPECT_EQ(CheckedButtons(run.afterInit), std::vector<int>{kBlackAndWhiteButton});
  EXPECT_TRUE(run.ended);
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(AssetFieldsOf(m).colorChoice, kBlackAndWhite);
}

TEST_F(DialogCases, ColourNineFromMediaOpensWithRedAndOkStoresZero) {
  Member& m = FromMedia(9);
  const DialogRun& run = Options(m, "enter");
  EXPECT_EQ(CheckedButtons(run.afterInit), std::vector<int>{kRed});
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(AssetFieldsOf(m).colorChoice, 0);
}

TEST_F(DialogCases, PickedColourIsStoredOnOkOnly) {
  Member& m = Place();
  const DialogRun& cyan = Options(m, "click 1007; click 1");
  EXPECT_TRUE(cyan.ended);
  EXPECT_EQ(cyan.result, 1);
  EXPECT_EQ(CheckedButtons(cyan.atEnd), std::vector<int>{kCyan}) << "one group: the rest clear";
  EXPECT_EQ(AssetFieldsOf(m).colorChoice, 3);

  // Cancel, Escape and the close box all leave the colour.
  for (const char* cancel : {"click 2", "escape", "close"}) {
    SCOPED_TRACE(cancel);
    const DialogRun& run = Options(m, std::string("click 1009; ") + cancel);
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.actionsApplied, 2);
    EXPECT_EQ(CheckedButtons(run.atEnd), std::vector<int>{1009});
    EXPECT_EQ(AssetFieldsOf(m).colorChoice, 3);
  }

  // Every button maps to its value; Enter takes the default button, OK; the
  // last click counts, and nothing reaches a dialog that has ended.
  for (int id = 1004; id <= 1010; ++id) {
    SCOPED_TRACE("button " + std::to_string(id));
    const DialogRun& run =
        Options(m, "click 1008; click " + std::to_string(id) + "; enter; click 1006");
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.actionsApplied, 3);
    EXPECT_EQ(AssetFieldsOf(m).colorChoice, id - 1004);
  }
}

}  // namespace
