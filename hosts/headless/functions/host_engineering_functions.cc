#include "hosts/headless/functions/host_functions.h"

namespace korvel {
namespace {

constexpr NativeEntry kHostEngineeringFunctions[] = {
    {u"", nullptr},
};

}  // namespace

NativeTable hostEngineeringFunctions() { return NativeTable(kHostEngineeringFunctions).first(0); }

}  // namespace korvel
