#include "hosts/headless/functions/host_functions.h"

namespace korvel {
namespace {

constexpr NativeEntry kHostDateFunctions[] = {
    {u"", nullptr},
};

}  // namespace

NativeTable hostDateFunctions() { return NativeTable(kHostDateFunctions).first(0); }

}  // namespace korvel
