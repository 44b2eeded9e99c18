#include "hosts/headless/functions/host_functions.h"

#include <set>
#include <string>

#include "functions/function_table.h"
#include "functions/native_registry.h"
#include "tests/hosts/headless/functions/host_function_test_support.h"

namespace korvel {
namespace {

// The program computes only what the runtime leaves to it: a name of its tables is a catalogued
// or a newer function, never one the runtime computes natively, and no name comes twice.
TEST(HostFunctionTablesTest, NamesAreHostFunctionsOnlyAndUnique) {
  std::set<std::u16string> seen;
  for (NativeTable table : hostFamilyTables()) {
    for (const NativeEntry& entry : table) {
      std::u16string name = entry.name;
      EXPECT_NE(entry.routine, nullptr) << toUtf8(name);
      EXPECT_TRUE(seen.insert(name).second) << toUtf8(name) << " twice";
      const NativeFunction* native = NativeRegistry::instance().findNative(name);
      EXPECT_TRUE(native == nullptr || !native->isNative()) << toUtf8(name) << " is native";
    }
  }
}

TEST_F(HostFunctionTest, UnknownFunctionsStayNotComputed) {
  EXPECT_EQ(eval("", "=SQL.REQUEST(1)"), "e:#NAME?");
  EXPECT_EQ(host_->notComputedCount(), 1u);
}

}  // namespace
}  // namespace korvel
