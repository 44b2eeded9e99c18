// What `korvel dump` prints of a loaded model: a text listing for people, JSON for programs.
#ifndef KORVEL_TOOLS_KORVEL_MODEL_DUMP_H_
#define KORVEL_TOOLS_KORVEL_MODEL_DUMP_H_

#include <nlohmann/json_fwd.hpp>
#include <string>

#include "model/compiled_model.h"

namespace korvel {

std::string dumpText(const CompiledModel& model);
nlohmann::ordered_json dumpJson(const CompiledModel& model);

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_MODEL_DUMP_H_
