#include "functions/native_registry.h"

#include <algorithm>
#include <iterator>

#include "functions/native_families.h"
#include "functions/random_source.h"

namespace korvel {
namespace {

constexpr NativeName kNativeNames[] = {
    // Lookup and reference.
    {u"ADDRESS", nullptr},
    {u"CHOOSE", nullptr},
    {u"COLUMN", nullptr},
    {u"COLUMNS", nullptr},
    {u"GETPIVOTDATA", nullptr},
    {u"HLOOKUP", nullptr},
    {u"HYPERLINK", nullptr},
    {u"INDEX", nullptr},
    {u"INDIRECT", nullptr},
    {u"LOOKUP", nullptr},
    {u"MATCH", nullptr},
    {u"OFFSET", nullptr},
    {u"ROW", nullptr},
    {u"ROWS", nullptr},
    {u"TRANSPOSE", nullptr},
    {u"VLOOKUP", nullptr},
    // Aggregation and criteria.
    {u"AVERAGE", nullptr},
    {u"COUNT", nullptr},
    {u"COUNTA", nullptr},
    {u"COUNTBLANK", nullptr},
    {u"COUNTIF", nullptr},
    {u"COUNTIFS", nullptr},
    {u"DGET", nullptr},
    {u"DMIN", nullptr},
    {u"DSUM", nullptr},
    {u"MAX", nullptr},
    {u"MAXA", nullptr},
    {u"MIN", nullptr},
    {u"MINA", nullptr},
    {u"PRODUCT", nullptr},
    {u"SUBTOTAL", nullptr},
    {u"SUM", nullptr},
    {u"SUMIF", nullptr},
    {u"SUMPRODUCT", nullptr},
    {u"_XLFN.COUNTIFS", u"COUNTIFS"},
    // Date and time.
    {u"DATE", nullptr},
    {u"DATEDIF", nullptr},
    {u"DATEVALUE", nullptr},
    {u"DAY", nullptr},
    {u"EDATE", nullptr},
    {u"EOMONTH", nullptr},
    {u"MONTH", nullptr},
    {u"NOW", nullptr},
    {u"TIMEVALUE", nullptr},
    {u"TODAY", nullptr},
    {u"WEEKDAY", nullptr},
    {u"YEAR", nullptr},
    {u"YEARFRAC", nullptr},
    // Statistics.
    {u"FREQUENCY", nullptr},
    {u"LARGE", nullptr},
    {u"LINEST", nullptr},
    {u"MEDIAN", nullptr},
    {u"MODE", nullptr},
    {u"NORMINV", nullptr},
    {u"NORMSDIST", nullptr},
    {u"NORMSINV", nullptr},
    {u"RANK", nullptr},
    {u"SMALL", nullptr},
    {u"STDEV", nullptr},
    {u"STDEVA", nullptr},
    {u"STDEVP", nullptr},
    {u"STDEVPA", nullptr},
    {u"VAR", nullptr},
    {u"VARA", nullptr},
    {u"VARP", nullptr},
    {u"VARPA", nullptr},
    // Financial.
    {u"CUMIPMT", nullptr},
    {u"CUMPRINC", nullptr},
    {u"DB", nullptr},
    {u"DDB", nullptr},
    {u"FV", nullptr},
    {u"IPMT", nullptr},
    {u"IRR", nullptr},
    {u"MIRR", nullptr},
    {u"NPV", nullptr},
    {u"PMT", nullptr},
    {u"PPMT", nullptr},
    {u"PV", nullptr},
    {u"SLN", nullptr},
    {u"SYD", nullptr},
    // Text.
    {u"CHAR", nullptr},
    {u"CODE", nullptr},
    {u"CONCATENATE", nullptr},
    {u"DEC2HEX", nullptr},
    {u"EXACT", nullptr},
    {u"FIND", nullptr},
    {u"HEX2DEC", nullptr},
    {u"LEFT", nullptr},
    {u"LEN", nullptr},
    {u"LOWER", nullptr},
    {u"MID", nullptr},
    {u"PROPER", nullptr},
    {u"REPLACE", nullptr},
    {u"REPT", nullptr},
    {u"RIGHT", nullptr},
    {u"SEARCH", nullptr},
    {u"SUBSTITUTE", nullptr},
    {u"T", nullptr},
    {u"TEXT", nullptr},
    {u"TRIM", nullptr},
    {u"UPPER", nullptr},
    {u"VALUE", nullptr},
    // Math and rounding.
    {u"ABS", nullptr},
    {u"ACOS", nullptr},
    {u"ACOSH", nullptr},
    {u"ASIN", nullptr},
    {u"ASINH", nullptr},
    {u"ATAN", nullptr},
    {u"ATAN2", nullptr},
    {u"ATANH", nullptr},
    {u"CEILING", nullptr},
    {u"COMBIN", nullptr},
    {u"COS", nullptr},
    {u"COSH", nullptr},
    {u"DEGREES", nullptr},
    {u"EVEN", nullptr},
    {u"EXP", nullptr},
    {u"FACT", nullptr},
    {u"FLOOR", nullptr},
    {u"INT", nullptr},
    {u"ISEVEN", nullptr},
    {u"ISODD", nullptr},
    {u"LN", nullptr},
    {u"LOG", nullptr},
    {u"LOG10", nullptr},
    {u"MOD", nullptr},
    {u"ODD", nullptr},
    {u"PI", nullptr},
    {u"POWER", nullptr},
    {u"RADIANS", nullptr},
    {u"RAND", nullptr},
    {u"ROUND", nullptr},
    {u"ROUNDDOWN", nullptr},
    {u"ROUNDUP", nullptr},
    {u"SIGN", nullptr},
    {u"SIN", nullptr},
    {u"SINH", nullptr},
    {u"SQRT", nullptr},
    {u"SQRTPI", nullptr},
    {u"TAN", nullptr},
    {u"TANH", nullptr},
    {u"TRUNC", nullptr},
    // Logical and information.
    {u"AND", nullptr},
    {u"CELL", nullptr},
    {u"ERROR.TYPE", nullptr},
    {u"EVALUATE", nullptr},
    {u"FALSE", nullptr},
    {u"IF", nullptr},
    {u"IFERROR", nullptr},
    {u"INFO", nullptr},
    {u"ISBLANK", nullptr},
    {u"ISERR", nullptr},
    {u"ISERROR", nullptr},
    {u"ISLOGICAL", nullptr},
    {u"ISNA", nullptr},
    {u"ISNONTEXT", nullptr},
    {u"ISNUMBER", nullptr},
    {u"ISREF", nullptr},
    {u"ISTEXT", nullptr},
    {u"N", nullptr},
    {u"NA", nullptr},
    {u"NOT", nullptr},
    {u"OR", nullptr},
    {u"TRUE", nullptr},
    {u"TYPE", nullptr},
    {u"_XLFN.IFERROR", u"IFERROR"},
};

static_assert(std::size(kNativeNames) == NativeRegistry::kNameCount);

const NativeName* findName(std::u16string_view name) {
  for (const NativeName& entry : kNativeNames) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

}  // namespace

std::span<const NativeName> nativeNames() { return kNativeNames; }

std::vector<NativeTable> builtInFamilyTables() {
  return {lookupFunctions(),    aggregationFunctions(), dateTimeFunctions(), statisticalFunctions(),
          financialFunctions(), textFunctions(),        mathFunctions(),     logicalFunctions()};
}

NativeRegistry::NativeRegistry() {
  std::vector<NativeTable> tables = builtInFamilyTables();
  registerAll(tables);
  seedRandom();
}

NativeRegistry::NativeRegistry(std::span<const NativeTable> familyTables) {
  registerAll(familyTables);
}

NativeRegistry::~NativeRegistry() = default;

const NativeRegistry& NativeRegistry::instance() {
  static const NativeRegistry registry;
  return registry;
}

void NativeRegistry::registerAll(std::span<const NativeTable> familyTables) {
  // The routines by name, first entry first; whatever cannot be taken is kept for the check that
  // every family table is sound.
  std::map<std::u16string_view, NativeRoutine> routines;
  for (NativeTable table : familyTables) {
    for (const NativeEntry& entry : table) {
      std::u16string_view name = entry.name != nullptr ? entry.name : u"";
      const NativeName* registered = findName(name);
      if (registered == nullptr || registered->aliasOf != nullptr || entry.routine == nullptr ||
          !routines.emplace(name, entry.routine).second) {
        rejected_.emplace_back(name);
      }
    }
  }
  // Every name gets its own object, the aliases too, so that each is destroyed exactly once;
  // an alias holds the routine of the function it stands for.
  for (const NativeName& entry : kNativeNames) {
    std::u16string_view routineName = entry.aliasOf != nullptr ? entry.aliasOf : entry.name;
    auto found = routines.find(routineName);
    NativeRoutine routine = found == routines.end() ? nullptr : found->second;
    functions_.emplace(entry.name, std::make_unique<NativeFunction>(routine));
  }
}

const NativeFunction* NativeRegistry::findNative(std::u16string_view name) const {
  auto found = functions_.find(name);
  return found == functions_.end() ? nullptr : found->second.get();
}

size_t NativeRegistry::nativeCount() const {
  return std::count_if(functions_.begin(), functions_.end(),
                       [](const auto& entry) { return entry.second->isNative(); });
}

}  // namespace korvel
