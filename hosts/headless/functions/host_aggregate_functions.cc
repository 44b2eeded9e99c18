// The headless program's criteria, database, subtotal, logical and information functions: AREAS,
// AVERAGEA, AVERAGEIF, AVERAGEIFS, SUMIFS, the database functions the runtime leaves to the host
// program (DAVERAGE, DCOUNT, DCOUNTA, DMAX, DPRODUCT, DSTDEV, DSTDEVP, DVAR, DVARP), IFNA, XOR,
// ISFORMULA, FORMULATEXT, SHEETS, PERCENTOF, AGGREGATE and the SUBTOTAL codes the native SUBTOTAL
// hands over (7, 8, 10, 11 and 101-111).
//
// The records of the database functions are those of the native DSUM (forEachDatabaseMatch); the
// criteria are the natives' (criteria.h); where a function is a native aggregate over other
// values (DAVERAGE is AVERAGE of the matching field cells, DSTDEV is STDEV of them, SUBTOTAL(7)
// is STDEV of the cells that are no subtotals) the values are gathered into an array and the
// native routine computes.
//
// Rules matched, and choices where the host program's leave room:
// - SUMIFS and AVERAGEIFS need criteria ranges of the value range's shape (#VALUE! otherwise);
//   AVERAGEIF gives its average range the shape of its criteria range from its own top-left
//   cell, as SUMIF does. An error among the values at a matching position is the result, as it
//   is SUMIF's; texts, booleans and blanks there are passed over. No number: AVERAGEIF(S) #DIV/0!.
// - AVERAGEA counts TRUE as 1 and FALSE and texts of references as 0; blank cells are passed
//   over; arrays give their numbers only, as they do to the natives' A forms (MAXA, STDEVA).
//   A text given directly counts when it reads as a number and is #VALUE! otherwise.
// - DCOUNT and DCOUNTA without a field count the matching records down to the last stored one
//   (a database of whole columns would otherwise count every blank row below its data). DAVERAGE,
//   DMAX, DPRODUCT and the deviations and variances give an error met in the field of a matching
//   record, as DMIN does; DCOUNT passes over it and DCOUNTA counts it. DMAX and DPRODUCT of no
//   number are 0.
// - XOR reads its arguments as AND and OR do (texts and blanks of references and arrays passed
//   over, a text given directly #VALUE!, no logical value at all #VALUE!).
// - IFNA takes a text equal to "#N/A" for the error, as IFERROR takes error texts.
// - ISFORMULA is TRUE for a cell with a formula, a member of an array formula or a data table's
//   cell; FORMULATEXT of a cell without a formula is #N/A.
// - SUBTOTAL 101-111 leave out the rows the workbook hides (by hand or by a filter) and compute
//   as AGGREGATE does with the code's function; so do codes 1-11 in a workbook where a filter
//   hides rows, leaving out only those. Otherwise codes 7, 8, 10 and 11 hand the cells to the
//   native deviations. Cells holding a SUBTOTAL are passed over, as the native codes pass them
//   over.
// - AGGREGATE computes each code with the function of that code over the numbers it gathers
//   (texts and booleans of references and arrays are passed over, COUNTA counts them). Its
//   reference form (codes 1-13) refuses a computed array with #VALUE!; its array form (14-19)
//   takes one array or reference and k. SHEETS of a reference is 1: a reference spans one sheet.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "functions/criteria.h"
#include "functions/database_functions.h"
#include "hosts/headless/functions/host_arguments.h"
#include "hosts/headless/functions/host_functions.h"
#include "hosts/headless/headless_calc_host.h"
#include "model/address.h"
#include "model/cell.h"
#include "model/compiled_model.h"
#include "model/nodes/node.h"
#include "util/text.h"

namespace korvel {
namespace {

constexpr int kSubtotalNumber = 344;

// The native routine of that name, with the arguments given.
// The native routine of that name over one array of values.
void callNativeOnValues(std::u16string_view name, CallContext& context, std::vector<Value> values,
                        Value& result) {
  ValueArray array(1, uint32_t(values.size()));
  array.elements() = std::move(values);
  Value argument;
  if (array.size() == 0) {
    argument.clear();  // nothing to take: the routine sees one blank argument
  } else {
    argument.setArray(std::move(array));
  }
  const Value* arguments[] = {&argument, nullptr};
  callNative(name, context, arguments, result);
}

const CompiledModel* modelOf(const CallContext& context) {
  if (context.engine != nullptr) return &context.engine->model();
  if (context.cell != nullptr) return context.cell->model;
  return nullptr;
}

bool usableRange(RangeRef range) {
  return isValidRange(range) && range.first.sheet() == range.last.sheet();
}

// Calls visit(value, cell) for every stored cell of the range, row after row, so that the first
// error met is the top-left one; visit returns false to stop. Returns false when stopped.
template <typename Visit>
bool forEachStoredCell(const CallContext& context, RangeRef range, Visit&& visit) {
  const CompiledModel* model = modelOf(context);
  if (model == nullptr) return true;
  range = normalizeRange(range);
  const uint32_t sheet = range.first.sheet();
  const uint32_t left = range.first.column(), right = range.last.column();
  std::vector<int64_t> lastRows;
  int64_t bottom = -1;
  for (uint32_t column = left; column <= right; ++column) {
    lastRows.push_back(std::min<int64_t>(lastStoredRow(context, sheet, column), range.last.row()));
    bottom = std::max(bottom, lastRows.back());
  }
  for (int64_t row = range.first.row(); row <= bottom; ++row) {
    for (uint32_t column = left; column <= right; ++column) {
      if (row > lastRows[column - left]) continue;
      const Cell* cell = model->findCell(CellRef::at(sheet, uint32_t(row), column));
      if (cell == nullptr || cell->value == nullptr) continue;
      if (!visit(*cell->value, *cell)) return false;
    }
  }
  return true;
}

// Calls visit(value) for every stored cell of a reference or of the references of a list, a
// range spanning sheets being #REF!. False with *error set when an error ends the call.
template <typename Visit>
bool forEachReferencedValue(const CallContext& context, const Value& argument, Value* error,
                            Visit&& visit) {
  if (argument.isReferenceList()) {
    for (const Value& part : argument.array().elements()) {
      if (!forEachReferencedValue(context, part, error, visit)) return false;
    }
    return true;
  }
  if (!argument.isReference() || !usableRange(normalizeRange(argument.reference()))) {
    error->setError(argument.isReference() ? kErrorRef : kErrorValue);
    return false;
  }
  return forEachStoredCell(context, argument.reference(),
                           [&](const Value& value, const Cell&) { return visit(value); });
}

// ---------------------------------------------------------------------------------------------
// AVERAGEA.

class AverageAll {
 public:
  explicit AverageAll(const CallContext& context) : context_(context) {}

  // False with *error set when an error ends the call.
  bool add(const Value& argument, Value* error) {
    if (argument.isReference() || argument.isReferenceList()) {
      return forEachReferencedValue(context_, argument, error,
                                    [&](const Value& value) { return addCell(value, error); });
    }
    if (argument.isArray()) {
      for (const Value& element : argument.array().elements()) {
        if (isErrorLike(element)) {
          *error = element;
          return false;
        }
        if (element.isNumeric()) take(element.number());
      }
      return true;
    }
    double x = 0;
    if (!numberFromValue(argument, &x, *error)) return false;
    take(x);
    return true;
  }

  void finish(Value& result) const {
    if (count_ == 0) {
      result.setError(kErrorDiv0);
    } else {
      setNumberResult(result, sum_ / count_);
    }
  }

 private:
  bool addCell(const Value& value, Value* error) {
    if (isErrorLike(value)) {
      *error = value;
      return false;
    }
    if (value.isNumeric()) {
      take(value.number());
    } else if (value.isBoolean()) {
      take(value.boolean() ? 1 : 0);
    } else if (value.isText()) {
      take(0);
    }
    return true;
  }
  void take(double x) {
    sum_ += x;
    count_ += 1;
  }

  const CallContext& context_;
  double sum_ = 0;
  double count_ = 0;
};

void averageAll(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  AverageAll average(context);
  for (size_t i = 0, n = argumentCount(arguments); i < n; ++i) {
    if (!average.add(*arguments[i], &result)) return;
  }
  average.finish(result);
}

// ---------------------------------------------------------------------------------------------
// AVERAGEIF, AVERAGEIFS and SUMIFS.

// The sum and count of the numbers taken; the first error taken ends the taking.
struct Tally {
  double sum = 0;
  double count = 0;
  Value error;

  // False once an error was taken.
  bool take(const Value& value) {
    if (value.isError()) {
      error = value;
      return false;
    }
    sum += value.number();
    count += 1;
    return true;
  }
};

// Calls tally.take(value) for the numbers and errors of values at the positions where every
// criterion matches its range's position. REQUIRES: every range has the shape of values, or
// (AVERAGEIF) values was resized to the one range. Positions below the last stored cell of a
// column of values hold no number, so the walk ends there.
void tallyMatches(const RangeSource& values, const std::vector<RangeSource>& ranges,
                  const std::vector<Criterion>& criteria, Tally& tally) {
  for (const Criterion& criterion : criteria) {
    if (criterion.op == kCriterionNothing) return;
  }
  const uint32_t columns = std::min(values.columns(), ranges.empty() ? 0 : ranges[0].columns());
  for (uint32_t column = 0; column < columns; ++column) {
    const int64_t last = std::min<int64_t>(values.lastRow(column), int64_t(ranges[0].rows()) - 1);
    for (int64_t row = 0; row <= last; ++row) {
      const Value& value = values.at(column, uint32_t(row));
      if (!value.isNumeric() && !value.isError()) continue;
      bool all = true;
      for (size_t k = 0; k < ranges.size() && all; ++k) {
        all = matchesCriterion(criteria[k], ranges[k].at(column, uint32_t(row)));
      }
      if (all && !tally.take(value)) return;
    }
  }
}

// SUMIFS and AVERAGEIFS: (values, range, criterion, range, criterion, ...). False with the
// result set when the arguments are unusable.
bool tallyIfs(CallContext& context, const Value* const* arguments, Tally& tally, Value& result) {
  const size_t count = argumentCount(arguments);
  if (count >= 1 && isErrorLike(*arguments[0])) {
    result = *arguments[0];
    return false;
  }
  RangeSource values;
  if (count < 3 || count % 2 == 0 || !values.assign(context, *arguments[0])) {
    result.setError(kErrorValue);
    return false;
  }
  std::vector<RangeSource> ranges;
  std::vector<Criterion> criteria;
  if (!readCriteriaPairs(context, arguments, count, values, ranges, criteria)) {
    result.setError(kErrorValue);
    return false;
  }
  tallyMatches(values, ranges, criteria, tally);
  if (tally.error.isError()) {
    result = tally.error;
    return false;
  }
  return true;
}

void sumIfs(CallContext& context, const Value* const* arguments, Value& result) {
  Tally tally;
  if (tallyIfs(context, arguments, tally, result)) setNumberResult(result, tally.sum);
}

void averageOfTally(const Tally& tally, Value& result) {
  if (tally.error.isError()) {
    result = tally.error;
  } else if (tally.count == 0) {
    result.setError(kErrorDiv0);
  } else {
    setNumberResult(result, tally.sum / tally.count);
  }
}

void averageIfs(CallContext& context, const Value* const* arguments, Value& result) {
  Tally tally;
  if (tallyIfs(context, arguments, tally, result)) averageOfTally(tally, result);
}

void averageIf(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* rangeArgument = argumentAt(arguments, 0);
  const Value* criterion = argumentAt(arguments, 1);
  const Value* averageArgument = argumentAt(arguments, 2);
  if (averageArgument == nullptr || averageArgument->isEmpty()) averageArgument = rangeArgument;
  std::vector<RangeSource> ranges(1);
  RangeSource values;
  if (rangeArgument == nullptr || !ranges[0].assign(context, *rangeArgument) ||
      !values.assign(context, *averageArgument)) {
    result.setError(kErrorValue);
    return;
  }
  values.resizeTo(ranges[0].columns(), ranges[0].rows());
  std::vector<Criterion> criteria{parseCriterion(context, criterion ? *criterion : Value())};
  Tally tally;
  tallyMatches(values, ranges, criteria, tally);
  averageOfTally(tally, result);
}

// ---------------------------------------------------------------------------------------------
// The database functions.

// The numbers and errors of the field cells of the matching records; false with the result set
// when the arguments name no database.
bool databaseValues(CallContext& context, const Value* const* arguments, std::vector<Value>& out,
                    Value& result) {
  return forEachDatabaseMatch(
      context, arguments, false,
      [&](const Value& value, double) {
        if (value.isNumeric() || isErrorLike(value)) out.push_back(value);
        return true;
      },
      result);
}

// The database functions that are a native aggregate over the matching field values.
template <const char16_t* kNative>
void databaseAggregate(CallContext& context, const Value* const* arguments, Value& result) {
  std::vector<Value> values;
  if (!databaseValues(context, arguments, values, result)) return;
  callNativeOnValues(kNative, context, std::move(values), result);
}

constexpr char16_t kAverage[] = u"AVERAGE";
constexpr char16_t kMax[] = u"MAX";
constexpr char16_t kProduct[] = u"PRODUCT";
constexpr char16_t kStdev[] = u"STDEV";
constexpr char16_t kStdevp[] = u"STDEVP";
constexpr char16_t kVar[] = u"VAR";
constexpr char16_t kVarp[] = u"VARP";

// DCOUNT (numbers) and DCOUNTA (anything but blank); without a field, the matching records.
void databaseCount(CallContext& context, const Value* const* arguments, Value& result,
                   bool countAll) {
  const Value* field = argumentAt(arguments, 1);
  const bool records = field == nullptr || field->isEmpty();
  Value first = Value::integer(1);
  std::vector<const Value*> passed;
  for (size_t i = 0, n = argumentCount(arguments); i < n; ++i) passed.push_back(arguments[i]);
  if (records && passed.size() >= 2) passed[1] = &first;
  passed.push_back(nullptr);
  double count = 0;
  bool found = forEachDatabaseMatch(
      context, passed.data(), false,
      [&](const Value& value, double times) {
        if (records || (countAll ? !value.isEmpty() : value.isNumeric())) count += times;
        return true;
      },
      result);
  if (found) setNumberResult(result, count);
}

void databaseCountNumbers(CallContext& context, const Value* const* arguments, Value& result) {
  databaseCount(context, arguments, result, false);
}
void databaseCountAll(CallContext& context, const Value* const* arguments, Value& result) {
  databaseCount(context, arguments, result, true);
}

// ---------------------------------------------------------------------------------------------
// AREAS, IFNA, XOR, ISFORMULA, FORMULATEXT.

void areas(CallContext&, const Value* const* arguments, Value& result) {
  const Value* argument = argumentAt(arguments, 0);
  if (argument != nullptr && argument->isReference()) {
    result.setInteger(1);
  } else if (argument != nullptr && argument->isReferenceList()) {
    setNumberResult(result, double(argument->array().size()));
  } else if (argument != nullptr && argument->isError()) {
    result = *argument;
  } else {
    result.setError(kErrorValue);
  }
}

void ifNa(CallContext&, const Value* const* arguments, Value& result) {
  const Value* value = argumentAt(arguments, 0);
  const Value* fallback = argumentAt(arguments, 1);
  double unused = 0;
  bool notAvailable = value != nullptr && isErrorLike(*value) &&
                      numberOrError(*value, &unused) == uint32_t(kErrorNA);
  if (value != nullptr && !notAvailable) {
    result = *value;
  } else if (fallback != nullptr) {
    result = *fallback;
  } else {
    result.clear();
  }
}

// The count of TRUE values among XOR's arguments.
class ExclusiveOr {
 public:
  explicit ExclusiveOr(const CallContext& context) : context_(context) {}

  // False with *error set when an error ends the call.
  bool add(const Value& argument, Value* error) {
    if (argument.isReference() || argument.isReferenceList()) {
      return forEachReferencedValue(context_, argument, error,
                                    [&](const Value& value) { return element(value, error); });
    }
    if (argument.isArray()) {
      for (const Value& value : argument.array().elements()) {
        if (!element(value, error)) return false;
      }
      return true;
    }
    if (isErrorLike(argument)) {
      *error = argument;
      return false;
    }
    if (argument.isText()) {
      // A text given directly counts when it spells TRUE or FALSE; any other text is passed over
      // (XOR("", TRUE) is TRUE), and only texts leave nothing counted: #VALUE!.
      if (equalsNoCase(argument.text(), u"TRUE") || equalsNoCase(argument.text(), u"FALSE")) {
        count(equalsNoCase(argument.text(), u"TRUE"));
      }
      return true;
    }
    count(toBoolean(argument));
    return true;
  }

  void finish(Value& result) const {
    if (!counted_) {
      result.setError(kErrorValue);
    } else {
      result.setBoolean(odd_);
    }
  }

 private:
  bool element(const Value& value, Value* error) {
    if (isErrorLike(value)) {
      *error = value;
      return false;
    }
    if (value.isNumeric() || value.isBoolean()) count(toBoolean(value));
    return true;
  }
  void count(bool truth) {
    counted_ = true;
    if (truth) odd_ = !odd_;
  }

  const CallContext& context_;
  bool counted_ = false;
  bool odd_ = false;
};

void exclusiveOr(CallContext& context, const Value* const* arguments, Value& result) {
  ExclusiveOr fold(context);
  for (size_t i = 0, n = argumentCount(arguments); i < n; ++i) {
    if (!fold.add(*arguments[i], &result)) return;
  }
  fold.finish(result);
}

// The cell at the top left of a reference argument (of its first part for a list); false with
// the result set when the argument is no usable reference. *cell is null for a blank position.
bool referencedCell(const CallContext& context, const Value* argument, const Cell** cell,
                    Value& result) {
  const Value* reference = argument;
  if (reference != nullptr && reference->isReferenceList() && reference->array().size() > 0) {
    reference = &reference->array().elements().front();
  }
  if (reference == nullptr || !reference->isReference()) {
    if (reference != nullptr && reference->isError()) {
      result = *reference;
    } else {
      result.setError(kErrorValue);
    }
    return false;
  }
  RangeRef range = normalizeRange(reference->reference());
  if (!isValidRange(range)) {
    result.setError(kErrorRef);
    return false;
  }
  const CompiledModel* model = modelOf(context);
  *cell = model != nullptr ? model->findCell(range.first) : nullptr;
  return true;
}

// The most cells ISFORMULA answers for one by one: an array formula over whole columns would
// otherwise make an array of millions.
constexpr uint64_t kMaxLiftedCells = 1u << 20;

bool hasFormula(const Cell* cell) {
  return cell != nullptr && ((!cell->formulaRoots.empty() && cell->formulaRoots.front()) ||
                             cell->arrayRange() != nullptr || cell->hasFlag(kCellArrayMember) ||
                             cell->hasFlag(kCellArrayElsewhere));
}

// ISFORMULA of a range of several cells in an array formula answers for each of its cells.
void isFormula(CallContext& context, const Value* const* arguments, Value& result) {
  const Cell* cell = nullptr;
  if (!referencedCell(context, argumentAt(arguments, 0), &cell, result)) return;
  const Value& argument = *argumentAt(arguments, 0);
  const Cell* caller = context.cell;
  const CompiledModel* model = modelOf(context);
  const bool arrayFormula =
      caller != nullptr && (caller->arrayRange() != nullptr || caller->hasFlag(kCellArrayMember));
  const RangeRef range = argument.isReference() ? normalizeRange(argument.reference()) : RangeRef{};
  if (!arrayFormula || model == nullptr || !argument.isReference() || range.first == range.last) {
    return result.setBoolean(hasFormula(cell));
  }
  const uint32_t columns = range.last.column() - range.first.column() + 1;
  const uint32_t rows = range.last.row() - range.first.row() + 1;
  if (uint64_t(columns) * rows > kMaxLiftedCells) return result.setError(kErrorValue);
  ValueArray answers(columns, rows);
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns; ++c) {
      const CellRef at =
          CellRef::at(range.first.sheet(), range.first.row() + r, range.first.column() + c);
      answers.at(c, r).setBoolean(hasFormula(model->findCell(at)));
    }
  }
  result.setArray(std::move(answers));
}

// The anchor of the array formula a member belongs to: the cell above and to the left whose array
// range holds the member. Members keep no link to their anchor, so the search looks at most
// kAnchorReach rows and columns back; arrays wider or taller than that are not searched through.
constexpr uint32_t kAnchorReach = 128;

const Cell* arrayAnchor(const CompiledModel& model, const Cell& member) {
  const CellRef at = member.address;
  const uint32_t top = at.row() > kAnchorReach ? at.row() - kAnchorReach : 0;
  const uint32_t left = at.column() > kAnchorReach ? at.column() - kAnchorReach : 0;
  for (uint32_t row = at.row() + 1; row-- > top;) {
    for (uint32_t column = at.column() + 1; column-- > left;) {
      const Cell* cell = model.findCell(CellRef::at(at.sheet(), row, column));
      if (cell == nullptr || cell->arrayRange() == nullptr) continue;
      RangeRef range = normalizeRange(*cell->arrayRange());
      if (at.row() <= range.last.row() && at.column() <= range.last.column()) return cell;
    }
  }
  return nullptr;
}

// "=" and the formula, in braces for an array formula, whose members show the anchor's formula.
void formulaText(CallContext& context, const Value* const* arguments, Value& result) {
  const Cell* cell = nullptr;
  if (!referencedCell(context, argumentAt(arguments, 0), &cell, result)) return;
  const CompiledModel* model = modelOf(context);
  if (cell != nullptr && cell->arrayRange() == nullptr && cell->hasFlag(kCellArrayMember) &&
      model != nullptr) {
    if (const Cell* anchor = arrayAnchor(*model, *cell)) cell = anchor;
  }
  if (cell == nullptr || cell->formulaRoots.empty() || cell->formulaRoots.front() == nullptr) {
    result.setError(kErrorNA);
    return;
  }
  // The workbook's own text when the program has it: the model's lacks the $ marks.
  const auto* program =
      context.engine != nullptr ? dynamic_cast<HeadlessCalcHost*>(context.engine->host()) : nullptr;
  const std::optional<std::u16string_view> written =
      program != nullptr ? program->workbookFormula(cell->address) : std::nullopt;
  std::u16string text =
      written ? std::u16string(*written) : u"=" + cell->formulaRoots.front()->formulaText(model);
  if (cell->arrayRange() != nullptr) text = u"{" + text + u"}";
  result.setText(text);
}

// ---------------------------------------------------------------------------------------------
// SUBTOTAL.

bool isSubtotalCell(const Cell& cell) {
  if (cell.formulaRoots.empty() || cell.formulaRoots.front() == nullptr) return false;
  const Node& root = *cell.formulaRoots.front();
  return root.tag() == kTagCall &&
         static_cast<const CallNode&>(root).functionNumber() == kSubtotalNumber;
}

// A reference as an array of the values of its cells that hold no SUBTOTAL, row after row.
bool subtotalValues(const CallContext& context, const Value& reference, Value& out, Value& result) {
  if (!usableRange(normalizeRange(reference.reference()))) {
    result.setError(kErrorRef);
    return false;
  }
  std::vector<Value> values;
  forEachStoredCell(context, reference.reference(), [&](const Value& value, const Cell& cell) {
    if (!value.isEmpty() && !isSubtotalCell(cell)) values.push_back(value);
    return true;
  });
  ValueArray array(1, uint32_t(values.size()));
  array.elements() = std::move(values);
  if (array.size() == 0) {
    out.clear();  // a blank argument: nothing for the deviations to take
  } else {
    out.setArray(std::move(array));
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// AGGREGATE.

constexpr int kAggregateNumber = 485;

bool isNestedTotalCell(const Cell& cell) {
  if (isSubtotalCell(cell)) return true;
  if (cell.formulaRoots.empty() || cell.formulaRoots.front() == nullptr) return false;
  const Node& root = *cell.formulaRoots.front();
  return root.tag() == kTagCall &&
         static_cast<const CallNode&>(root).functionNumber() == kAggregateNumber;
}

// The functions of AGGREGATE's codes 1-19: 1-13 take references, 14-19 an array and k.
constexpr const char16_t* kAggregateFunctions[] = {
    u"AVERAGE",    u"COUNT",    u"COUNTA",         u"MAX",         u"MIN",
    u"PRODUCT",    u"STDEV",    u"STDEVP",         u"SUM",         u"VAR",
    u"VARP",       u"MEDIAN",   u"MODE",           u"LARGE",       u"SMALL",
    u"PERCENTILE", u"QUARTILE", u"PERCENTILE.EXC", u"QUARTILE.EXC"};

// What AGGREGATE takes from its data arguments: the numbers, and how many values are not blank
// (COUNTA's answer). Options 0-3 leave out cells holding SUBTOTAL or AGGREGATE; 2, 3, 6 and 7
// leave out errors, which otherwise end the call; 1, 3, 5 and 7 leave out the rows the workbook
// hides.
class AggregateData {
 public:
  // filteredOnly: of the hidden rows, leave out only those a filter hides (SUBTOTAL 1-11).
  AggregateData(const CallContext& context, int options, bool filteredOnly = false)
      : context_(context),
        hiddenRows_((options & 1 || filteredOnly) && context.engine != nullptr
                        ? dynamic_cast<const HeadlessCalcHost*>(context.engine->host())
                        : nullptr),
        filteredOnly_(filteredOnly),
        skipTotals_(options <= 3),
        skipErrors_(options & 2) {}

  // False with *error set when an error ends the call.
  bool add(const Value& argument, Value* error) {
    if (argument.isReferenceList()) {
      for (const Value& part : argument.array().elements()) {
        if (!add(part, error)) return false;
      }
      return true;
    }
    if (argument.isReference()) {
      if (!usableRange(normalizeRange(argument.reference()))) {
        error->setError(kErrorRef);
        return false;
      }
      return forEachStoredCell(
          context_, argument.reference(), [&](const Value& value, const Cell& cell) {
            if (skipTotals_ && isNestedTotalCell(cell)) return true;
            if (hiddenRows_ != nullptr &&
                (filteredOnly_
                     ? hiddenRows_->rowFiltered(cell.address.sheet(), cell.address.row())
                     : hiddenRows_->rowHidden(cell.address.sheet(), cell.address.row()))) {
              return true;
            }
            return take(value, error);
          });
    }
    if (argument.isArray()) {
      for (const Value& element : argument.array().elements()) {
        if (!take(element, error)) return false;
      }
      return true;
    }
    return take(argument, error);
  }

  std::vector<Value>& numbers() { return numbers_; }
  size_t filled() const { return filled_; }
  // Errors end nothing and count as filled, as in COUNT and COUNTA.
  void countErrors() { countErrors_ = true; }

 private:
  bool take(const Value& value, Value* error) {
    if (value.isEmpty()) return true;
    if (value.isError()) {
      if (countErrors_) ++filled_;
      if (skipErrors_ || countErrors_) return true;
      *error = value;
      return false;
    }
    ++filled_;
    if (value.isNumeric()) numbers_.push_back(value);
    return true;
  }

  const CallContext& context_;
  const HeadlessCalcHost* hiddenRows_;  // the program that knows them, when they are left out
  const bool filteredOnly_;
  const bool skipTotals_;
  const bool skipErrors_;
  bool countErrors_ = false;
  std::vector<Value> numbers_;
  size_t filled_ = 0;
};

// The result of AGGREGATE's code (or SUBTOTAL's 1-11) over the data gathered; k for the codes
// that take it.
void aggregateResult(CallContext& context, int code, AggregateData& data, const Value* k,
                     Value& result) {
  const char16_t* name = kAggregateFunctions[size_t(code) - 1];
  if (code == 3) {
    setNumberResult(result, double(data.filled()));
    return;
  }
  ValueArray array(1, uint32_t(data.numbers().size()));
  array.elements() = std::move(data.numbers());
  if (array.size() == 0) {
    // No number: what each function gives for none.
    if (code == 2 || code == 4 || code == 5 || code == 6 || code == 9) {
      result.setInteger(0);
    } else {
      result.setError(code == 13 ? kErrorNA : code >= 12 ? kErrorNum : kErrorDiv0);
    }
    return;
  }
  Value values;
  values.setArray(std::move(array));
  const Value* passed[] = {&values, k, nullptr};
  if (NativeRoutine routine = hostRoutine(name)) {
    routine(context, passed, result);
  } else {
    callNative(name, context, passed, result);
  }
}

// AGGREGATE(function, options, ref1, [ref2, ...]) and AGGREGATE(function, options, array, k).
void aggregate(CallContext& context, const Value* const* arguments, Value& result) {
  const size_t count = argumentCount(arguments);
  double code = 0, options = 0;
  if (count < 3 || !numberFromValue(singleValue(context, arguments[0]), &code, result)) {
    if (count < 3) result.setError(kErrorValue);
    return;
  }
  const Value optionValue = singleValue(context, arguments[1]);
  if (!optionValue.isEmpty() && !numberFromValue(optionValue, &options, result)) return;
  code = std::trunc(code);
  options = std::trunc(options);
  if (code < 1 || code > 19 || options < 0 || options > 7) {
    result.setError(kErrorValue);
    return;
  }
  const bool withK = code >= 14;
  if (withK && count < 4) {
    result.setError(kErrorValue);
    return;
  }
  AggregateData data(context, int(options));
  Value error;
  for (size_t i = 2; i < (withK ? size_t{3} : count); ++i) {
    // The reference form takes references only; a computed array is the array form's.
    if (!withK && arguments[i]->isArray()) {
      result.setError(kErrorValue);
      return;
    }
    if (!data.add(*arguments[i], &error)) {
      result = error;
      return;
    }
  }
  const Value k = withK ? singleValue(context, arguments[3]) : Value();
  aggregateResult(context, int(code), data, withK ? &k : nullptr, result);
}

void subtotal(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* codeArgument = argumentAt(arguments, 0);
  double number = 0;
  if (codeArgument == nullptr) {
    result.setError(kErrorValue);
    return;
  }
  if (!numberFromValue(*codeArgument, &number, result)) return;
  const double code = std::trunc(number);
  const auto* host = context.engine != nullptr
                         ? dynamic_cast<const HeadlessCalcHost*>(context.engine->host())
                         : nullptr;
  const bool filtered = host != nullptr && host->anyRowFiltered() && code >= 1 && code <= 11;
  if ((code >= 101 && code <= 111) || filtered) {
    // AGGREGATE's option 1: hidden rows (for codes 1-11 those a filter hides) and nested totals
    // left out, an error ends the call.
    AggregateData data(context, 1, filtered);
    if (int(code) % 100 == 2 || int(code) % 100 == 3) data.countErrors();
    Value error;
    for (size_t i = 1; arguments[i] != nullptr; ++i) {
      if (!data.add(*arguments[i], &error)) {
        result = error;
        return;
      }
    }
    aggregateResult(context, int(code) % 100, data, nullptr, result);
    return;
  }
  const char16_t* dispersion = code == 7    ? kStdev
                               : code == 8  ? kStdevp
                               : code == 10 ? kVar
                               : code == 11 ? kVarp
                                            : nullptr;
  if (dispersion == nullptr) {
    if (code < 1 || code > 11) {
      result.setError(kErrorValue);
      return;
    }
    // The native SUBTOTAL computes codes 1-6 and 9 itself.
    Value plainCode = Value::integer(int32_t(code));
    std::vector<const Value*> passed{&plainCode};
    for (size_t i = 1; arguments[i] != nullptr; ++i) passed.push_back(arguments[i]);
    passed.push_back(nullptr);
    callNative(u"SUBTOTAL", context, passed.data(), result);
    return;
  }
  // References become the arrays of their cells without subtotals; the native deviation reads
  // an array's numbers and errors as it reads a range's cells.
  std::vector<Value> values;
  for (size_t i = 1; arguments[i] != nullptr; ++i) {
    const Value& argument = *arguments[i];
    std::vector<const Value*> parts;
    if (argument.isReferenceList()) {
      for (const Value& part : argument.array().elements()) parts.push_back(&part);
    } else {
      parts.push_back(&argument);
    }
    for (const Value* part : parts) {
      values.emplace_back();
      if (!part->isReference()) {
        values.back() = *part;
      } else if (!subtotalValues(context, *part, values.back(), result)) {
        return;
      }
    }
  }
  std::vector<const Value*> passed;
  for (const Value& value : values) passed.push_back(&value);
  passed.push_back(nullptr);
  callNative(dispersion, context, passed.data(), result);
}

// PERCENTOF(subset, all): the sum of the subset over the sum of all.
void percentOf(CallContext& context, const Value* const* arguments, Value& result) {
  if (argumentCount(arguments) != 2) {
    result.setError(kErrorValue);
    return;
  }
  double sums[2] = {};
  for (size_t i = 0; i < 2; ++i) {
    const Value* one[] = {arguments[i], nullptr};
    Value sum;
    callNative(u"SUM", context, one, sum);
    if (!numberFromValue(sum, &sums[i], result)) return;
  }
  if (sums[1] == 0) {
    result.setError(kErrorDiv0);
    return;
  }
  setNumberResult(result, sums[0] / sums[1]);
}

// SHEETS([reference]): the sheets of the workbook, or those a reference spans.
void sheets(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* argument = argumentAt(arguments, 0);
  const CompiledModel* model = modelOf(context);
  if (argument == nullptr || argument->isEmpty()) {
    if (model == nullptr) {
      result.setError(kErrorNA);
    } else {
      setNumberResult(result, double(model->sheets().sheets().size()));
    }
  } else if (argument->isReference() || argument->isReferenceList()) {
    result.setInteger(1);
  } else if (argument->isError()) {
    result = *argument;
  } else {
    result.setError(kErrorRef);
  }
}

constexpr NativeEntry kHostAggregateFunctions[] = {
    {u"AGGREGATE", aggregate},
    {u"AREAS", areas},
    {u"AVERAGEA", averageAll},
    {u"AVERAGEIF", averageIf},
    {u"AVERAGEIFS", averageIfs},
    {u"DAVERAGE", databaseAggregate<kAverage>},
    {u"DCOUNT", databaseCountNumbers},
    {u"DCOUNTA", databaseCountAll},
    {u"DMAX", databaseAggregate<kMax>},
    {u"DPRODUCT", databaseAggregate<kProduct>},
    {u"DSTDEV", databaseAggregate<kStdev>},
    {u"DSTDEVP", databaseAggregate<kStdevp>},
    {u"DVAR", databaseAggregate<kVar>},
    {u"DVARP", databaseAggregate<kVarp>},
    {u"FORMULATEXT", formulaText},
    {u"IFNA", ifNa},
    {u"ISFORMULA", isFormula},
    {u"PERCENTOF", percentOf},
    {u"SHEETS", sheets},
    {u"SUBTOTAL", subtotal},
    {u"SUMIFS", sumIfs},
    {u"XOR", exclusiveOr},
};

}  // namespace

NativeTable hostAggregateFunctions() { return kHostAggregateFunctions; }

}  // namespace korvel
