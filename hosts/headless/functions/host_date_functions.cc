// Dates, times and working days the runtime leaves to the host program, and the CELL and INFO
// questions its natives hand over.
//
// Host program rules matched here:
// - Dates read like the natives' date arguments: a text as a date (or date and time) first, then
//   as a number; the empty value is 0; the time of day is dropped (DAYS360 first rounds it to
//   the second, so 23:59:59.9 is the next day there). A serial below 0 or past
//   31 December 9999 gives #NUM!. The functions that came from the analysis add-in (WEEKNUM,
//   NETWORKDAYS, WORKDAY and their .INTL forms, YEARFRAC) refuse booleans with #VALUE!; DAYS,
//   DAYS360, ISOWEEKNUM and the time functions read TRUE as 1.
// - Weekdays are counted on serials, so in the 1900 system the days before the counted
//   29 February 1900 keep the host program's weekdays (serial 1 a Sunday).
// - Holidays may be numbers, date texts, ranges, arrays or lists of ranges; empty cells are passed
//   over, a boolean or a text that is no date gives #VALUE!, an error is passed on. A holiday on a
//   weekend day or outside the span changes nothing, and a date listed twice counts once.
// - A weekend is a code (1 to 7: two days from Saturday and Sunday on to Friday and Saturday;
//   11 to 17: one day, Sunday to Saturday; another number #NUM!) or seven "0"/"1" characters from
//   Monday to Sunday, "1" a day off (another text #VALUE!). A week of no working days counts no
//   days in NETWORKDAYS.INTL and is #VALUE! in WORKDAY.INTL, which would never arrive.
// - HOUR, MINUTE and SECOND round the time of day to the nearest second, so 10:59:59.6 is 11:00:00.
// - CELL: the compiled model keeps no formats or protection, so every cell answers as a cell of
//   the standard style: format "G", color and parentheses 0, protect 1. The width is the column's
//   as the workbook gave it (the standard width's 8 characters when it gave none). The filename
//   has no folder: the headless workbook lives in memory, so it is "[Book]Sheet".
// - INFO: "numfile" counts the model's sheets, "origin" is "$A:$A$1", "recalc" "Automatic",
//   "release" "16.0" (the version the headless program's Application reports), "system" "pcdos";
//   "directory", "osversion" and the memory types have no answer here and give #N/A, and any
//   other text #VALUE!.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/date_text.h"
#include "engine/engine.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "hosts/headless/functions/day_count.h"
#include "hosts/headless/functions/host_functions.h"
#include "hosts/headless/headless_calc_host.h"
#include "model/address.h"
#include "model/cell.h"
#include "model/compiled_model.h"
#include "model/sheet.h"
#include "util/text.h"

namespace korvel {
namespace {

constexpr double kSecondsPerDay = 86400;

bool usesDate1904(const CallContext& context) {
  return context.engine != nullptr && context.engine->date1904;
}

// How a date argument treats TRUE and FALSE.
enum class Booleans { kRefused, kNumbers };

// A date argument as a serial with its time of day. 0 with *serial set, else the error code of
// the result.
uint32_t readDateTime(const CallContext& context, const Value* argument, Booleans booleans,
                      double* serial) {
  if (argument == nullptr) {
    *serial = 0;
    return 0;
  }
  const Value value = dereferenced(context, *argument);
  if (value.isError()) return value.errorCode();
  if (value.isBoolean() && booleans == Booleans::kRefused) return kErrorValue;
  const bool date1904 = usesDate1904(context);
  double number = 0;
  if (value.isText() && dateTimeTextToNumber(value.text(), date1904, &number)) {
    // read as a date
  } else if (value.isText() && isErrorText(value.text())) {
    return errorFromText(value.text());
  } else if (!toNumber(value, &number)) {
    return kErrorValue;
  }
  if (number < 0 || number >= double(maxDateSerial(date1904)) + 1) return kErrorNum;
  *serial = number;
  return 0;
}

// A date argument as a whole serial, the time of day dropped.
uint32_t readDate(const CallContext& context, const Value* argument, Booleans booleans,
                  int64_t* serial) {
  double number = 0;
  const uint32_t error = readDateTime(context, argument, booleans, &number);
  if (error == 0) *serial = int64_t(number);
  return error;
}

// A whole-number argument (a count of days, a return type, a basis); an absent or empty one is
// the fallback. 0 with *out set, else the error code of the result.
uint32_t readWhole(const CallContext& context, const Value* argument, Booleans booleans,
                   double fallback, double* out) {
  if (argument == nullptr) {
    *out = fallback;
    return 0;
  }
  const Value value = dereferenced(context, *argument);
  if (value.isEmpty()) {
    *out = fallback;
    return 0;
  }
  if (value.isBoolean() && booleans == Booleans::kRefused) return kErrorValue;
  double number = 0;
  const uint32_t error = numberOrError(value, &number);
  if (error != 0) return error;
  *out = std::trunc(number);
  return 0;
}

// Stops the call with the error when there is one.
bool failed(uint32_t error, Value& result) {
  if (error == 0) return false;
  setErrorResult(result, error);
  return true;
}

void days(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  int64_t end = 0, start = 0;
  if (failed(readDate(context, argumentAt(arguments, 0), Booleans::kNumbers, &end), result) ||
      failed(readDate(context, argumentAt(arguments, 1), Booleans::kNumbers, &start), result)) {
    return;
  }
  setNumberResult(result, double(end - start));
}

void days360Routine(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  // DAYS360 splits its dates with the time of day rounded to the second, so a time a fraction
  // of a second before midnight is the next day.
  double startTime = 0, endTime = 0;
  if (failed(readDateTime(context, argumentAt(arguments, 0), Booleans::kNumbers, &startTime),
             result) ||
      failed(readDateTime(context, argumentAt(arguments, 1), Booleans::kNumbers, &endTime),
             result)) {
    return;
  }
  const int64_t start =
      int64_t(std::floor(std::round(startTime * kSecondsPerDay) / kSecondsPerDay));
  const int64_t end = int64_t(std::floor(std::round(endTime * kSecondsPerDay) / kSecondsPerDay));
  bool european = false;
  if (const Value* method = argumentAt(arguments, 2)) {
    const Value value = dereferenced(context, *method);
    if (value.isText()) {
      const bool isTrue = equalsNoCase(value.text(), u"TRUE");
      if (!isTrue && !equalsNoCase(value.text(), u"FALSE")) {
        result.setError(kErrorValue);
        return;
      }
      european = isTrue;
    } else if (value.isNumeric() || value.isBoolean() || value.isEmpty()) {
      european = toBoolean(value);
    } else {
      result.setError(kErrorValue);
      return;
    }
  }
  const bool date1904 = usesDate1904(context);
  setNumberResult(
      result,
      double(days360(calendarDate(start, date1904), calendarDate(end, date1904),
                     european ? Days360Rule::kEuropean : Days360Rule::kUsDays360, date1904)));
}

// The ISO 8601 week: weeks start on Monday, and week 1 holds the year's first Thursday.
int isoWeek(int64_t serial, bool date1904) {
  const int mondayBased = (weekdayOfSerial(serial, date1904) + 6) % 7;  // 0 Monday
  const int64_t thursday = serial - mondayBased + 3;
  const int year = calendarDate(thursday, date1904).year;
  return int((thursday - serialOfDate(year, 1, 1, date1904)) / 7 + 1);
}

void isoWeekNum(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  int64_t serial = 0;
  if (failed(readDate(context, argumentAt(arguments, 0), Booleans::kNumbers, &serial), result)) {
    return;
  }
  result.setInteger(isoWeek(serial, usesDate1904(context)));
}

void weekNum(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  int64_t serial = 0;
  double type = 1;
  if (failed(readDate(context, argumentAt(arguments, 0), Booleans::kRefused, &serial), result) ||
      failed(readWhole(context, argumentAt(arguments, 1), Booleans::kRefused, 1, &type), result)) {
    return;
  }
  const bool date1904 = usesDate1904(context);
  int firstDay = -1;  // the weekday a week starts on, 0 Sunday
  if (type == 1 || type == 17) {
    firstDay = 0;
  } else if (type == 2 || type == 11) {
    firstDay = 1;
  } else if (type >= 12 && type <= 16) {
    firstDay = int(type) - 10;
  } else if (type == 21) {
    result.setInteger(isoWeek(serial, date1904));
    return;
  }
  if (firstDay < 0) {
    result.setError(kErrorNum);
    return;
  }
  // Week 1 is the week that holds 1 January, however few of its days fall in the year.
  const int64_t january1 = serialOfDate(calendarDate(serial, date1904).year, 1, 1, date1904);
  const int64_t lead = (weekdayOfSerial(january1, date1904) - firstDay + 7) % 7;
  const int64_t offset = serial - january1 + lead;
  result.setInteger(int(offset >= 0 ? offset / 7 + 1 : 0));
}

void timeRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double parts[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    if (failed(readWhole(context, argumentAt(arguments, i), Booleans::kNumbers, 0, &parts[i]),
               result)) {
      return;
    }
    if (parts[i] > 32767 || parts[i] < -32768) {
      result.setError(kErrorNum);
      return;
    }
  }
  const double seconds = parts[0] * 3600 + parts[1] * 60 + parts[2];
  if (seconds < 0) {
    result.setError(kErrorNum);
    return;
  }
  setNumberResult(result, std::fmod(seconds, kSecondsPerDay) / kSecondsPerDay);
}

// The time of day of a serial in whole seconds, rounded. False with the result set.
bool secondOfDay(CallContext& context, const Value* const* arguments, int64_t* second,
                 Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return false;
  const Value* argument = argumentAt(arguments, 0);
  const bool date1904 = usesDate1904(context);
  double serial = 0;
  if (argument != nullptr) {
    const Value value = dereferenced(context, *argument);
    if (value.isText() && dateTimeTextToNumber(value.text(), date1904, &serial)) {
      // read as a date or a time
    } else if (!toNumber(value, &serial)) {
      result.setError(kErrorValue);
      return false;
    }
  }
  if (serial < 0 || serial >= double(maxDateSerial(date1904)) + 1) {
    result.setError(kErrorNum);
    return false;
  }
  const int64_t rounded = std::llround((serial - std::floor(serial)) * kSecondsPerDay);
  *second = rounded % int64_t(kSecondsPerDay);
  return true;
}

void hourRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  int64_t second = 0;
  if (secondOfDay(context, arguments, &second, result)) result.setInteger(int(second / 3600));
}

void minuteRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  int64_t second = 0;
  if (secondOfDay(context, arguments, &second, result)) result.setInteger(int(second / 60 % 60));
}

void secondRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  int64_t second = 0;
  if (secondOfDay(context, arguments, &second, result)) result.setInteger(int(second % 60));
}

// Days off by weekday, 0 Sunday.
struct Weekend {
  bool off[7] = {true, false, false, false, false, false, true};  // Saturday and Sunday
  int workingDays() const { return int(std::count(off, off + 7, false)); }
};

uint32_t readWeekend(const CallContext& context, const Value* argument, Weekend* weekend) {
  Weekend chosen;
  if (argument != nullptr) {
    const Value value = dereferenced(context, *argument);
    if (value.isError()) return value.errorCode();
    if (value.isText()) {
      const std::u16string_view text = value.text();
      if (isErrorText(text)) return errorFromText(text);
      if (text.size() != 7) return kErrorValue;
      for (size_t i = 0; i < 7; ++i) {
        if (text[i] != u'0' && text[i] != u'1') return kErrorValue;
        chosen.off[(i + 1) % 7] = text[i] == u'1';  // the text starts on Monday
      }
    } else if (value.isNumeric() || value.isEmpty()) {
      const double code = value.isEmpty() ? 1 : std::trunc(value.number());
      if (code >= 1 && code <= 7) {
        const int first = int(code) + 5;  // code 1: Saturday and Sunday
        std::fill(chosen.off, chosen.off + 7, false);
        chosen.off[first % 7] = chosen.off[(first + 1) % 7] = true;
      } else if (code >= 11 && code <= 17) {
        std::fill(chosen.off, chosen.off + 7, false);
        chosen.off[int(code) - 11] = true;
      } else {
        return kErrorNum;
      }
    } else {
      return kErrorValue;
    }
  }
  *weekend = chosen;
  return 0;
}

// One holiday value into the list; empty values add nothing.
uint32_t addHoliday(const CallContext& context, const Value& value, std::vector<int64_t>* out) {
  if (value.isEmpty()) return 0;
  int64_t serial = 0;
  const uint32_t error = readDate(context, &value, Booleans::kRefused, &serial);
  if (error == 0) out->push_back(serial);
  return error;
}

uint32_t addHolidayRange(const CallContext& context, const RangeRef& reference,
                         std::vector<int64_t>* out) {
  const RangeRef range = normalizeRange(reference);
  if (!isValidRange(range) || range.first.sheet() != range.last.sheet()) return kErrorRef;
  const uint32_t sheet = range.first.sheet();
  for (uint32_t c = range.first.column(); c <= range.last.column(); ++c) {
    const int64_t bottom = std::min<int64_t>(lastStoredRow(context, sheet, c), range.last.row());
    for (int64_t r = range.first.row(); r <= bottom; ++r) {
      const uint32_t error =
          addHoliday(context, cellValueAt(context, CellRef::at(sheet, uint32_t(r), c)), out);
      if (error != 0) return error;
    }
  }
  return 0;
}

// The holidays that fall on working days, sorted, each once.
uint32_t readHolidays(const CallContext& context, const Value* argument, const Weekend& weekend,
                      bool date1904, std::vector<int64_t>* holidays) {
  std::vector<int64_t> all;
  uint32_t error = 0;
  if (argument == nullptr) {
    // none
  } else if (argument->isReference()) {
    error = addHolidayRange(context, argument->reference(), &all);
  } else if (argument->isReferenceList() || argument->isArray()) {
    for (const Value& part : argument->array().elements()) {
      error = part.isReference() ? addHolidayRange(context, part.reference(), &all)
                                 : addHoliday(context, part, &all);
      if (error != 0) break;
    }
  } else {
    error = addHoliday(context, *argument, &all);
  }
  if (error != 0) return error;
  holidays->clear();
  for (int64_t day : all) {
    if (!weekend.off[weekdayOfSerial(day, date1904)]) holidays->push_back(day);
  }
  std::sort(holidays->begin(), holidays->end());
  holidays->erase(std::unique(holidays->begin(), holidays->end()), holidays->end());
  return 0;
}

// Holidays from first to last, both included.
int64_t holidaysBetween(const std::vector<int64_t>& holidays, int64_t first, int64_t last) {
  if (last < first) return 0;
  return std::upper_bound(holidays.begin(), holidays.end(), last) -
         std::lower_bound(holidays.begin(), holidays.end(), first);
}

// NETWORKDAYS and NETWORKDAYS.INTL: the weekend argument at weekendAt, or none when negative.
void countWorkingDays(CallContext& context, const Value* const* arguments, int weekendAt,
                      Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  const bool date1904 = usesDate1904(context);
  int64_t start = 0, end = 0;
  Weekend weekend;
  std::vector<int64_t> holidays;
  const int holidaysAt = weekendAt < 0 ? 2 : 3;
  if (failed(readDate(context, argumentAt(arguments, 0), Booleans::kRefused, &start), result) ||
      failed(readDate(context, argumentAt(arguments, 1), Booleans::kRefused, &end), result) ||
      (weekendAt >= 0 &&
       failed(readWeekend(context, argumentAt(arguments, weekendAt), &weekend), result)) ||
      failed(readHolidays(context, argumentAt(arguments, holidaysAt), weekend, date1904, &holidays),
             result)) {
    return;
  }
  const int64_t first = std::min(start, end), last = std::max(start, end);
  const int64_t span = last - first + 1;
  int64_t count = span / 7 * weekend.workingDays();
  for (int64_t day = first + span / 7 * 7; day <= last; ++day) {
    if (!weekend.off[weekdayOfSerial(day, date1904)]) ++count;
  }
  count -= holidaysBetween(holidays, first, last);
  setNumberResult(result, double(start <= end ? count : -count));
}

void networkDays(CallContext& context, const Value* const* arguments, Value& result) {
  countWorkingDays(context, arguments, -1, result);
}

void networkDaysIntl(CallContext& context, const Value* const* arguments, Value& result) {
  countWorkingDays(context, arguments, 2, result);
}

// WORKDAY and WORKDAY.INTL: the weekend argument at weekendAt, or none when negative.
void addWorkingDays(CallContext& context, const Value* const* arguments, int weekendAt,
                    Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  const bool date1904 = usesDate1904(context);
  int64_t start = 0;
  double count = 0;
  Weekend weekend;
  std::vector<int64_t> holidays;
  const int holidaysAt = weekendAt < 0 ? 2 : 3;
  if (failed(readDate(context, argumentAt(arguments, 0), Booleans::kRefused, &start), result) ||
      failed(readWhole(context, argumentAt(arguments, 1), Booleans::kRefused, 0, &count), result) ||
      (weekendAt >= 0 &&
       failed(readWeekend(context, argumentAt(arguments, weekendAt), &weekend), result))) {
    return;
  }
  const int perWeek = weekend.workingDays();
  if (perWeek == 0) {
    result.setError(kErrorValue);
    return;
  }
  if (failed(readHolidays(context, argumentAt(arguments, holidaysAt), weekend, date1904, &holidays),
             result)) {
    return;
  }
  const int64_t last = maxDateSerial(date1904);
  // Every working day takes at least one calendar day.
  if (std::fabs(count) > double(last)) {
    result.setError(kErrorNum);
    return;
  }
  const int64_t step = count < 0 ? -1 : 1;
  int64_t remaining = int64_t(std::fabs(count));
  int64_t day = start;
  while (remaining > 0) {
    if (remaining > perWeek) {
      // Whole weeks hold the same working days wherever they start; holidays in them are made
      // up for afterwards.
      const int64_t weeks = (remaining - 1) / perWeek;
      const int64_t next = day + step * 7 * weeks;
      const int64_t missed = step > 0 ? holidaysBetween(holidays, day + 1, next)
                                      : holidaysBetween(holidays, next, day - 1);
      remaining -= weeks * perWeek - missed;
      day = next;
    } else {
      day += step;
      if (!weekend.off[weekdayOfSerial(day, date1904)] &&
          !std::binary_search(holidays.begin(), holidays.end(), day)) {
        --remaining;
      }
    }
    if (day < 0 || day > last) {
      result.setError(kErrorNum);
      return;
    }
  }
  setNumberResult(result, double(day));
}

void workDay(CallContext& context, const Value* const* arguments, Value& result) {
  addWorkingDays(context, arguments, -1, result);
}

void workDayIntl(CallContext& context, const Value* const* arguments, Value& result) {
  addWorkingDays(context, arguments, 2, result);
}

// The native YEARFRAC has checked the dates; the fraction is computed here.
void yearFrac(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  int64_t start = 0, end = 0;
  double basis = 0;
  if (failed(readDate(context, argumentAt(arguments, 0), Booleans::kRefused, &start), result) ||
      failed(readDate(context, argumentAt(arguments, 1), Booleans::kRefused, &end), result) ||
      failed(readWhole(context, argumentAt(arguments, 2), Booleans::kRefused, 0, &basis), result)) {
    return;
  }
  if (basis < 0 || basis > 4) {
    result.setError(kErrorNum);
    return;
  }
  setNumberResult(result,
                  yearFraction(start, end, DayCountBasis(int(basis)), usesDate1904(context)));
}

// CELL("width"): the whole characters the column shows; in an array formula also whether the
// column has the sheet's default width, as the program gives both.
void columnWidth(const CallContext& context, CellRef cell, Value& result) {
  const auto* host = context.engine != nullptr
                         ? dynamic_cast<const HeadlessCalcHost*>(context.engine->host())
                         : nullptr;
  bool standard = true;
  const int characters =
      host != nullptr ? host->columnCharacters(cell.sheet(), cell.column(), &standard) : 8;
  const Cell* caller = context.cell;
  if (caller == nullptr ||
      (caller->arrayRange() == nullptr && !caller->hasFlag(kCellArrayMember))) {
    return result.setInteger(characters);
  }
  ValueArray pair(2, 1);
  pair.at(0, 0).setInteger(characters);
  pair.at(1, 0).setBoolean(standard);
  result.setArray(std::move(pair));
}

// The info types the native CELL leaves to the host (it answers "type" and "address" itself).
void cell(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* infoType = argumentAt(arguments, 0);
  if (infoType == nullptr || !infoType->isText()) {
    result.setError(kErrorValue);
    return;
  }
  CellRef first;
  if (!cellArgumentAddress(context, argumentAt(arguments, 1), &first, result)) return;

  const std::u16string_view type = infoType->text();
  if (equalsNoCase(type, u"row")) {
    result.setInteger(int32_t(first.row() + 1));
  } else if (equalsNoCase(type, u"col")) {
    result.setInteger(int32_t(first.column() + 1));
  } else if (equalsNoCase(type, u"contents")) {
    result = cellArgumentValue(context, first);
  } else if (equalsNoCase(type, u"filename")) {
    const std::u16string workbook =
        context.engine != nullptr ? context.engine->workbookName : std::u16string();
    result.setText(u"[" + workbook + u"]" + contextSheetName(context, first.sheet()));
  } else if (equalsNoCase(type, u"format")) {
    result.setText(u"G");
  } else if (equalsNoCase(type, u"prefix")) {
    // Text in the standard (general) alignment shows left-aligned.
    const Value& value = cellValueAt(context, first);
    result.setText(value.isText() ? u"'" : u"");
  } else if (equalsNoCase(type, u"color") || equalsNoCase(type, u"parentheses")) {
    result.setInteger(0);
  } else if (equalsNoCase(type, u"protect")) {
    result.setInteger(1);
  } else if (equalsNoCase(type, u"width")) {
    columnWidth(context, first, result);
  } else {
    result.setError(kErrorValue);
  }
}

// The info types the native INFO leaves to the host.
void info(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  const Value* argument = argumentAt(arguments, 0);
  const Value type = argument != nullptr ? dereferenced(context, *argument) : Value();
  if (!type.isText()) {
    result.setError(kErrorValue);
    return;
  }
  const std::u16string_view text = type.text();
  if (equalsNoCase(text, u"numfile")) {
    const CompiledModel* model = contextModel(context);
    result.setInteger(int32_t(model != nullptr ? model->sheets().size() : 0));
  } else if (equalsNoCase(text, u"origin")) {
    result.setText(u"$A:$A$1");
  } else if (equalsNoCase(text, u"recalc")) {
    result.setText(u"Automatic");
  } else if (equalsNoCase(text, u"release")) {
    result.setText(u"16.0");
  } else if (equalsNoCase(text, u"system")) {
    result.setText(u"pcdos");
  } else if (equalsNoCase(text, u"directory") || equalsNoCase(text, u"osversion") ||
             equalsNoCase(text, u"memavail") || equalsNoCase(text, u"memused") ||
             equalsNoCase(text, u"totmem")) {
    result.setError(kErrorNA);
  } else {
    result.setError(kErrorValue);
  }
}

constexpr NativeEntry kHostDateFunctions[] = {
    {u"CELL", cell},
    {u"DAYS", days},
    {u"DAYS360", days360Routine},
    {u"HOUR", hourRoutine},
    {u"INFO", info},
    {u"ISOWEEKNUM", isoWeekNum},
    {u"MINUTE", minuteRoutine},
    {u"NETWORKDAYS", networkDays},
    {u"NETWORKDAYS.INTL", networkDaysIntl},
    {u"SECOND", secondRoutine},
    {u"TIME", timeRoutine},
    {u"WEEKNUM", weekNum},
    {u"WORKDAY", workDay},
    {u"WORKDAY.INTL", workDayIntl},
    {u"YEARFRAC", yearFrac},
};

}  // namespace

NativeTable hostDateFunctions() { return kHostDateFunctions; }

}  // namespace korvel
