#include "tools/korvel/progress.h"

#include <gtest/gtest.h>

namespace korvel {
namespace {

TEST(ProgressTest, TheCountShowsTheBarTheRateAndTheTimeLeft) {
  struct Case {
    uint64_t done, total;
    double seconds;
    const char* expected;
  };
  const Case cases[] = {
      {0, 400, 0, "[--------------------] 0/400 cells"},
      {100, 400, 2, "[#####---------------] 100/400 cells, 50/s, 6s left"},
      {400, 400, 4, "[####################] 400/400 cells, 100/s, 0s left"},
      {3000, 403000, 1, "[--------------------] 3000/403000 cells, 3000/s, 2m14s left"},
      {1, 10000, 1, "[--------------------] 1/10000 cells, 1/s, 2h46m left"},
      // A count past its total shows the total.
      {500, 400, 1, "[####################] 400/400 cells, 400/s, 0s left"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(progressCount(c.done, c.total, "cells", c.seconds), c.expected) << c.done;
  }
}

}  // namespace
}  // namespace korvel
