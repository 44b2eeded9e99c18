// Fuzz target of the model reader: the input is the decompressed content of a delivered model.
// Whatever loads must also write without failing; whatever does not load must leave the model
// empty.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "functions/function_catalogue.h"
#include "hosts/headless/memory_files.h"
#include "model/chunk_stream.h"
#include "model/compiled_model.h"
#include "model/envelope.h"
#include "model/model_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace korvel;
  std::string envelope;
  if (!encodeEnvelope(std::string_view(reinterpret_cast<const char*>(data), size), &envelope)) {
    return 0;
  }
  ChunkStream in;
  in.appendChunk(envelope);
  CompiledModel model;
  model.functions = &FunctionCatalogue::instance();
  std::string error;
  if (!loadModel(in, model, &error)) {
    if (model.cellCount() != 0 || !model.names.empty() || error.empty()) std::abort();
    return 0;
  }
  MemoryFiles files;
  ChunkStream out(files);
  try {
    writeModel(model, out);
  } catch (const std::logic_error&) {
    // A shared table whose trees do not match its count is refused by the writer by design.
  }
  return 0;
}
