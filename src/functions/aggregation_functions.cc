// Aggregation and criteria functions: the sums, counts and extremes, COUNTIF, COUNTIFS, SUMIF and
// SUMPRODUCT over the criteria of criteria.h, SUBTOTAL, and the table of the family (the database
// functions live in database_functions.cc).
//
// Choices where the host program's rules leave room:
// - A SUBTOTAL cell is a cell whose first formula root is a call of function number 344. The
//   aggregates look at the formula only while Engine::insideSubtotal is set, so the test costs
//   nothing elsewhere, and the model needs no flag of its own for it.
// - Scans stop at the last stored cell of each column. The positions below it are blank, so a
//   criterion that matches blanks ("=", "<>x", "") counts them in one step instead of visiting
//   them: COUNTIF(A1:A100, "=") counts all 100 positions when only A1 is filled.
// - SUMIF walks the positions of its criteria range; the sum range takes that shape from its own
//   top-left cell. A column is walked down to the last stored cell of the sum column, as positions
//   with an empty sum cell add nothing whether or not they match.
// - PRODUCT of no number at all (empty cells, texts only) is 0, not the empty product 1: a 1
//   would pass for a real product of the cells, and the host program shows 0 there.
// - SUMIF gives the first error met in its sum range at a matching position, as SUM would.
// - SUM, PRODUCT and AVERAGE take a boolean given directly as 1 or 0, and a missing argument adds
//   nothing; a text given directly counts when it reads as a number (or a date or time), as in
//   the program, and is #VALUE! otherwise. COUNT counts such texts and booleans given directly.
// - SUMPRODUCT gives an error argument given directly (not inside an array or range) as the
//   result, as it would for the same error inside an array.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/locale_settings.h"
#include "engine/number_text.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "functions/column_aggregates.h"
#include "functions/criteria.h"
#include "functions/database_functions.h"
#include "functions/function_catalogue.h"
#include "functions/native_families.h"
#include "model/address.h"
#include "model/cell.h"
#include "model/compiled_model.h"
#include "model/nodes/node.h"

namespace korvel {
namespace {

constexpr int kSubtotalNumber = 344;
constexpr double kLargest = 1e308;

bool insideSubtotal(const CallContext& context) {
  return context.engine != nullptr && context.engine->insideSubtotal;
}

bool isSubtotalCell(const Cell& cell) {
  if (cell.formulaRoots.empty() || cell.formulaRoots.front() == nullptr) return false;
  const Node& root = *cell.formulaRoots.front();
  return root.tag() == kTagCall &&
         static_cast<const CallNode&>(root).functionNumber() == kSubtotalNumber;
}

// Where a value met by an aggregate came from: the rules for direct arguments, cells of
// references and elements of arrays differ.
enum class Origin { kDirect, kCell, kArray };

// Calls visit(value, origin) for every argument given directly, every stored cell of every
// reference (column by column, down to the last stored cell; SUBTOTAL cells are passed over while
// the inside-SUBTOTAL flag is set) and every array element. visit returns false to end the walk,
// having set the result. A reference that is invalid or spans two sheets sets #REF! and ends the
// walk, unless badReferencesCountNothing. Returns false when the walk was ended.
template <typename Visit>
bool walkValues(const CallContext& context, const Value* const* arguments, Value& result,
                bool badReferencesCountNothing, Visit&& visit) {
  const CompiledModel* model = contextModel(context);
  const bool skipSubtotals = insideSubtotal(context);
  auto walkReference = [&](const Value& reference) {
    RangeRef range = normalizeRange(reference.reference());
    if (!isValidRange(range) || range.first.sheet() != range.last.sheet()) {
      if (badReferencesCountNothing) return true;
      result.setError(kErrorRef);
      return false;
    }
    if (model == nullptr) return true;
    const uint32_t sheet = range.first.sheet();
    for (uint32_t column = range.first.column(); column <= range.last.column(); ++column) {
      int64_t stop =
          std::min<int64_t>(model->grid().lastRowWithCell(sheet, column), range.last.row());
      for (int64_t row = range.first.row(); row <= stop; ++row) {
        const Cell* cell = model->findCell(CellRef::at(sheet, uint32_t(row), column));
        if (cell == nullptr || cell->value == nullptr) continue;
        if (skipSubtotals && isSubtotalCell(*cell)) continue;
        if (!visit(*cell->value, Origin::kCell)) return false;
      }
    }
    return true;
  };
  for (size_t i = 0; arguments != nullptr && arguments[i] != nullptr; ++i) {
    const Value& argument = *arguments[i];
    if (argument.isReference()) {
      if (!walkReference(argument)) return false;
    } else if (argument.isReferenceList()) {
      for (const Value& part : argument.array().elements()) {
        if (part.isReference() && !walkReference(part)) return false;
      }
    } else if (argument.isArray()) {
      for (const Value& element : argument.array().elements()) {
        if (!visit(element, Origin::kArray)) return false;
      }
    } else if (!visit(argument, Origin::kDirect)) {
      return false;
    }
  }
  return true;
}

// The numbers that SUM, PRODUCT and AVERAGE take, handed to take(x). False with the result set
// when an error or a direct text ends the call.
template <typename Take>
bool takeSumNumbers(const CallContext& context, const Value* const* arguments, Value& result,
                    Take&& take) {
  return walkValues(context, arguments, result, false, [&](const Value& value, Origin origin) {
    if (value.isNumeric()) {
      take(value.number());
    } else if (value.isError()) {
      result = value;
      return false;
    } else if (origin == Origin::kDirect && (value.isText() || value.isBoolean())) {
      double number = 0;
      if (!directArgumentNumber(context, value, &number)) {
        result.setError(kErrorValue);
        return false;
      }
      take(number);
    }
    return true;
  });
}

void sumRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (!insideSubtotal(context) && errorPrecheck(context, arguments, kAllArguments, result)) return;
  if (columnAggregate(context, arguments, ColumnAggregate::kSum, result)) return;
  double sum = 0;
  if (!takeSumNumbers(context, arguments, result, [&](double x) { sum += x; })) return;
  setNumberResult(result, sum);
}

void productRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (!insideSubtotal(context) && errorPrecheck(context, arguments, kAllArguments, result)) return;
  double product = 1;
  bool anyNumber = false;
  if (!takeSumNumbers(context, arguments, result, [&](double x) {
        product *= x;
        anyNumber = true;
      })) {
    return;
  }
  setNumberResult(result, anyNumber ? product : 0);
}

void averageRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (!insideSubtotal(context) && errorPrecheck(context, arguments, kAllArguments, result)) return;
  if (columnAggregate(context, arguments, ColumnAggregate::kAverage, result)) return;
  double sum = 0;
  double count = 0;
  if (!takeSumNumbers(context, arguments, result, [&](double x) {
        sum += x;
        count += 1;
      })) {
    return;
  }
  if (count == 0) {
    result.setError(kErrorDiv0);
    return;
  }
  setNumberResult(result, sum / count);
}

// Numbers, and a boolean or a text that reads as a number given directly.
void countRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (columnAggregate(context, arguments, ColumnAggregate::kCount, result)) return;
  double count = 0;
  walkValues(context, arguments, result, true, [&](const Value& value, Origin origin) {
    double number = 0;
    if (value.isNumeric() ||
        (origin == Origin::kDirect && directArgumentNumber(context, value, &number))) {
      count += 1;
    }
    return true;
  });
  setNumberResult(result, count);
}

// Everything that is not empty, errors included.
void countAllRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double count = 0;
  walkValues(context, arguments, result, true, [&](const Value& value, Origin) {
    if (!value.isEmpty()) count += 1;
    return true;
  });
  setNumberResult(result, count);
}

bool isBlank(const Value* value) {
  return value == nullptr || value->isEmpty() || (value->isText() && value->text().empty());
}

// The result stays empty until a blank is found, so a range without blanks shows nothing.
void countBlankRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  const CompiledModel* model = contextModel(context);
  double count = 0;
  for (size_t i = 0; arguments != nullptr && arguments[i] != nullptr; ++i) {
    const Value& argument = *arguments[i];
    if (argument.isEmpty()) {
      count += 1;
      continue;
    }
    if (!argument.isReference()) continue;
    RangeRef range = normalizeRange(argument.reference());
    if (!isValidRange(range) || range.first.sheet() != range.last.sheet()) continue;
    const uint32_t sheet = range.first.sheet();
    const int64_t first = range.first.row();
    const int64_t last = range.last.row();
    for (uint32_t column = range.first.column(); column <= range.last.column(); ++column) {
      int64_t stop = model == nullptr
                         ? first - 1
                         : std::min(model->grid().lastRowWithCell(sheet, column), last);
      stop = std::max(stop, first - 1);
      for (int64_t row = first; row <= stop; ++row) {
        const Cell* cell = model->findCell(CellRef::at(sheet, uint32_t(row), column));
        if (cell == nullptr || isBlank(cell->value)) count += 1;
      }
      count += double(last - stop);  // the positions below the last stored cell
    }
  }
  if (count == 0) {
    result.clear();
    return;
  }
  setNumberResult(result, count);
}

// MAX, MIN, MAXA and MINA: one walk, told the direction and whether texts and booleans of
// references and direct arguments count (the A forms).
void extremeRoutine(CallContext& context, const Value* const* arguments, Value& result,
                    bool largest, bool countAll) {
  const double start = largest ? -kLargest : kLargest;
  double running = start;
  auto consider = [&](double x) {
    if (largest ? x > running : x < running) running = x;
  };
  bool finished =
      walkValues(context, arguments, result, false, [&](const Value& value, Origin origin) {
        if (value.isNumeric()) {
          consider(value.number());
          return true;
        }
        if (isErrorLike(value)) {
          result = value;
          return false;
        }
        if (origin == Origin::kArray) return true;
        if (value.isBoolean()) {
          if (countAll) consider(value.boolean() ? 1 : 0);
          return true;
        }
        if (origin == Origin::kDirect) {
          if (value.isEmpty()) {
            consider(0);
            return true;
          }
          double number = 0;
          if (value.isText() && directArgumentNumber(context, value, &number)) {
            consider(number);
            return true;
          }
          if (value.isText()) {
            result.setError(kErrorValue);
            return false;
          }
          return true;
        }
        if (value.isText() && countAll) consider(0);
        return true;
      });
  if (!finished) return;
  if (running == start) {
    result.setInteger(0);
    return;
  }
  setNumberResult(result, running);
}

void maxRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (columnAggregate(context, arguments, ColumnAggregate::kMax, result)) return;
  extremeRoutine(context, arguments, result, true, false);
}
void minRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (columnAggregate(context, arguments, ColumnAggregate::kMin, result)) return;
  extremeRoutine(context, arguments, result, false, false);
}
void maxAllRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  extremeRoutine(context, arguments, result, true, true);
}
void minAllRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  extremeRoutine(context, arguments, result, false, true);
}

const Value& emptyValue() {
  static const Value empty;
  return empty;
}

// The positions of a range that satisfy a criterion.
double countMatches(const RangeSource& range, const Criterion& criterion) {
  if (criterion.op == kCriterionNothing) return 0;
  const bool blanksMatch = matchesCriterion(criterion, emptyValue());
  double count = 0;
  for (uint32_t column = 0; column < range.columns(); ++column) {
    const int64_t last = range.lastRow(column);
    for (int64_t row = 0; row <= last; ++row) {
      if (matchesCriterion(criterion, range.at(column, uint32_t(row)))) count += 1;
    }
    if (blanksMatch) count += double(int64_t(range.rows()) - 1 - last);
  }
  return count;
}

// Criteria given as an array or a reference: one count per element, in the criteria's shape.
void countEachCriterion(CallContext& context, const RangeSource& range, bool rangeValid,
                        const Value& criteria, Value& result) {
  RangeSource elements;
  if (!elements.assign(context, criteria) ||
      uint64_t(elements.columns()) * elements.rows() > 1'000'000) {
    result.setError(kErrorValue);
    return;
  }
  ValueArray counts(elements.columns(), elements.rows());
  for (uint32_t row = 0; row < elements.rows(); ++row) {
    for (uint32_t column = 0; column < elements.columns(); ++column) {
      Value& out = counts.at(column, row);
      if (!rangeValid) {
        out.setError(kErrorValue);
        continue;
      }
      out.setNumber(countMatches(range, parseCriterion(context, elements.at(column, row))));
    }
  }
  result.setArray(std::move(counts));
}

void countIfRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* rangeArgument = argumentAt(arguments, 0);
  const Value* criteria = argumentAt(arguments, 1);
  result.setInteger(0);
  RangeSource range;
  bool rangeValid = rangeArgument != nullptr && range.assign(context, *rangeArgument);
  if (criteria != nullptr &&
      (criteria->isArray() || criteria->isReference() || criteria->isReferenceList())) {
    countEachCriterion(context, range, rangeValid, *criteria, result);
    return;
  }
  Criterion criterion = parseCriterion(context, criteria != nullptr ? *criteria : Value());
  if (!rangeValid) {
    result.setError(kErrorValue);
    return;
  }
  setNumberResult(result, countMatches(range, criterion));
}

void countIfsRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  const size_t count = std::min<size_t>(argumentCount(arguments), 255);
  if (count == 0) {
    result.setError(kErrorValue);
    return;
  }
  if (isErrorLike(*arguments[0])) {
    result = *arguments[0];
    return;
  }
  if (count % 2 != 0) {
    result.setError(kErrorValue);
    return;
  }
  const size_t pairs = count / 2;
  std::vector<RangeSource> ranges(pairs);
  std::vector<Criterion> criteria(pairs);
  bool blanksMatch = true;
  bool anyNothing = false;
  for (size_t k = 0; k < pairs; ++k) {
    if (!ranges[k].assign(context, *arguments[2 * k]) ||
        ranges[k].columns() != ranges[0].columns() || ranges[k].rows() != ranges[0].rows()) {
      result.setError(kErrorValue);
      return;
    }
    criteria[k] = parseCriterion(context, *arguments[2 * k + 1]);
    blanksMatch = blanksMatch && matchesCriterion(criteria[k], emptyValue());
    anyNothing = anyNothing || criteria[k].op == kCriterionNothing;
  }
  double matches = 0;
  const int64_t rows = ranges[0].rows();
  for (uint32_t column = 0; column < ranges[0].columns() && !anyNothing; ++column) {
    int64_t last = -1;
    for (const RangeSource& range : ranges) last = std::max(last, range.lastRow(column));
    for (int64_t row = 0; row <= last; ++row) {
      bool all = true;
      for (size_t k = 0; k < pairs && all; ++k) {
        all = matchesCriterion(criteria[k], ranges[k].at(column, uint32_t(row)));
      }
      if (all) matches += 1;
    }
    if (blanksMatch) matches += double(rows - 1 - last);
  }
  setNumberResult(result, matches);
}

bool inArrayFormula(const CallContext& context) {
  return context.cell != nullptr &&
         (context.cell->arrayRange() != nullptr || context.cell->hasFlag(kCellArrayMember));
}

void sumIfRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* rangeArgument = argumentAt(arguments, 0);
  const Value* criteria = argumentAt(arguments, 1);
  const Value* sumArgument = argumentAt(arguments, 2);
  if (sumArgument == nullptr || sumArgument->isEmpty()) sumArgument = rangeArgument;
  RangeSource range, sums;
  if (rangeArgument == nullptr || !range.assign(context, *rangeArgument) ||
      !sums.assign(context, *sumArgument)) {
    result.setError(kErrorValue);
    return;
  }
  Criterion criterion;
  if (criteria != nullptr && criteria->isReference() && !inArrayFormula(context)) {
    criterion.op = kCriterionNothing;
    criterion.value.setError(kErrorValue);
  } else {
    criterion = parseCriterion(context, criteria != nullptr ? *criteria : Value());
  }
  sums.resizeTo(range.columns(), range.rows());
  double sum = 0;
  for (uint32_t column = 0; column < range.columns() && column < sums.columns(); ++column) {
    const int64_t last = std::min<int64_t>(sums.lastRow(column), int64_t(range.rows()) - 1);
    for (int64_t row = 0; row <= last; ++row) {
      const Value& addend = sums.at(column, uint32_t(row));
      if (!addend.isNumeric() && !addend.isError()) continue;
      if (!matchesCriterion(criterion, range.at(column, uint32_t(row)))) continue;
      // An error among the values to add spoils the sum as it does SUM's; dropping it would
      // report a total that leaves out a failed cell.
      if (addend.isError()) {
        result = addend;
        return;
      }
      sum += addend.number();
    }
  }
  setNumberResult(result, sum);
}

// The first error of the arrays and ranges, row by row within each argument.
bool firstProductError(const CallContext& context, const Value* const* arguments, Value& result) {
  for (size_t i = 0; arguments[i] != nullptr; ++i) {
    const Value& argument = *arguments[i];
    if (argument.isError()) {
      result = argument;
      return true;
    }
    if (!argument.isArray() && !argument.isReference()) continue;
    RangeSource source;
    if (!source.assign(context, argument)) continue;
    int64_t last = -1;
    for (uint32_t column = 0; column < source.columns(); ++column) {
      last = std::max(last, source.lastRow(column));
    }
    for (int64_t row = 0; row <= last; ++row) {
      for (uint32_t column = 0; column < source.columns(); ++column) {
        const Value& element = source.at(column, uint32_t(row));
        if (element.isError()) {
          result = element;
          return true;
        }
      }
    }
  }
  return false;
}

void sumProductRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  const size_t count = argumentCount(arguments);
  if (count == 0) {
    result.setError(kErrorValue);
    return;
  }
  if (firstProductError(context, arguments, result)) return;
  std::vector<RangeSource> factors(count);
  for (size_t i = 0; i < count; ++i) {
    const Value& argument = *arguments[i];
    bool usable = argument.isArray() || argument.isReference() || argument.isNumeric();
    if (!usable || !factors[i].assign(context, argument) ||
        factors[i].columns() != factors[0].columns() || factors[i].rows() != factors[0].rows() ||
        (factors[i].columns() == 1 && factors[i].rows() == 1 && factors[i].at(0, 0).isEmpty())) {
      result.setError(kErrorValue);
      return;
    }
  }
  double sum = 0;
  for (uint32_t column = 0; column < factors[0].columns(); ++column) {
    // A position below the last stored cell of any factor's column has an empty factor: 0.
    int64_t last = factors[0].lastRow(column);
    for (const RangeSource& factor : factors) last = std::min(last, factor.lastRow(column));
    for (int64_t row = 0; row <= last; ++row) {
      double product = 1;
      for (const RangeSource& factor : factors) {
        const Value& element = factor.at(column, uint32_t(row));
        if (!element.isNumeric()) {
          product = 0;
          break;
        }
        product *= element.number();
      }
      sum += product;
    }
  }
  setNumberResult(result, sum);
}

// Sets the inside-SUBTOTAL flag for the life of the scope, whichever way the routine ends.
class SubtotalScope {
 public:
  explicit SubtotalScope(Engine* engine) : engine_(engine) {
    if (engine_ != nullptr) engine_->insideSubtotal = true;
  }
  ~SubtotalScope() {
    if (engine_ != nullptr) engine_->insideSubtotal = false;
  }
  SubtotalScope(const SubtotalScope&) = delete;
  SubtotalScope& operator=(const SubtotalScope&) = delete;

 private:
  Engine* engine_;
};

void subtotalRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* codeArgument = argumentAt(arguments, 0);
  if (codeArgument == nullptr) {
    result.setError(kErrorValue);
    return;
  }
  double number = 0;
  if (!numberFromValue(*codeArgument, &number, result)) return;
  const double code = std::trunc(number);
  NativeRoutine delegated = nullptr;
  switch (int(std::clamp(code, -1.0, 1000.0))) {
    case 1:
      delegated = averageRoutine;
      break;
    case 2:
      delegated = countRoutine;
      break;
    case 3:
      delegated = countAllRoutine;
      break;
    case 4:
      delegated = maxRoutine;
      break;
    case 5:
      delegated = minRoutine;
      break;
    case 6:
      delegated = productRoutine;
      break;
    case 9:
      delegated = sumRoutine;
      break;
    case 7:
    case 8:
    case 10:
    case 11:
      break;
    default:
      if (code < 101 || code > 111) {
        result.setError(kErrorValue);
        return;
      }
  }
  if (delegated != nullptr) {
    SubtotalScope scope(context.engine);
    delegated(context, arguments + 1, result);
    return;
  }
  // Hidden rows and the deviations and variances are the host program's to compute.
  const std::u16string* name = FunctionCatalogue::instance().nameOfNumber(kSubtotalNumber);
  std::u16string formula = u"=";
  formula += name != nullptr ? *name : std::u16string(u"SUBTOTAL");
  formula += u'(';
  for (size_t i = 0; arguments[i] != nullptr; ++i) {
    if (i != 0) formula += userLocale().listSeparator;
    formula += argumentFormulaText(context, *arguments[i]);
  }
  formula += u')';
  evaluateOnHost(context, formula, result);
}

constexpr NativeEntry kAggregationFunctions[] = {
    {u"AVERAGE", averageRoutine},   {u"COUNT", countRoutine},
    {u"COUNTA", countAllRoutine},   {u"COUNTBLANK", countBlankRoutine},
    {u"COUNTIF", countIfRoutine},   {u"COUNTIFS", countIfsRoutine},
    {u"DGET", databaseGet},         {u"DMIN", databaseMin},
    {u"DSUM", databaseSum},         {u"MAX", maxRoutine},
    {u"MAXA", maxAllRoutine},       {u"MIN", minRoutine},
    {u"MINA", minAllRoutine},       {u"PRODUCT", productRoutine},
    {u"SUBTOTAL", subtotalRoutine}, {u"SUM", sumRoutine},
    {u"SUMIF", sumIfRoutine},       {u"SUMPRODUCT", sumProductRoutine},
};

}  // namespace

NativeTable aggregationFunctions() { return kAggregationFunctions; }

}  // namespace korvel
