#include "tools/korvel/model_file.h"

#include <stdexcept>
#include <vector>

#include "model/chunk_stream.h"
#include "model/envelope.h"
#include "model/model_stream.h"
#include "platform/files.h"
#include "util/text.h"

namespace korvel {
namespace {

bool readEnvelopes(Files& files, const std::u16string& path, std::string* bytes,
                   std::vector<std::string_view>* pieces, std::string* error) {
  if (!files.readAll(path, bytes)) {
    *error = "cannot read " + toUtf8(path);
    return false;
  }
  if (!splitEnvelopes(*bytes, pieces, error)) {
    *error = toUtf8(path) + ": " + *error;
    return false;
  }
  return true;
}

}  // namespace

bool readModelFile(Files& files, const std::u16string& path, CompiledModel& model,
                   std::string* error) {
  std::string bytes;
  std::vector<std::string_view> pieces;
  if (!readEnvelopes(files, path, &bytes, &pieces, error)) return false;
  ChunkStream in;
  // The file's bytes stay alive until the model is loaded: the stream reads each envelope there.
  for (std::string_view piece : pieces) in.appendEnvelopeView(piece);
  if (!loadModel(in, model, error)) {
    *error = toUtf8(path) + ": " + *error;
    return false;
  }
  return true;
}

bool writeModelFile(Files& files, const std::u16string& path, const CompiledModel& model,
                    std::string* error) {
  std::string bytes;
  try {
    ChunkStream out(files);
    writeModel(model, out);
    for (size_t i = 0; i < out.chunkCount(); ++i) bytes += out.chunk(i).storedEnvelope();
  } catch (const FileError& e) {
    *error = toUtf8(e.message());
    return false;
  } catch (const std::exception& e) {
    *error = std::string("cannot write the model: ") + e.what();
    return false;
  }
  return files.writeAll(path, bytes, error);
}

bool readModelContent(Files& files, const std::u16string& path, std::string* content,
                      std::string* error) {
  std::string bytes;
  std::vector<std::string_view> pieces;
  if (!readEnvelopes(files, path, &bytes, &pieces, error)) return false;
  content->clear();
  for (std::string_view piece : pieces) {
    if (decodeEnvelope(piece, content) == 0) {
      *error = toUtf8(path) + ": a chunk envelope does not decode";
      return false;
    }
  }
  return true;
}

}  // namespace korvel
