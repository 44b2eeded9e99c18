// Whole application runs on the headless host: the program with the application workbook, the
// runtime as its add-in, started by the launcher stand-in, driven as the user drives it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler/workbook_text.h"
#include "engine/locale_settings.h"
#include "tools/korvel/headless_session.h"

namespace korvel {
namespace {

constexpr char kBook[] =
    "[Sheet1]\n"
    "A1: 2\n"
    "A2: 5\n"
    "A3: =A1*A2\n"
    "A4: =A3+1\n"
    "B1: 7\n"
    "B2: =B1*2\n";

class ApplicationRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Workbook workbook;
    std::vector<std::string> errors;
    ASSERT_TRUE(readWorkbookText(kBook, &workbook, &errors));
    std::string error;
    ASSERT_TRUE(session.start(workbook, SessionOptions{}, &error)) << error;
  }
  void TearDown() override { resetLocaleSettings(); }

  std::string shown(std::u16string_view cell) {
    std::string out;
    for (char16_t c : session.display(cell)) out += char(c);
    return out;
  }

  HeadlessSession session;
};

TEST_F(ApplicationRunTest, StartComputesAndPublishesEveryResult) {
  EXPECT_EQ(shown(u"A3"), "10");
  EXPECT_EQ(shown(u"Sheet1!A4"), "11");
  EXPECT_EQ(shown(u"B2"), "14");
  EXPECT_EQ(session.computedCells(),
            (std::vector<std::u16string>{u"Sheet1!B2", u"Sheet1!A3", u"Sheet1!A4"}));
}

TEST_F(ApplicationRunTest, AnEditRecalculatesItsDependentsAndUndoTakesItBack) {
  ASSERT_TRUE(session.type(u"A1", u"3"));
  EXPECT_EQ(shown(u"A3"), "15");
  EXPECT_EQ(shown(u"A4"), "16");
  EXPECT_EQ(shown(u"B2"), "14");
  ASSERT_TRUE(session.undo());
  EXPECT_EQ(shown(u"A1"), "2");
  EXPECT_EQ(shown(u"A3"), "10");
}

TEST_F(ApplicationRunTest, ManualModeComputesOnTheCalculateKey) {
  session.setManualCalculation(true);
  ASSERT_TRUE(session.type(u"A1", u"4"));
  EXPECT_EQ(shown(u"A3"), "10");
  session.pressCalculateKey();
  EXPECT_EQ(shown(u"A3"), "20");
  EXPECT_EQ(shown(u"A4"), "21");
}

}  // namespace
}  // namespace korvel
