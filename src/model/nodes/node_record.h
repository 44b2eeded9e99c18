// The layout of node records shared by the writers in the node classes and by readNode: the
// 8-byte head, the fixed part and the length limit of every tag, and the cutting of texts to the
// room a record has.
//
//   head      u16 record length (head included), u16 tag, i32 parent index (-1 for a root)
//   payload   per tag, see fixedRecordLength; texts fill the record after the fixed part
#ifndef KORVEL_MODEL_NODES_NODE_RECORD_H_
#define KORVEL_MODEL_NODES_NODE_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "model/nodes/node.h"

namespace korvel {

class ChunkStream;

inline constexpr size_t kNodeHeadLength = 8;
// The u16 length field bounds every record.
inline constexpr size_t kMaxNodeRecordLength = 0xFFFF;
// DDE and external reference texts go through a buffer of this many bytes, record included.
inline constexpr size_t kMaxLinkRecordLength = 1024;
// The fixed part of a call record: head, u32 call flags and the two zero units after the name.
inline constexpr size_t kCallRecordFixedLength = 16;
// Where the name of a call record starts.
inline constexpr size_t kCallNameOffset = 12;

// The smallest record length of a known tag (head included), or 0 for an unknown tag. For tags
// 13, 14, 15 and 16 the text follows the fixed part (tag 15: before its two zero units).
size_t fixedRecordLength(uint16_t tag);
// The largest record length a reader accepts for the tag.
size_t maxRecordLength(uint16_t tag);

// Writes the head. REQUIRES: kNodeHeadLength <= length <= kMaxNodeRecordLength.
void writeNodeHead(ChunkStream& out, size_t length, NodeTag tag, int32_t parentIndex);

// The part of text that a record can carry in room bytes: trailing zero units dropped (a reader
// could not tell them from padding), then cut to room / 2 units without splitting a surrogate
// pair. Writers cut rather than refuse because writeRecord has no way to fail and a wrong length
// would make every later record unreadable; texts that long never come out of a workbook, whose
// formulas are limited to 8192 characters.
std::u16string_view recordText(std::u16string_view text, size_t room);

// The units of a record's text area: (length of bytes) / 2 units, trailing zero units dropped.
std::u16string textFromRecord(const char* bytes, size_t length);

// Little-endian fields of a record held in memory. REQUIRES: the bytes are there.
uint16_t recordU16(const char* bytes);
uint32_t recordU32(const char* bytes);
double recordF64(const char* bytes);

}  // namespace korvel

#endif  // KORVEL_MODEL_NODES_NODE_RECORD_H_
