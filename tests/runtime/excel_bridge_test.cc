#include "runtime/excel_bridge.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "hosts/headless/headless_addin_callback.h"

namespace korvel {
namespace {

constexpr int kUnknownFunction = 9999;

std::vector<const Xloper*> arguments(size_t count, const Xloper* each) {
  return std::vector<const Xloper*>(count, each);
}

TEST(ExcelBridgeTest, Excel4KeepsTheInterfaceLimits) {
  HeadlessAddinCallback callback;
  ExcelBridge bridge(&callback);
  Xloper one = Xloper::number(1);

  // 256 arguments are refused before the host program sees them.
  auto tooMany = arguments(kXlMaxArguments + 1, &one);
  EXPECT_EQ(bridge.excel4(kUnknownFunction, nullptr, tooMany), kXlretInvCount);
  EXPECT_TRUE(callback.calls().empty());

  // 255 reach it, and its answer comes back as it is.
  auto most = arguments(kXlMaxArguments, &one);
  EXPECT_EQ(bridge.excel4(kUnknownFunction, nullptr, most), kXlretInvXlfn);
  ASSERT_EQ(callback.calls().size(), 1u);
  EXPECT_EQ(callback.calls()[0].arguments.size(), kXlMaxArguments);

  // Outside the host program every call fails and nothing is run.
  ExcelBridge outside(nullptr);
  Xloper result = Xloper::number(5);
  EXPECT_EQ(outside.excel4(kXlfRegister, &result, {&one}), kXlretFailed);
  EXPECT_EQ(result, Xloper::number(5));
}

TEST(XloperHolderTest, TextIsCountedAndCutAtTheLengthByte) {
  ExcelBridge bridge(nullptr);
  XloperHolder holder(&bridge);
  holder.setText(std::string(300, 'x'));
  EXPECT_TRUE(holder.value().is(kXltypeStr));
  EXPECT_EQ(holder.value().counted().size(), 255u);
  EXPECT_EQ(holder.text(), std::string(255, 'x'));

  holder.setText(std::string("ab\0cd", 5));
  EXPECT_EQ(holder.text(), "ab");

  holder.setNil();
  EXPECT_TRUE(holder.value().is(kXltypeNil));
  EXPECT_EQ(holder.text(), "");
}

TEST(XloperHolderTest, HandsHostValuesBackExactlyOnce) {
  HeadlessAddinCallback callback;
  ExcelBridge bridge(&callback);
  {
    XloperHolder first(&bridge);
    first.value() = Xloper::number(42);
    first.value().setFlags(kXlbitXLFree);
    XloperHolder second(std::move(first));
    EXPECT_TRUE(first.value().is(kXltypeNil));
    XloperHolder third(&bridge);
    third = std::move(second);
    EXPECT_EQ(callback.freedValues(), 0);
  }
  EXPECT_EQ(callback.freedValues(), 1);
  ASSERT_EQ(callback.calls().size(), 1u);
  EXPECT_EQ(callback.calls()[0].function, kXlFree);
  EXPECT_TRUE(callback.calls()[0].arguments.at(0).is(kXltypeNum));
  EXPECT_EQ(callback.calls()[0].arguments.at(0).num(), 42);

  // Reassigning over a host value hands it back; the runtime's own values never go to xlFree.
  XloperHolder holder(&bridge);
  holder.value() = Xloper::string("host");
  holder.value().setFlags(kXlbitXLFree);
  holder.setText("own");
  EXPECT_EQ(callback.freedValues(), 2);
  holder.value().setFlags(kXlbitDLLFree);
  holder.release();
  EXPECT_EQ(callback.freedValues(), 2);
  EXPECT_TRUE(holder.value().is(kXltypeNil));
}

TEST(ExcelBridgeTest, NarrowKeepsTheLowByteAndWidenRestoresIt) {
  struct Case {
    std::u16string wide;
    std::string narrow;
    std::u16string back;
  };
  const Case cases[] = {
      {u"Plain", "Plain", u"Plain"},
      {u"caf\u00E9", "caf\xE9", u"caf\u00E9"},
      {u"\u263A!", "\x3A!", u":!"},
      {u"", "", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(narrowText(c.wide), c.narrow);
    EXPECT_EQ(widenText(narrowText(c.wide)), c.back);
  }
}

}  // namespace
}  // namespace korvel
