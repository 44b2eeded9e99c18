// What `korvel dump` prints of a loaded model: a text listing for people, JSON for programs.
#ifndef KORVEL_TOOLS_KORVEL_MODEL_DUMP_H_
#define KORVEL_TOOLS_KORVEL_MODEL_DUMP_H_

#include <nlohmann/json_fwd.hpp>
#include <string>

#include "model/compiled_model.h"

namespace korvel {

std::string dumpText(const CompiledModel& model);
nlohmann::ordered_json dumpJson(const CompiledModel& model);

// One value as both forms show it; references are named with the model's sheets.
nlohmann::ordered_json valueJson(const CompiledModel& model, const Value& v);
std::string valueText(const CompiledModel& model, const Value& v);

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_MODEL_DUMP_H_
