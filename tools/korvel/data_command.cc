#include "tools/korvel/data_command.h"

namespace korvel {

int dataDumpCommand(const std::string&, bool) { return 2; }

}  // namespace korvel
