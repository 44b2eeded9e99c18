#include "excel/excel_object.h"

#include <gtest/gtest.h>

#include <memory>

#include "excel/dispatch_ids.h"
#include "excel/excel_connection.h"
#include "tests/excel/fake_objects.h"

namespace korvel {
namespace {

using testing::FakeObject;

TEST(ExcelObjectTest, CallsByIdAndRaisesFailuresWithTheirCode) {
  auto application = std::make_shared<FakeObject>("application");
  application->properties[dispid::kVersion] = Variant::text(u"16.0");
  application->failing.insert(dispid::kQuit);
  ExcelObject holder(application);
  EXPECT_TRUE(holder.live());
  EXPECT_EQ(holder.getText(dispid::kVersion), u"16.0");
  EXPECT_EQ(holder.getInt(dispid::kVersion), 16);
  holder.put(dispid::kEnableEvents, Variant::boolean(false));
  EXPECT_FALSE(holder.getBool(dispid::kEnableEvents));
  try {
    holder.call(dispid::kQuit);
    ADD_FAILURE() << "no error raised";
  } catch (const ComError& error) {
    EXPECT_EQ(error.result(), kEFail);
  }
  EXPECT_EQ(holder.lastResult(), kEFail);
  EXPECT_THROW(holder.get(0x9999), ComError);

  ExcelObject empty;
  EXPECT_FALSE(empty.live());
  EXPECT_THROW(empty.get(dispid::kVersion), ComError);
}

TEST(ExcelObjectTest, TypedReadsConvertAsAutomationDoes) {
  EXPECT_EQ(variantToInt(Variant::r8(-4135.9)), -4135);
  EXPECT_EQ(variantToInt(Variant::text(u"12.0")), 12);
  EXPECT_EQ(variantToInt(Variant::boolean(true)), -1);
  EXPECT_TRUE(variantToBool(Variant::boolean(true)));
  EXPECT_FALSE(variantToBool(Variant::i4(1)));
  EXPECT_EQ(variantToText(Variant::i4(42)), u"42");
}

TEST(EditTrackingTest, FollowsTheEditingOfACell) {
  EditTracking tracking;
  struct Step {
    uint32_t message;
    int state;
    bool editMode;
  };
  const Step steps[] = {
      {kWmWindowPosChanging, 0, false}, {kWmSetFocus, 1, false},
      {kWmWindowPosChanging, 2, true},  {kWmSetFocus, 2, true},
      {kWmKillFocus, 3, true},          {kWmSetFocus, 2, true},
      {kWmKillFocus, 3, true},          {kWmWindowPosChanging, 0, false},
  };
  for (const Step& step : steps) {
    tracking.feed(step.message);
    EXPECT_EQ(tracking.state(), step.state) << step.message;
    EXPECT_EQ(tracking.editMode(), step.editMode) << step.message;
  }
}

}  // namespace
}  // namespace korvel
