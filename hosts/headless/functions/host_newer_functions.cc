#include "hosts/headless/functions/host_functions.h"

namespace korvel {
namespace {

constexpr NativeEntry kHostNewerFunctions[] = {
    {u"", nullptr},
};

}  // namespace

NativeTable hostNewerFunctions() { return NativeTable(kHostNewerFunctions).first(0); }

}  // namespace korvel
