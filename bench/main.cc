// korvel_bench runs the benchmarks, then reports how per-cell times scale and whether the load of
// a 1M-cell model meets its goal. `korvel_bench --write_book=SHAPE:SIZE` prints a workload's
// workbook text instead, for bench/compare.
#include <benchmark/benchmark.h>

#include <cstring>
#include <iostream>
#include <string>

#include "workloads.h"

namespace {

int writeBook(const std::string& request) {
  size_t colon = request.find(':');
  const korvel::bench::Shape* shape =
      korvel::bench::findShape(request.substr(0, colon == std::string::npos ? 0 : colon));
  int size = colon == std::string::npos ? 0 : std::atoi(request.c_str() + colon + 1);
  if (!shape || size < 100) {
    std::cerr << "korvel_bench: --write_book=SHAPE:SIZE, SIZE at least 100, SHAPE one of:";
    for (const korvel::bench::Shape& s : korvel::bench::shapes()) std::cerr << " " << s.name;
    std::cerr << "\n";
    return 1;
  }
  std::cout << shape->make(size).text;
  return std::cout.good() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr const char* kWriteBook = "--write_book=";
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], kWriteBook, std::strlen(kWriteBook)) == 0) {
      return writeBook(argv[i] + std::strlen(kWriteBook));
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::cout.flush();
  korvel::bench::printSummary(std::cout);
  return 0;
}
