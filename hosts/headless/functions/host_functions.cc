#include "hosts/headless/functions/host_functions.h"

#include <map>
#include <string>

#include "util/text.h"

namespace korvel {

std::vector<NativeTable> hostFamilyTables() {
  return {hostMathFunctions(),       hostEngineeringFunctions(),  hostTextFunctions(),
          hostLanguageFunctions(),   hostDateFunctions(),         hostAggregateFunctions(),
          hostNewerFunctions(),      hostDistributionFunctions(), hostStatisticsFunctions(),
          hostRegressionFunctions(), hostSecuritiesFunctions(),   hostFinancialFunctions()};
}

NativeRoutine hostRoutine(std::u16string_view name) {
  static const std::map<std::u16string, NativeRoutine, std::less<>> routines = [] {
    std::map<std::u16string, NativeRoutine, std::less<>> byName;
    for (NativeTable table : hostFamilyTables()) {
      // The first entry of a name wins, as in the native registry.
      for (const NativeEntry& entry : table) byName.emplace(entry.name, entry.routine);
    }
    return byName;
  }();
  constexpr std::u16string_view kFuturePrefix = u"_XLFN.";
  if (name.size() > kFuturePrefix.size() && startsWithNoCase(name, kFuturePrefix)) {
    name.remove_prefix(kFuturePrefix.size());
  }
  auto it = routines.find(toUpper(name));
  return it == routines.end() ? nullptr : it->second;
}

}  // namespace korvel
