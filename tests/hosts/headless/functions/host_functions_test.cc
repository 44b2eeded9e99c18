#include "hosts/headless/functions/host_functions.h"

#include <set>
#include <string>

#include "tests/hosts/headless/functions/host_function_test_support.h"

namespace korvel {
namespace {

// Natives that leave some of their cases to the host program (TEXT's formats, CELL's and INFO's
// other types) have a routine here too, so a name may also be native; none comes twice.
TEST(HostFunctionTablesTest, EveryNameHasOneRoutine) {
  std::set<std::u16string> seen;
  for (NativeTable table : hostFamilyTables()) {
    for (const NativeEntry& entry : table) {
      std::u16string name = entry.name;
      EXPECT_NE(entry.routine, nullptr) << toUtf8(name);
      EXPECT_TRUE(seen.insert(name).second) << toUtf8(name) << " twice";
    }
  }
}

TEST_F(HostFunctionTest, UnknownFunctionsStayNotComputed) {
  EXPECT_EQ(eval("", "=_xlfn.NOSUCHFUNCTION(1)"), "e:#NAME?");
  EXPECT_EQ(headless_->notComputedCount(), 1u);
}

}  // namespace
}  // namespace korvel
