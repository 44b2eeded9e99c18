// Helpers of the node tests: record bytes of a node, a readable stream over given bytes, raw
// record building, and a small function resolver.
#ifndef KORVEL_TESTS_MODEL_NODES_NODE_TEST_SUPPORT_H_
#define KORVEL_TESTS_MODEL_NODES_NODE_TEST_SUPPORT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "hosts/headless/memory_files.h"
#include "model/chunk_stream.h"
#include "model/nodes/node.h"

namespace korvel {
namespace testing_nodes {

// A stream that reads back what was appended (a writer, rewound).
struct ByteStream {
  MemoryFiles files;
  ChunkStream stream{files};

  explicit ByteStream(std::string_view bytes = {}) {
    stream.append(bytes);
    stream.rewind();
  }
};

inline std::string readRest(ChunkStream& stream) {
  std::string all;
  char c;
  while (stream.read(1, &c) == 1) all.push_back(c);
  return all;
}

// The record of the node with the parent index.
inline std::string recordOf(const Node& node, int32_t parentIndex = -1) {
  MemoryFiles files;
  ChunkStream out(files);
  node.writeRecord(parentIndex, out);
  out.rewind();
  return readRest(out);
}

// The records of the node's tree.
inline std::string subtreeOf(const Node& node) {
  MemoryFiles files;
  ChunkStream out(files);
  uint32_t counter = 0;
  node.writeSubtree(-1, counter, out);
  out.rewind();
  return readRest(out);
}

inline void putU16(std::string& s, uint16_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>(v >> 8));
}

inline void putU32(std::string& s, uint32_t v) {
  putU16(s, static_cast<uint16_t>(v & 0xFFFF));
  putU16(s, static_cast<uint16_t>(v >> 16));
}

// A record with the given head and payload; length 0 means the true length.
inline std::string rawRecord(uint16_t tag, int32_t parent, std::string_view payload,
                             uint16_t length = 0) {
  std::string s;
  putU16(s, length ? length : static_cast<uint16_t>(8 + payload.size()));
  putU16(s, tag);
  putU32(s, static_cast<uint32_t>(parent));
  s.append(payload);
  return s;
}

inline uint32_t readLe32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

inline std::string u32Bytes(uint32_t v) {
  std::string s;
  putU32(s, v);
  return s;
}

// Knows SUM (number 4, localised as SUMME) and NOW (74); SUM has a native routine.
class FakeResolver : public FunctionResolver {
 public:
  int functionNumber(std::u16string_view upperName) const override {
    if (upperName == u"SUM") return 4;
    if (upperName == u"NOW") return 74;
    return -1;
  }
  const std::u16string* functionName(int number) const override {
    if (number == 4) return &sum_;
    if (number == 74) return &now_;
    return nullptr;
  }
  const NativeFunction* nativeFunction(std::u16string_view upperName) const override {
    return upperName == u"SUM" ? native() : nullptr;
  }
  // Only compared, never called.
  static const NativeFunction* native() {
    static const char marker = 0;
    return reinterpret_cast<const NativeFunction*>(&marker);
  }

 private:
  std::u16string sum_ = u"SUMME";
  std::u16string now_ = u"NOW";
};

}  // namespace testing_nodes
}  // namespace korvel

#endif  // KORVEL_TESTS_MODEL_NODES_NODE_TEST_SUPPORT_H_
