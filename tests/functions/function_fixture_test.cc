// The fixture that the family tests share: texts compile, formulas calculate, host calls record.
#include <gtest/gtest.h>

#include "function_test_support.h"

namespace korvel {
namespace {

class FunctionFixture : public FunctionTest {};

TEST_F(FunctionFixture, CalculatesFormulasAndRecordsHostCalls) {
  build("A1: 2\nA2: =A1*3\n[Other]\nB1: =Sheet1!A2+1\n");
  EXPECT_EQ(valueOf("A2"), "i:6");
  EXPECT_EQ(valueOf("Other!B1"), "i:7");
  EXPECT_EQ(valueOf("C9"), "no cell");
  // A catalogued function without a routine goes to the host program by number.
  EXPECT_EQ(eval("A1: 4", "=NORM.S.DIST(A1,TRUE)"), "i:0");
  ASSERT_EQ(host_.functionCalls.size(), 1u);
  EXPECT_EQ(host_.functionCalls[0].count, 2);
  EXPECT_EQ(evalReference("", "=A1:B2"), "r:A1:B2");
}

}  // namespace
}  // namespace korvel
