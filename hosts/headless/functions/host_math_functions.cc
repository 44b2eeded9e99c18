#include "hosts/headless/functions/host_functions.h"

namespace korvel {
namespace {

constexpr NativeEntry kHostMathFunctions[] = {
    {u"", nullptr},
};

}  // namespace

NativeTable hostMathFunctions() { return NativeTable(kHostMathFunctions).first(0); }

}  // namespace korvel
