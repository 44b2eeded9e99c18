// DGET, DMIN and DSUM: the records of a database range (the rows below its header row) that satisfy
// at least one row of a criteria range, and the cells of one field of those records.
//
// Computed conditions. A criteria cell under a header that names no database column is a formula
// evaluated once per record. Its references are written for the first record (as in the host
// program: =C2>5 beside a database whose records start in row 2), so for the record k rows lower
// the engine's reference shift is set to the database's record rows (all its columns, from the
// first record row to its last row) and k rows: every reference inside that band reads the
// record's row, references outside it (a threshold cell beside the database, the criteria cell's
// own neighbours) stay where they are. The first record needs no shift. The formula is evaluated
// with the criteria cell as the current cell and nothing is written to the workbook; the shift
// that was in force before is restored after every evaluation, however it ends.
//
// Choices where the rules leave room:
// - Records and criteria rows below the last stored cell of every column of their range are
//   blank. They are not visited one by one: the criteria range's blank rows are one row without
//   conditions (which matches every record), and for DGET one blank record stands for all blank
//   records below the last stored one (DSUM and DMIN take nothing from blank cells).
// - A field number beyond the database's last column is #VALUE!, as is a field below 1 and a
//   field given as a reference to several cells.
// - A criteria cell under an unknown header that holds a constant (no formula) is taken by its
//   value: blank matches, anything else by its truth value.
// - A text criterion without an operator matches the texts that begin with it, as the host
//   program's filters read their criteria; a text that reads as a number stays a number.
#include "functions/database_functions.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/evaluator.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "functions/criteria.h"
#include "model/address.h"
#include "model/cell.h"
#include "model/compiled_model.h"
#include "util/text.h"

namespace korvel {
namespace {

constexpr double kLargest = 1e308;

const Value& emptyValue() {
  static const Value empty;
  return empty;
}

// A database or criteria range: a reference on one sheet of at least two rows.
struct Table {
  uint32_t sheet = 0, top = 0, left = 0;
  uint32_t columns = 0, rows = 0;

  CellRef at(uint32_t column, uint32_t row) const {
    return CellRef::at(sheet, top + row, left + column);
  }
};

bool tableOf(const Value* argument, Table* table) {
  if (argument == nullptr || !argument->isReference()) return false;
  RangeRef range = normalizeRange(argument->reference());
  if (!isValidRange(range) || range.first.sheet() != range.last.sheet()) return false;
  table->sheet = range.first.sheet();
  table->top = range.first.row();
  table->left = range.first.column();
  table->columns = range.last.column() - table->left + 1;
  table->rows = range.last.row() - table->top + 1;
  return table->rows > 1;
}

// The last row offset of the table that holds a stored cell in any of its columns, or -1.
int64_t lastStoredOffset(const CallContext& context, const Table& table) {
  int64_t last = -1;
  for (uint32_t column = 0; column < table.columns; ++column) {
    int64_t row = lastStoredRow(context, table.sheet, table.left + column);
    if (row >= int64_t(table.top)) last = std::max(last, row - int64_t(table.top));
  }
  return std::min(last, int64_t(table.rows) - 1);
}

// The first header cell of the database whose text equals name ignoring case; -1 for none (an
// empty name never matches).
int64_t headerColumn(const CallContext& context, const Table& database, std::u16string_view name) {
  if (name.empty()) return -1;
  for (uint32_t column = 0; column < database.columns; ++column) {
    std::u16string header = toText(cellValueAt(context, database.at(column, 0)));
    if (!header.empty() && equalsNoCase(header, name)) return column;
  }
  return -1;
}

// A text criterion without an operator ("b") matches the texts that begin with it ("Bob"), as
// a filter's criteria do; "=b" matches "b" alone.
void beginsWith(Criterion& criterion) {
  if (criterion.op != kCriterionEqual || criterion.prefixLength != 0 || !criterion.value.isText() ||
      criterion.value.text().empty() || criterion.textIsNumber) {
    return;
  }
  criterion.value.setText(std::u16string(criterion.value.text()) + u"*");
  criterion.wildcard = true;
}

// The database column a field argument names; false with the result set when it names none.
bool fieldColumn(const CallContext& context, const Table& database, const Value& argument,
                 uint32_t* column, Value& result) {
  Value field = argument;
  if (field.isReference()) {
    RangeRef range = normalizeRange(field.reference());
    // A field names one column: a reference to several cells names none.
    field = !isValidRange(range)        ? Value::error(kErrorRef)
            : range.first != range.last ? Value::error(kErrorValue)
                                        : cellValueAt(context, range.first);
  }
  if (isErrorLike(field)) {
    result = field;
    return false;
  }
  int64_t found = -1;
  if (field.isText()) {
    found = headerColumn(context, database, field.text());
  } else if (field.isNumeric() || field.isBoolean()) {
    double x = field.isBoolean() ? (field.boolean() ? 1 : 0) : field.number();
    if (x > 0 && x - 1 < double(database.columns)) found = int64_t(std::trunc(x - 1));
  }
  if (found < 0 || found >= int64_t(database.columns)) {
    result.setError(kErrorValue);
    return false;
  }
  *column = uint32_t(found);
  return true;
}

struct Condition {
  int64_t column = -1;  // the database column a criterion tests; -1 for a computed condition
  Criterion criterion;
  const Cell* formulaCell = nullptr;  // computed: the criteria cell with a formula
  bool constant = true;               // computed without formula: its truth value
};
using CriteriaRow = std::vector<Condition>;

// Sets the engine's reference shift for one evaluation and puts back the one before.
class ShiftScope {
 public:
  ShiftScope(Engine& engine, const Engine::ReferenceShift& shift)
      : engine_(engine), saved_(engine.referenceShift) {
    engine_.referenceShift = shift;
  }
  ~ShiftScope() { engine_.referenceShift = saved_; }
  ShiftScope(const ShiftScope&) = delete;
  ShiftScope& operator=(const ShiftScope&) = delete;

 private:
  Engine& engine_;
  Engine::ReferenceShift saved_;
};

class DatabaseQuery {
 public:
  explicit DatabaseQuery(CallContext& context) : context_(context) {}

  // Reads the database, the field and the criteria rows. The result starts as #VALUE!, which
  // stays when the ranges are not tables; false with the result set when the call ends here.
  bool open(const Value* const* arguments, Value& result) {
    result.setError(kErrorValue);
    Table criteria;
    const Value* field = argumentAt(arguments, 1);
    if (!tableOf(argumentAt(arguments, 0), &db_) || !tableOf(argumentAt(arguments, 2), &criteria) ||
        field == nullptr) {
      return false;
    }
    if (!fieldColumn(context_, db_, *field, &field_, result)) return false;
    readCriteria(criteria);
    return true;
  }

  // Calls take(value, times) for the field cell of every matching record in record order; a
  // blank record below the last stored one stands for all of them when blanksMatter. take returns
  // false to stop.
  template <typename Take>
  void forEachMatch(bool blanksMatter, Take&& take) {
    const int64_t last = lastStoredOffset(context_, db_);
    for (int64_t row = 1; row <= last; ++row) {
      if (matches(row) && !take(cellValueAt(context_, db_.at(field_, uint32_t(row))), 1.0)) return;
    }
    const int64_t firstBlank = std::max<int64_t>(last + 1, 1);
    if (blanksMatter && firstBlank < int64_t(db_.rows) && matches(firstBlank)) {
      take(emptyValue(), double(int64_t(db_.rows) - firstBlank));
    }
  }

 private:
  void readCriteria(const Table& criteria) {
    const CompiledModel* model = context_.engine != nullptr ? &context_.engine->model()
                                 : context_.cell != nullptr ? context_.cell->model
                                                            : nullptr;
    std::vector<int64_t> columns(criteria.columns);
    for (uint32_t c = 0; c < criteria.columns; ++c) {
      columns[c] = headerColumn(context_, db_, toText(cellValueAt(context_, criteria.at(c, 0))));
    }
    const int64_t last = lastStoredOffset(context_, criteria);
    for (int64_t row = 1; row <= last; ++row) {
      CriteriaRow conditions;
      for (uint32_t c = 0; c < criteria.columns; ++c) {
        CellRef address = criteria.at(c, uint32_t(row));
        const Cell* cell = model != nullptr ? model->findCell(address) : nullptr;
        const Value& value = cellValueAt(context_, address);
        Condition condition;
        if (columns[c] >= 0) {
          if (value.isEmpty()) continue;
          condition.column = columns[c];
          condition.criterion = parseCriterion(context_, value);
          beginsWith(condition.criterion);
        } else if (cell != nullptr && !cell->formulaRoots.empty() &&
                   cell->formulaRoots.front() != nullptr) {
          condition.formulaCell = cell;
        } else {
          if (value.isEmpty()) continue;
          condition.constant = toBoolean(value);
        }
        conditions.push_back(std::move(condition));
      }
      rows_.push_back(std::move(conditions));
    }
    // Blank criteria rows below the stored ones: one row without conditions stands for them.
    if (int64_t(criteria.rows) - 1 > std::max<int64_t>(last, 0)) rows_.emplace_back();
  }

  bool matches(int64_t record) {
    for (const CriteriaRow& conditions : rows_) {
      bool all = true;
      for (const Condition& condition : conditions) {
        if (!holds(condition, record)) {
          all = false;
          break;
        }
      }
      if (all) return true;
    }
    return false;
  }

  bool holds(const Condition& condition, int64_t record) {
    if (condition.column >= 0) {
      const Value& cell =
          cellValueAt(context_, db_.at(uint32_t(condition.column), uint32_t(record)));
      return matchesCriterion(condition.criterion, cell);
    }
    if (condition.formulaCell == nullptr) return condition.constant;
    Value outcome;
    if (context_.engine == nullptr) {
      if (condition.formulaCell->value != nullptr) outcome = *condition.formulaCell->value;
    } else {
      Engine::ReferenceShift shift;
      shift.band = {db_.at(0, 1), db_.at(db_.columns - 1, db_.rows - 1)};
      shift.rows = int32_t(record - 1);
      ShiftScope scope(*context_.engine, shift);
      outcome = evaluateFormula(*context_.engine, condition.formulaCell->formulaRoots.front().get(),
                                const_cast<Cell*>(condition.formulaCell), kModeValue);
    }
    return outcome.isEmpty() || toBoolean(outcome);
  }

  CallContext& context_;
  Table db_;
  uint32_t field_ = 0;
  std::vector<CriteriaRow> rows_;
};

}  // namespace

void databaseGet(CallContext& context, const Value* const* arguments, Value& result) {
  DatabaseQuery query(context);
  if (!query.open(arguments, result)) return;
  double taken = 0;
  Value found;
  query.forEachMatch(true, [&](const Value& value, double times) {
    if (taken == 0) found = value;
    taken += times;
    return taken < 2;
  });
  if (taken == 0) {
    result.setError(kErrorValue);
  } else if (taken > 1) {
    result.setError(kErrorNum);
  } else {
    result = found;
  }
}

void databaseMin(CallContext& context, const Value* const* arguments, Value& result) {
  DatabaseQuery query(context);
  if (!query.open(arguments, result)) return;
  double running = kLargest;
  bool failed = false;
  query.forEachMatch(false, [&](const Value& value, double) {
    if (value.isNumeric()) {
      running = std::min(running, value.number());
    } else if (isErrorLike(value)) {
      result = value;
      failed = true;
      return false;
    }
    return true;
  });
  if (failed) return;
  if (running == kLargest) {
    result.setInteger(0);
    return;
  }
  setNumberResult(result, running);
}

bool forEachDatabaseMatch(CallContext& context, const Value* const* arguments, bool blanksMatter,
                          const DatabaseVisit& take, Value& result) {
  DatabaseQuery query(context);
  if (!query.open(arguments, result)) return false;
  query.forEachMatch(blanksMatter, take);
  return true;
}

void databaseSum(CallContext& context, const Value* const* arguments, Value& result) {
  DatabaseQuery query(context);
  if (!query.open(arguments, result)) return;
  double sum = 0;
  query.forEachMatch(false, [&](const Value& value, double) {
    if (value.isNumeric()) sum += value.number();
    return true;
  });
  setNumberResult(result, sum);
}

}  // namespace korvel
