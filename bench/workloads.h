// The workbooks the benchmarks compute, generated as workbook texts, and what the benchmarks
// report after their runs. bench/compare takes the same texts from `korvel_bench --write_book`,
// so korvel and the peer engines compute exactly the workbooks measured here.
#ifndef KORVEL_BENCH_WORKLOADS_H_
#define KORVEL_BENCH_WORKLOADS_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace korvel::bench {

// A cell by sheet name and zero-based row and column.
struct Place {
  std::string sheet;
  uint32_t row = 0;
  uint32_t column = 0;
  std::string name() const;  // Sheet1!B7
};

struct Workload {
  std::string text;  // workbook text, ending with "# input" and "# output" comment lines
  Place input;       // a constant whose change reaches the cells the recalculation measures
  Place output;      // a formula cell the input reaches, read by bench/compare
  // The top of a data column: a run-time range of the grown-index measurement starts here.
  Place growAnchor;
  double expected;  // the output's value as built; NaN where it overflows
};

// Every shape's work grows in proportion to its size (formula cells; rows for sumifs) when the
// engine does it well, so its per-cell time should stay flat from the smallest size to the
// largest.
struct Shape {
  const char* name;
  Workload (*make)(int size);
  // Past 10k only with KORVEL_BENCH_SLOW=1: the engine takes minutes at 100k today.
  bool slow = false;
};

// Every shape, in the order the benchmarks are registered.
const std::vector<Shape>& shapes();
const Shape* findShape(const std::string& name);

// The sheet that makes a new range appear at run time: its A1 holds a height, its B1 sums
// OFFSET(anchor, 0, 0, height, 1). OFFSET cells are recalculated on every pass and have their
// precedents re-derived after evaluation, so each new height links a range the index has never
// held.
std::string growSheet(const Place& anchor);
inline const char* kGrowSheet = "Grow";

// The time of a finished run, by benchmark family ("BM_Recalc/chain") and size. A run repeated
// (Google Benchmark's iteration estimate) keeps its last figure.
void recordRun(const std::string& family, int64_t size, double secondsPerIteration);
// Prints "complexity: FAMILY ok" or "complexity: FAMILY NOT LINEAR (x.x times ...)" for every
// family run at two sizes or more, comparing the time per unit of size at the largest size with
// the smallest (within 2x is ok), then the load time of the 1M-cell chain against its goal.
void printSummary(std::ostream& out);

}  // namespace korvel::bench

#endif  // KORVEL_BENCH_WORKLOADS_H_
