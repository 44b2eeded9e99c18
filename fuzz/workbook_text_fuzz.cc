// Fuzz target of the workbook text reader and, through it, the formula parser: every line is a
// sheet header, a name or a cell whose formula is parsed. A text that reads is also built into a
// model, which must not fail without saying why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/formula_parser.h"
#include "compiler/model_builder.h"
#include "compiler/workbook_text.h"
#include "functions/function_catalogue.h"
#include "model/compiled_model.h"
#include "util/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace korvel;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Workbook workbook;
  std::vector<std::string> errors;
  bool read = readWorkbookText(bytes, &workbook, &errors);
  if (read != errors.empty()) std::abort();
  if (read) {
    CompiledModel model;
    if (!buildModel(workbook, &FunctionCatalogue::instance(), model, &errors) && errors.empty())
      std::abort();
  }
  // The whole input as one formula too, since most lines of a fuzzed text are not cells.
  if (isValidUtf8(bytes)) {
    ParseError error;
    if (!parseFormula(fromUtf8(bytes), &error) && error.message.empty()) std::abort();
  }
  return 0;
}
