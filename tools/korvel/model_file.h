// .kvm files: a compiled model as the launcher delivers it, chunk envelopes back to back.
#ifndef KORVEL_TOOLS_KORVEL_MODEL_FILE_H_
#define KORVEL_TOOLS_KORVEL_MODEL_FILE_H_

#include <string>

#include "model/compiled_model.h"

namespace korvel {

class Files;

// Loads the model of a .kvm file. False with *error when the file cannot be read, is not a
// sequence of envelopes, or holds a model the loader rejects; the model is then empty.
bool readModelFile(Files& files, const std::u16string& path, CompiledModel& model,
                   std::string* error);

// Writes the model with the runtime's writer and stores the envelopes of its chunks. False with
// *error when writing fails.
bool writeModelFile(Files& files, const std::u16string& path, const CompiledModel& model,
                    std::string* error);

// The decompressed content of a .kvm file, for comparing two models byte by byte.
bool readModelContent(Files& files, const std::u16string& path, std::string* content,
                      std::string* error);

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_MODEL_FILE_H_
