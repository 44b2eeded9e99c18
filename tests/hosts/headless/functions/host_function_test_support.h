// A fixture for the tests of the headless program's worksheet functions: the native families'
// fixture (a workbook text compiled with the real catalogue and calculated by the engine) with
// the headless calculation host in place of the recording one, so the functions the runtime
// leaves to the host program are computed by the headless program's library. A call nothing
// computes shows "e:#NAME?" and is counted by the host.
#ifndef KORVEL_TESTS_HOSTS_HEADLESS_FUNCTIONS_HOST_FUNCTION_TEST_SUPPORT_H_
#define KORVEL_TESTS_HOSTS_HEADLESS_FUNCTIONS_HOST_FUNCTION_TEST_SUPPORT_H_

#include <memory>

#include "hosts/headless/headless_calc_host.h"
#include "tests/functions/function_test_support.h"

namespace korvel {

class HostFunctionTest : public FunctionTest {
 protected:
  CalcHost* hostFor(CompiledModel& model) override {
    headless_ = std::make_unique<HeadlessCalcHost>(&model);
    return headless_.get();
  }

  std::unique_ptr<HeadlessCalcHost> headless_;
};

}  // namespace korvel

#endif  // KORVEL_TESTS_HOSTS_HEADLESS_FUNCTIONS_HOST_FUNCTION_TEST_SUPPORT_H_
