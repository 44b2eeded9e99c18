#include "hosts/headless/functions/host_functions.h"

namespace korvel {
namespace {

void placeholder(CallContext&, const Value* const*, Value& result) { result.setError(kErrorName); }

constexpr NativeEntry kPlaceholder[] = {{u"", placeholder}};

}  // namespace

NativeTable hostDistributionFunctions() { return NativeTable(kPlaceholder).first(0); }

}  // namespace korvel
