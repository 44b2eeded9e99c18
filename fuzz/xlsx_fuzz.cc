// Fuzz target of the .xlsx package reader. The reader takes a path (the zip library reads the
// file), so the input is written to a temporary file first. The reader must refuse with a message
// or read; a package that reads is also built into a model.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "compiler/model_builder.h"
#include "compiler/xlsx_reader.h"
#include "functions/function_catalogue.h"
#include "model/compiled_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace korvel;
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/korvel_xlsx_fuzz_" +
           std::to_string(::getpid()) + ".xlsx";
  }();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  bool written = std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) return 0;
  // Small limits: the fuzzer's memory limit is the machine's concern, the limits the reader's.
  XlsxLimits limits;
  limits.partBytes = 8 << 20;
  limits.packageBytes = 16 << 20;
  limits.cellsPerSheet = 100000;
  Workbook workbook;
  std::vector<std::string> errors;
  bool read = readXlsxWorkbook(path, &workbook, &errors, limits);
  if (!read && errors.empty()) std::abort();
  if (read) {
    CompiledModel model;
    buildModel(workbook, &FunctionCatalogue::instance(), model, &errors);
  }
  std::remove(path.c_str());
  return 0;
}
