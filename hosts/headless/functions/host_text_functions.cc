#include "hosts/headless/functions/host_functions.h"

namespace korvel {
namespace {

constexpr NativeEntry kHostTextFunctions[] = {
    {u"", nullptr},
};

}  // namespace

NativeTable hostTextFunctions() { return NativeTable(kHostTextFunctions).first(0); }

}  // namespace korvel
