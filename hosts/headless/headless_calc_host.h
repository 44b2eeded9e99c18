// HeadlessCalcHost: the CalcHost of the command-line tool, the compiler and the benchmarks. There
// is no host program behind it: it keeps what the engine publishes, answers input reads from the
// model's own cells, and computes the worksheet functions the headless program knows
// (functions/host_functions.h), called by number or as the formula texts the runtime writes
// (functions/host_call_text.h). A macro named like a function is that function. LET, LAMBDA and
// the functions that take a LAMBDA, which the engine hands over unevaluated, are computed with
// a scope of names (lambda_calls.h). Every other
// call that would need the host program (a function it does not know, a formula text it cannot
// read, a macro) yields #NAME?, and the host counts it by function name and remembers the cell
// that made it.
//
// REQUIRES: used only on the thread that evaluates formulas.
#ifndef KORVEL_HOSTS_HEADLESS_HEADLESS_CALC_HOST_H_
#define KORVEL_HOSTS_HEADLESS_HEADLESS_CALC_HOST_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/calc_host.h"
#include "engine/value.h"
#include "hosts/headless/lambda_calls.h"
#include "model/cell.h"
#include "model/cell_ref.h"

namespace korvel {

class CompiledModel;

// Orders cell addresses by sheet, then row, then column.
struct CellRefLess {
  bool operator()(const CellRef& a, const CellRef& b) const;
};

// Something per cell address, kept in pages of sixteen rows of one column: a workbook of a million
// computed cells costs little more than one item per cell, where a tree costs a node each.
template <class T>
class CellPages {
 public:
  void set(CellRef address, T item) {
    std::unique_ptr<Page>& page = pages_[pageKey(address)];
    if (!page) page = std::make_unique<Page>();
    uint32_t i = address.rowWord % kPageRows;
    page->items[i] = std::move(item);
    if (!(page->present & (1u << i))) {
      page->present |= 1u << i;
      ++size_;
    }
  }
  // The item of the address, or null.
  const T* find(CellRef address) const {
    auto it = pages_.find(pageKey(address));
    if (it == pages_.end()) return nullptr;
    uint32_t i = address.rowWord % kPageRows;
    return it->second->present & (1u << i) ? &it->second->items[i] : nullptr;
  }
  // The number of addresses with an item.
  size_t size() const { return size_; }

 private:
  static constexpr uint32_t kPageRows = 16;
  struct Page {
    T items[kPageRows];
    uint32_t present = 0;  // bit i: items[i] was set
  };
  // By the whole column word and the row word without its page bits, so that addresses whose
  // words differ only in bits the accessors mask stay apart.
  static uint64_t pageKey(CellRef address) {
    return (uint64_t(address.columnWord) << 32) | (address.rowWord / kPageRows);
  }
  std::unordered_map<uint64_t, std::unique_ptr<Page>> pages_;
  size_t size_ = 0;
};

class HeadlessCalcHost : public CalcHost {
 public:
  // Borrows the model (which may be null: then every input read fails). Function numbers are
  // named through model->functions.
  explicit HeadlessCalcHost(const CompiledModel* model = nullptr) : model_(model) {}

  void setModel(const CompiledModel* model) { model_ = model; }
  void setDate1904(bool on) { date1904_ = on; }
  // Whether the headless program's worksheet functions answer calls (on unless switched off, for
  // a count of what a model leaves to the host program).
  void setComputesFunctions(bool on) { computesFunctions_ = on; }

  // A formula of the workbook as its author wrote it, which FORMULATEXT shows: the compiled model
  // keeps no $ marks. The text gets its "=" and loses the prefixes of newer functions.
  void setWorkbookFormula(CellRef cell, std::u16string_view text);
  // Room for so many formula texts of so many units in all, given before setting them: the texts
  // of a large workbook would otherwise be copied each time their buffer doubles.
  void reserveWorkbookFormulas(size_t texts, size_t units);
  // That text of the cell, or nothing when the workbook gave none. The view lasts until the next
  // formula is set.
  std::optional<std::u16string_view> workbookFormula(CellRef cell) const;

  // A row the workbook hides, by hand or by a filter: SUBTOTAL's codes 101-111 and AGGREGATE's
  // options that leave out hidden rows pass over its cells, and SUBTOTAL's codes 1-11 over those
  // a filter hides.
  void hideRow(uint32_t sheet, uint32_t row, bool filtered = false) {
    hiddenRows_.insert({sheet, row});
    if (filtered) filteredRows_.insert({sheet, row});
  }
  bool rowHidden(uint32_t sheet, uint32_t row) const {
    return !hiddenRows_.empty() && hiddenRows_.count({sheet, row}) != 0;
  }
  bool rowFiltered(uint32_t sheet, uint32_t row) const {
    return !filteredRows_.empty() && filteredRows_.count({sheet, row}) != 0;
  }
  bool anyRowFiltered() const { return !filteredRows_.empty(); }

  // Column widths in characters as a package stores them (padding included): of a block of
  // columns, and a sheet's default. A sheet without a default has the standard width.
  void setColumnWidth(uint32_t sheet, uint32_t firstColumn, uint32_t lastColumn, double width);
  void setDefaultColumnWidth(uint32_t sheet, double width);
  // The whole characters of the standard font's digits a column shows (CELL("width")), and in
  // *standard whether the column has the sheet's default width.
  int columnCharacters(uint32_t sheet, uint32_t column, bool* standard) const;

  // The values published so far, the last one per address.
  const CellPages<Value>& published() const { return published_; }
  // The last value published for the address, or null.
  const Value* publishedValue(CellRef address) const;
  size_t publishCount() const { return publishCount_; }

  // Calls that needed the host program, by function or macro name ("#123" for a function number
  // without a name), and their total.
  const std::map<std::u16string, size_t>& notComputed() const { return notComputed_; }
  size_t notComputedCount() const { return notComputedCount_; }
  // The cells that were being evaluated when such calls were made since the last take (calls
  // made outside a cell's evaluation count, but name no cell). The set is emptied; the counts stay.
  CellSet takeCellsNeedingHost();
  // Forgets the counts and the cells (not the published values).
  void clearNotComputed();

  // The "not computed: SUM 3, VLOOKUP 1" line (names in order), or empty when nothing was.
  std::string notComputedLine() const;

  // CalcHost.
  void publishCell(Cell* cell) override;
  // The value the model's cell holds (inputs are stored in the model); false when the model has
  // no such cell. An absent value reads as empty.
  bool calculateAndRead(CellRef address, Value& out) override;
  int evaluate(std::u16string_view text, bool english, Value& out) override;
  bool callWorksheetFunction(int number, const std::vector<const Value*>& arguments, int count,
                             Value& out) override;
  void runMacro(std::u16string_view name, const std::vector<const Value*>& arguments,
                Value& out) override;
  void runMacroArray(std::u16string_view name, const std::vector<const Value*>& arguments,
                     Value& out) override;
  bool computeCall(Engine& engine, const CallNode& node, int mode, Value& out) override;
  // Also while a filter hides rows: the native SUBTOTAL, which knows no rows, leaves SUBTOTAL to
  // the headless program then.
  bool seesEveryCall() const override { return lambdas_.active() || anyRowFiltered(); }
  int directPrecedents(Cell* cell, std::vector<RangeRef>& areas) override;
  void scanSheetHyperlinks(Engine&) override {}
  void openLinkedWorkbooks(Engine&) override {}
  void wireSheetControls(Engine&) override {}
  void refreshQueryTables() override {}
  bool usesDate1904() override { return date1904_; }
  bool suspendCalculation() override { return true; }
  bool restoreCalculation() override { return true; }

  // The function name a formula text starts with: "=SUM(A1)" gives "SUM", "=_xlfn.IFERROR(" gives
  // "IFERROR", "=_xlfn._xlws.SORT(" gives "SORT"; the text itself (without "=") when it is no call.
  static std::u16string leadingFunctionName(std::u16string_view text);

 private:
  // Calls the headless program's function, else the native, of a macro's name; false when no
  // function has that name.
  bool callFunctionNamed(std::u16string_view name, const std::vector<const Value*>& arguments,
                         Value& out);
  void count(std::u16string name, Value& out);

  const CompiledModel* model_;
  bool date1904_ = false;
  bool computesFunctions_ = true;
  CellPages<Value> published_;
  // Every formula text one after the other, each behind its length in two units: a million
  // short formulas kept as strings of their own cost several times their text.
  std::u16string workbookFormulaTexts_;
  CellPages<uint32_t> workbookFormulas_;                  // where each cell's text starts
  std::set<std::pair<uint32_t, uint32_t>> hiddenRows_;    // sheet and row
  std::set<std::pair<uint32_t, uint32_t>> filteredRows_;  // the hidden ones a filter hides
  struct ColumnSpan {
    uint32_t first = 0, last = 0;
    double width = 0;
  };
  std::map<uint32_t, std::vector<ColumnSpan>> columnWidths_;  // by sheet, later blocks last
  std::map<uint32_t, double> defaultColumnWidths_;            // by sheet
  size_t publishCount_ = 0;
  std::map<std::u16string, size_t> notComputed_;
  size_t notComputedCount_ = 0;
  CellSet cellsNeedingHost_;
  LambdaCalls lambdas_;
};

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_HEADLESS_CALC_HOST_H_
