// Fuzz target of the readers of containers the launcher and the tool exchange: the chunk envelope
// decoder, the splitting of envelopes stored back to back, and the application file container.
// The model target wraps its input in a valid envelope, so the decoder sees bad bytes only here.
// What decodes must encode and decode back to the same content.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/headless/headless_resources.h"
#include "model/envelope.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace korvel;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);

  std::string content;
  size_t decoded = decodeEnvelope(bytes, &content);
  if (decoded != content.size()) std::abort();
  if (decoded > 0) {
    std::string again, round;
    if (!encodeEnvelope(content, &again) || decodeEnvelope(again, &round) != content.size() ||
        round != content) {
      std::abort();
    }
  }

  std::vector<std::string_view> pieces;
  std::string error;
  if (splitEnvelopes(bytes, &pieces, &error)) {
    size_t total = 0;
    for (std::string_view piece : pieces) {
      if (piece.data() < bytes.data() || piece.data() + piece.size() > bytes.data() + bytes.size())
        std::abort();
      total += piece.size();
    }
    if (total != bytes.size()) std::abort();
  } else if (error.empty()) {
    std::abort();
  }

  std::vector<ResourceEntry> entries;
  if (decodeApplicationFile(bytes, &entries, &error)) {
    std::vector<ResourceEntry> reread;
    if (!decodeApplicationFile(encodeApplicationFile(entries), &reread, &error) ||
        reread != entries) {
      std::abort();
    }
  }
  return 0;
}
