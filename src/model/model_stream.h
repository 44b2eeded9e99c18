// The compiled model stream: loading a delivered model into a CompiledModel and writing a model
// back, section by section. docs/model_format.md describes the stream.
#ifndef KORVEL_MODEL_MODEL_STREAM_H_
#define KORVEL_MODEL_MODEL_STREAM_H_

#include <string>

#include "model/chunk_stream.h"
#include "model/compiled_model.h"

namespace korvel {

// Reads sections 0 to 12 from the stream into the model, which must be empty. A stream cut short
// loads as far as it goes. A malformed model (a record whose parent index names no node, a
// formula or precedent for an address without a cell, a count that exceeds the bytes left, a
// record shorter than its fixed part, a text longer than its record) is rejected whole: false,
// *error names the section, the record and the byte offset, and the model is left empty.
bool loadModel(ChunkStream& in, CompiledModel& model, std::string* error);

// Writes sections 0 to 12 from the model, then flushes the stream's last partial buffer into a
// chunk. Each cell is the current cell while its records are written. Throws FileError when a
// temporary file cannot be made, std::logic_error when the shared table 1 trees written differ
// from its entry count.
void writeModel(const CompiledModel& model, ChunkStream& out);

}  // namespace korvel

#endif  // KORVEL_MODEL_MODEL_STREAM_H_
