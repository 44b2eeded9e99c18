#include "hosts/headless/functions/host_functions.h"

namespace korvel {
namespace {

constexpr NativeEntry kHostAggregateFunctions[] = {
    {u"", nullptr},
};

}  // namespace

NativeTable hostAggregateFunctions() { return NativeTable(kHostAggregateFunctions).first(0); }

}  // namespace korvel
