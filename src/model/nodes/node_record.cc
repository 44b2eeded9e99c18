// Record layout helpers of the node family.
#include "model/nodes/node_record.h"

#include <cstring>

#include "model/chunk_stream.h"

namespace korvel {

size_t fixedRecordLength(uint16_t tag) {
  switch (tag) {
    case kTagCellRef:
    case kTagNumber:
      return 16;
    case kTagUnion:
    case kTagText:
    case kTagIntersection:
    case kTagMissing:
      return 8;
    case kTagSharedRef1:
    case kTagBoolean:
    case kTagOperator:
    case kTagLocalRef:
    case kTagComparison:
    case kTagError:
    case kTagArray:
    case kTagNameRef:
    case kTagSharedRef2:
      return 12;
    case kTagDdeRef:
      return 16;
    case kTagCall:
      return kCallRecordFixedLength;
    case kTagExternalRef:
      return 10;
    case kTagRangeRef:
      return 32;
    default:
      return 0;
  }
}

size_t maxRecordLength(uint16_t tag) {
  return tag == kTagDdeRef || tag == kTagExternalRef ? kMaxLinkRecordLength : kMaxNodeRecordLength;
}

void writeNodeHead(ChunkStream& out, size_t length, NodeTag tag, int32_t parentIndex) {
  out.writeU16(static_cast<uint16_t>(length));
  out.writeU16(tag);
  out.writeI32(parentIndex);
}

std::u16string_view recordText(std::u16string_view text, size_t room) {
  while (!text.empty() && text.back() == 0) text.remove_suffix(1);
  size_t units = room / 2;
  if (text.size() <= units) return text;
  text = text.substr(0, units);
  if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) text.remove_suffix(1);
  while (!text.empty() && text.back() == 0) text.remove_suffix(1);
  return text;
}

std::u16string textFromRecord(const char* bytes, size_t length) {
  std::u16string text(length / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(recordU16(bytes + 2 * i));
  while (!text.empty() && text.back() == 0) text.pop_back();
  return text;
}

uint16_t recordU16(const char* bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t recordU32(const char* bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

double recordF64(const char* bytes) {
  uint64_t bits = uint64_t(recordU32(bytes)) | (uint64_t(recordU32(bytes + 4)) << 32);
  double x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

}  // namespace korvel
