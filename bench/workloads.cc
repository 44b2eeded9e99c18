#include "workloads.h"

#include <cmath>
#include <cstdio>
#include <map>

#include "model/address.h"
#include "util/text.h"

namespace korvel::bench {
namespace {

constexpr int kGridColumns = 10;
constexpr int kTableRows = 10000;
constexpr int kChains = 100;

std::string columnName(uint32_t c) { return toUtf8(columnLetters(c)); }

// A1 text of a zero-based cell.
std::string at(uint32_t row, uint32_t column) {
  return toUtf8(cellText(CellRef::at(0, row, column)));
}

// Texts grow by appending one line per cell; reserving avoids copying tens of megabytes at 1M.
struct Text {
  std::string t;
  explicit Text(size_t lines) { t.reserve(lines * 32); }
  void sheet(const std::string& name) { t += "[" + name + "]\n"; }
  void cell(uint32_t row, uint32_t column, const std::string& content) {
    t += at(row, column);
    t += ": ";
    t += content;
    t += '\n';
  }
};

Workload finish(Text& text, Place input, Place output, Place growAnchor, double expected) {
  text.t += "# input " + input.name() + "\n# output " + output.name() + "\n";
  return Workload{std::move(text.t), std::move(input), std::move(output), std::move(growAnchor),
                  expected};
}

// n(n+1)/2, the sum of 1..n.
double triangle(int n) { return double(n) * (n + 1) / 2; }

// A_r: =A_(r-1)+1 below a constant.
Workload chain(int cells) {
  Text t(cells);
  t.sheet("Sheet1");
  t.cell(0, 0, "1");
  for (int r = 1; r <= cells; ++r) t.cell(r, 0, "=A" + std::to_string(r) + "+1");
  return finish(t, {"Sheet1", 0, 0}, {"Sheet1", uint32_t(cells), 0}, {"Sheet1", 1, 0}, cells + 1.0);
}

// Ten columns, each cell the SUM of the whole row above. Values multiply by ten a row, so past
// some 300 rows they overflow; every engine must agree on what that gives.
Workload grid(int cells) {
  int rows = cells / kGridColumns;
  Text t(cells);
  t.sheet("Sheet1");
  t.cell(0, 0, "1");
  for (int c = 1; c < kGridColumns; ++c) t.cell(0, c, "=$A$1");
  for (int r = 1; r < rows; ++r) {
    std::string formula = "=SUM(" + at(r - 1, 0) + ":" + at(r - 1, kGridColumns - 1) + ")";
    for (int c = 0; c < kGridColumns; ++c) t.cell(r, c, formula);
  }
  return finish(t, {"Sheet1", 0, 0}, {"Sheet1", uint32_t(rows - 1), kGridColumns - 1},
                {"Sheet1", 1, 0}, std::nan(""));
}

// Constants in A, B_r: =SUM($A$1:A_r). Linear only with the reuse of running aggregates: summed
// afresh, the rows cost n^2/2 additions.
Workload running(int rows) {
  Text t(2 * size_t(rows));
  t.sheet("Sheet1");
  for (int r = 0; r < rows; ++r) {
    t.cell(r, 0, std::to_string(r + 1));
    t.cell(r, 1, "=SUM($A$1:" + at(r, 0) + ")");
  }
  return finish(t, {"Sheet1", 0, 0}, {"Sheet1", uint32_t(rows - 1), 1}, {"Sheet1", 1, 0},
                triangle(rows));
}

// A_r: =A_(r-1)+1 and B_r: =SUM(A$1:A_r): the ranges hold formula cells, so one change reaches
// every range and every sum.
Workload ledger(int cells) {
  int rows = cells / 2;
  Text t(cells);
  t.sheet("Sheet1");
  for (int r = 0; r < rows; ++r) {
    t.cell(r, 0, r == 0 ? "1" : "=" + at(r - 1, 0) + "+1");
    t.cell(r, 1, "=SUM(A$1:" + at(r, 0) + ")");
  }
  return finish(t, {"Sheet1", 0, 0}, {"Sheet1", uint32_t(rows - 1), 1}, {"Sheet1", 1, 0},
                triangle(rows));
}

// Constants in A, B_r: =A_r*2, and a few aggregates over whole columns in D. A change of A1
// reaches B1 and the aggregates, which read the whole column again.
Workload wholeColumn(int rows) {
  Text t(2 * size_t(rows) + 4);
  t.sheet("Sheet1");
  for (int r = 0; r < rows; ++r) {
    t.cell(r, 0, std::to_string(r + 1));
    t.cell(r, 1, "=" + at(r, 0) + "*2");
  }
  t.cell(0, 3, "=SUM(A:A)");
  t.cell(1, 3, "=SUM(B:B)");
  t.cell(2, 3, "=COUNT(A:A)");
  t.cell(3, 3, "=MAX(B:B)");
  return finish(t, {"Sheet1", 0, 0}, {"Sheet1", 1, 3}, {"Sheet1", 1, 0}, 2 * triangle(rows));
}

// Constants on Sheet1; on Sheet2, per row, a cell reading a Sheet1 cell and Sheet1!$A$1 and a
// cell summing a Sheet1 row range, plus one sum over the whole Sheet1 block.
Workload crossSheet(int cells) {
  int rows = cells / 2;
  Text t(2 * size_t(cells));
  t.sheet("Sheet1");
  for (int r = 0; r < rows; ++r) {
    t.cell(r, 0, std::to_string(r + 1));
    t.cell(r, 1, std::to_string(2 * (r + 1)));
  }
  t.sheet("Sheet2");
  for (int r = 0; r < rows; ++r) {
    t.cell(r, 0, "=Sheet1!" + at(r, 0) + "+Sheet1!$A$1");
    t.cell(r, 1, "=SUM(Sheet1!" + at(r, 0) + ":" + at(r, 1) + ")+" + at(r, 0));
  }
  t.cell(0, 2, "=SUM(Sheet1!A1:" + at(rows - 1, 1) + ")");
  return finish(t, {"Sheet1", 0, 0}, {"Sheet2", uint32_t(rows - 1), 1}, {"Sheet1", 1, 0},
                4.0 * rows + 1);
}

// A handful of conditional sums and counts over `rows` rows of numbers and texts; the criteria
// cell E1 is what changes, so every one of them scans its columns again.
Workload sumifs(int rows) {
  static const char* kRegions[] = {"\"north\"", "\"south\"", "\"east\"", "\"west\""};
  Text t(3 * size_t(rows) + 7);
  t.sheet("Sheet1");
  double sum = 0;  // what the SUMIFS gives
  for (int r = 0; r < rows; ++r) {
    t.cell(r, 0, std::to_string((r + 1) % 1000));
    t.cell(r, 1, kRegions[r % 4]);
    t.cell(r, 2, std::to_string((r + 1) % 97));
    if ((r + 1) % 1000 > 500 && r % 4 == 0) sum += (r + 1) % 97;
  }
  std::string last = std::to_string(rows);
  std::string a = "A1:A" + last, b = "B1:B" + last, c = "C1:C" + last;
  t.cell(0, 4, "500");
  t.cell(1, 4, "\"north\"");
  t.cell(0, 5, "=SUMIFS(" + c + "," + a + ",\">\"&E1," + b + ",E2)");
  t.cell(1, 5, "=COUNTIF(" + a + ",\">\"&E1)");
  t.cell(2, 5, "=COUNTIFS(" + a + ",\"<=\"&E1," + b + ",E2)");
  t.cell(3, 5, "=SUMIF(" + b + ",E2," + c + ")+E1");
  t.cell(4, 5, "=AVERAGEIFS(" + c + "," + b + ",E2," + a + ",\">\"&E1)");
  return finish(t, {"Sheet1", 0, 4}, {"Sheet1", 0, 5}, {"Sheet1", 1, 0}, sum);
}

// A 10k-row table of keys and values on its own sheet; per row of Sheet1 a key moved by the
// input C1 and a lookup of it: two formula cells a row.
Workload lookupBook(int cells, bool indexMatch) {
  int rows = cells / 2;
  Text t(2 * size_t(kTableRows) + cells + 1);
  t.sheet("Table");
  for (int r = 0; r < kTableRows; ++r) {
    t.cell(r, 0, std::to_string(r + 1));
    t.cell(r, 1, std::to_string(3 * (r + 1)));
  }
  t.sheet("Sheet1");
  t.cell(0, 2, "0");
  std::string last = std::to_string(kTableRows);
  for (int r = 0; r < rows; ++r) {
    t.cell(r, 0, "=$C$1+" + std::to_string((r + 1) % (kTableRows - 1) + 1));
    std::string key = at(r, 0);
    t.cell(r, 1,
           indexMatch ? "=INDEX(Table!$B$1:$B$" + last + ",MATCH(" + key + ",Table!$A$1:$A$" +
                            last + ",0))"
                      : "=VLOOKUP(" + key + ",Table!$A$1:$B$" + last + ",2,FALSE)");
  }
  return finish(t, {"Sheet1", 0, 2}, {"Sheet1", uint32_t(rows - 1), 1}, {"Table", 1, 0},
                3.0 * (rows % (kTableRows - 1) + 1));
}
Workload lookup(int cells) { return lookupBook(cells, false); }
Workload indexMatch(int cells) { return lookupBook(cells, true); }

// 100 independent chains side by side; the input heads the first, so it reaches 1% of the cells.
Workload onePercent(int cells) {
  int length = cells / kChains;
  Text t(cells + kChains);
  t.sheet("Sheet1");
  for (int c = 0; c < kChains; ++c) {
    std::string col = columnName(c);
    t.cell(0, c, "1");
    for (int r = 1; r <= length; ++r) t.cell(r, c, "=" + col + std::to_string(r) + "+1");
  }
  return finish(t, {"Sheet1", 0, 0}, {"Sheet1", uint32_t(length), 0}, {"Sheet1", 1, 0},
                length + 1.0);
}

// Seconds per iteration of each finished run, by family and size.
std::map<std::string, std::map<int64_t, double>>& runs() {
  static std::map<std::string, std::map<int64_t, double>> all;
  return all;
}

}  // namespace

std::string Place::name() const { return sheet + "!" + at(row, column); }

const std::vector<Shape>& shapes() {
  static const std::vector<Shape> all{
      {"chain", chain},
      {"grid", grid},
      {"running", running},
      {"ledger", ledger, true},
      {"wholeColumn", wholeColumn},
      {"crossSheet", crossSheet},
      {"sumifs", sumifs},
      {"indexMatch", indexMatch},
      {"lookup", lookup},
      {"onePercent", onePercent},
  };
  return all;
}

const Shape* findShape(const std::string& name) {
  for (const Shape& shape : shapes()) {
    if (name == shape.name) return &shape;
  }
  return nullptr;
}

std::string growSheet(const Place& anchor) {
  std::string cell =
      anchor.sheet + "!$" + columnName(anchor.column) + "$" + std::to_string(anchor.row + 1);
  return std::string("[") + kGrowSheet + "]\nA1: 2\nB1: =SUM(OFFSET(" + cell + ",0,0,$A$1,1))\n";
}

void recordRun(const std::string& family, int64_t size, double secondsPerIteration) {
  runs()[family][size] = secondsPerIteration;
}

void printSummary(std::ostream& out) {
  char line[200];
  for (const auto& [family, bySize] : runs()) {
    if (family.rfind("BM_Load", 0) == 0 || bySize.size() < 2) continue;
    auto [small, smallSeconds] = *bySize.begin();
    auto [large, largeSeconds] = *bySize.rbegin();
    double ratio = (largeSeconds / double(large)) / (smallSeconds / double(small));
    std::snprintf(line, sizeof line,
                  "complexity: %s %s (%.1f times the per-cell time, %lld to %lld)\n",
                  family.c_str() + 3, ratio <= 2.0 ? "ok" : "NOT LINEAR", ratio, (long long)small,
                  (long long)large);
    out << line;
  }
  // The runtime loads the model of an application when it starts; a million cells should not
  // keep the user waiting.
  constexpr int64_t kLoadGoalCells = 1000000;
  constexpr double kLoadGoalSeconds = 0.3;
  if (auto it = runs().find("BM_LoadModel"); it != runs().end()) {
    if (auto load = it->second.find(kLoadGoalCells); load != it->second.end()) {
      std::snprintf(line, sizeof line, "load: 1M-cell chain in %.3f s, goal %.1f s: %s\n",
                    load->second, kLoadGoalSeconds,
                    load->second <= kLoadGoalSeconds ? "ok" : "OVER");
      out << line;
    }
  }
}

}  // namespace korvel::bench
