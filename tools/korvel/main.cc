// The korvel command-line tool: runs the runtime's pieces on the headless host.
#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>
#include <string>

#include "engine/locale_settings.h"
#include "engine/number_text.h"
#include "engine/value.h"
#include "engine/value_convert.h"
#include "hosts/headless/headless_locale.h"
#include "hosts/headless/system_clock.h"
#include "util/text.h"

namespace korvel {
namespace {

// Reads each line as a cell text the way an operator needs it as a number, and shows the result
// as the engine displays it.
int showValues(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "korvel: cannot open " << path << "\n";
    return 2;
  }
  HeadlessLocale locale;
  SystemClock clock;
  installLocale(&locale, &clock);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || (line[0] == '#' && line.size() > 1 && line[1] == ' ')) continue;
    std::u16string text = fromUtf8(line);
    Value value;
    if (uint32_t code = errorFromText(text)) {
      value.setError(code);
    } else if (equalsNoCase(text, literalText(kTextTrue)) ||
               equalsNoCase(text, literalText(kTextFalse))) {
      value.setBoolean(equalsNoCase(text, literalText(kTextTrue)));
    } else {
      double number = 0;
      if (toNumberForOperator(Value::text(text), false, &number)) {
        value.setNumber(number);
      } else {
        value.setText(text);
      }
    }
    static const char* const kKinds[] = {"empty", "integer", "number",    "text",
                                         "text",  "boolean", "reference", "reference list",
                                         "array", "error"};
    std::cout << "\"" << line << "\" -> " << kKinds[int(value.kind())] << ": "
              << toUtf8(toText(value)) << "\n";
  }
  return 0;
}

}  // namespace
}  // namespace korvel

int main(int argc, char** argv) {
  CLI::App app{"korvel: the runtime of compiled spreadsheet applications, on the headless host"};
  app.require_subcommand(1);
  std::string valuesFile;
  auto* values = app.add_subcommand("values", "Read cell texts as the engine does and show them");
  values->add_option("FILE", valuesFile, "A text file, one cell text a line")->required();
  CLI11_PARSE(app, argc, argv);
  if (*values) return korvel::showValues(valuesFile);
  return 0;
}
