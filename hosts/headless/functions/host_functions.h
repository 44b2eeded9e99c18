// The worksheet functions the headless program computes itself: every catalogued function that
// the runtime leaves to the host program. The runtime hands them over by number (the catalogue's
// worksheet-function number) or, for functions newer than the catalogue, as a formula text; the
// headless calculation host finds the routine by the function's name either way.
//
// Routines have the natives' shape, so they read their arguments with the shared argument rules
// of functions/arguments.h (references read through the context's engine and model) and call a
// native routine where a host function is the same computation; nothing of a native is written
// twice. Each family ends its file with its table, as the native families do.
#ifndef KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_FUNCTIONS_H_
#define KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_FUNCTIONS_H_

#include <string_view>
#include <vector>

#include "engine/native_function.h"
#include "functions/native_registry.h"

namespace korvel {

NativeTable hostMathFunctions();          // rounding, combinatorics, matrices, number bases
NativeTable hostEngineeringFunctions();   // bases, bits, error function, Bessel, units, complex
NativeTable hostTextFunctions();          // TEXT and the number formats, text conversions
NativeTable hostLanguageFunctions();      // byte-counting forms, character widths, BAHTTEXT
NativeTable hostDateFunctions();          // dates, times, working days, CELL and INFO
NativeTable hostAggregateFunctions();     // criteria, database, subtotals, logical, information
NativeTable hostNewerFunctions();         // functions newer than the catalogue, by name
NativeTable hostDistributionFunctions();  // distributions, their inverses, the tests on them
NativeTable hostStatisticsFunctions();    // descriptive statistics, discrete distributions
NativeTable hostRegressionFunctions();    // pairs of series and least squares
NativeTable hostSecuritiesFunctions();    // bonds, coupons, discounted securities, bills
NativeTable hostFinancialFunctions();     // rates, periods, depreciation, dated cash flows

// The sort order of values, as SORT orders them: numbers, texts, booleans, errors (by their
// number: #NULL!, #DIV/0!, #VALUE!, #REF!, #NAME?, #NUM!, #N/A), then empty cells. 0 for values
// that sort as one (texts differing only in case).
int sortOrder(const Value& a, const Value& b);

// Every family's table, in the order above.
std::vector<NativeTable> hostFamilyTables();

// The routine for the function of that name (upper case; the prefix newer functions carry in
// formulas is ignored), or null when the headless program does not compute it.
NativeRoutine hostRoutine(std::u16string_view name);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_FUNCTIONS_H_
