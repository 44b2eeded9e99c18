// The application data file: the values the user entered, keyed by sheet, row and column, in a
// 32-byte header followed by one chunk envelope. The header's words after the magic are stored
// rotated right by 7 bits. The envelope's content holds two creator texts (written empty, skipped
// on reading) and the record section: records back to back, each a key and a value in the value
// encoding.
//
// Older writers left layouts that still have to be read; the format version in the header picks
// the layout:
//   version < 1.9.6.11 or >= 9.0.0.0   creator text lengths count bytes; 4-byte keys (u16 row,
//                                      u8 column, u8 sheet)
//   version < 1.9.6.6 or >= 9.0.0.0    kind bytes (array elements' too) are stored one less than
//                                      the value encoding's; the sum wraps in the byte, so 0xFF
//                                      is the empty value
//   version < 1.2.8.0                  texts are 8-bit, each byte one character, followed by the
//                                      zero byte and one further byte
// The current layout: creator texts count UTF-16 units; 8-byte keys (u32 row, u16 column, u16
// sheet).
#ifndef KORVEL_DATA_DATA_FILE_H_
#define KORVEL_DATA_DATA_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/value.h"
#include "platform/files.h"

namespace korvel {

inline constexpr uint32_t kDataFileMagic = 0x4443564Bu;  // "KVCD"
inline constexpr uint32_t kDataFileHeaderLength = 32;
inline constexpr uint32_t kDataFileMarker = 7213;
// Versions packed major << 24 | minor << 16 | build << 8 | revision.
inline constexpr uint32_t kDataFileUnitCountedVersion = 0x0109060Bu;  // 1.9.6.11
inline constexpr uint32_t kDataFileShiftedKindsBelow = 0x01090606u;   // 1.9.6.6
inline constexpr uint32_t kDataFileWideTextVersion = 0x01020800u;     // 1.2.8.0
inline constexpr uint32_t kDataFileLegacyFrom = 0x09000000u;          // 9.0.0.0
// What this runtime writes into the files it exports.
inline constexpr uint32_t kDataFileRuntimeVersion = 0x020A0000u;  // 2.10.0.0
// A data file holds one envelope of at most 1 GiB of records, whose compressed body is never much
// larger: a larger file is not a data file, and is refused before it is read.
inline constexpr uint64_t kDataFileMaxBytes = uint64_t(1) << 31;

// The header with its words rotated back.
struct DataFileHeader {
  uint32_t magic = kDataFileMagic;
  uint16_t headerLength = kDataFileHeaderLength;
  uint16_t creatorText1Length = 1;  // 12 bits stored; units (bytes in old layouts), NUL included
  uint16_t creatorText2Length = 1;  // 16 bits stored
  uint32_t applicationId = 0;
  uint32_t timestamp = 0;
  uint32_t formatVersion = kDataFileRuntimeVersion;
  uint32_t recordLength = 0;
  uint32_t marker = kDataFileMarker;
  friend bool operator==(const DataFileHeader&, const DataFileHeader&) = default;
};

// readDataFile's answers.
enum class DataFileCode : int { kOk = 0, kCannotOpen = 2, kCannotRead = 3, kInvalid = 4 };

// One value of the record section.
struct DataRecord {
  uint16_t sheet = 0;   // 0xFFFF is taken as 0xFFFE
  uint32_t row = 0;     // 0-based
  uint16_t column = 0;  // 0-based
  Value value;
};

// The rotations of the stored header words.
inline uint32_t rotateRight(uint32_t word, unsigned bits) {
  bits &= 31;
  return bits == 0 ? word : (word >> bits) | (word << (32 - bits));
}
inline uint32_t rotateLeft(uint32_t word, unsigned bits) { return rotateRight(word, 32 - bits); }

// The 32 stored bytes of the header.
std::string encodeDataFileHeader(const DataFileHeader& header);
// Reads the 32 bytes: false unless the magic is "KVCD" and the header length is exactly 32.
bool decodeDataFileHeader(std::string_view bytes, DataFileHeader* header);

// Reads the file whole, checks the header, decodes the envelope and skips the creator texts as
// the header's version says; *recordSection is what follows them. A file that does not exist or
// whose size cannot be taken gives kCannotOpen; a read that fails or comes back short,
// kCannotRead; a file of 32 bytes or less or larger than kDataFileMaxBytes, a bad header, a bad
// envelope or creator texts longer than the payload, kInvalid. Never reads past the file's bytes.
DataFileCode readDataFile(const Files& files, const std::u16string& path, DataFileHeader* header,
                          std::string* recordSection);
// The same over bytes already read (the fuzz target and readDataFile share it).
DataFileCode parseDataFile(std::string_view bytes, DataFileHeader* header,
                           std::string* recordSection);

// Walks the record section in file order, in the layout the header's version selects, calling
// visit for every complete record. A record cut short (key or value) or a value that cannot be
// decoded stops the walk; the answer is then false (the file is damaged) and the records before
// it have been visited. A stored kind 7 reads as the empty value.
template <typename Visit>
bool forEachDataRecord(const DataFileHeader& header, std::string_view section, Visit&& visit);
// The same, collecting the records.
bool readDataRecords(const DataFileHeader& header, std::string_view section,
                     std::vector<DataRecord>* records);
// Reads one record at the start of `bytes` in the header's layout: its size in bytes, or 0 when
// the bytes do not hold a whole record.
size_t readDataRecord(const DataFileHeader& header, std::string_view bytes, DataRecord* record);

// Appends a record in the current layout.
void appendDataRecord(const DataRecord& record, std::string* section);

// The whole file in the current layout: the header (its record length set from the section, both
// creator texts empty, the runtime's own format version, since that is what picks the layout on
// reading) and the envelope (level 6). False when the envelope cannot be made.
bool encodeDataFile(DataFileHeader header, std::string_view recordSection, std::string* out);
// Writes the file through the port's file-writing helper, so that an existing file at the path is
// replaced only by a complete new one. False, with the old file intact and the reason in *failure,
// when anything fails (the envelope included).
bool writeDataFile(Files& files, const std::u16string& path, const DataFileHeader& header,
                   std::string_view recordSection, std::string* failure);

// The ".exe" to ".dat" rule of export and import paths: the last four characters replaced when
// they are exactly ".exe" (case-sensitive).
std::u16string dataPathForExecutable(std::u16string path);

// The import's message for a failed read, naming the full path that was read; empty for kOk.
//   kCannotOpen  "Cannot open file '<path>'."
//   kCannotRead  "Cannot read data from file '<path>'."
//   kInvalid     "Data file '<path>' is not a valid file format or corrupted." (also for a
//                record section that proves damaged while the records are applied)
std::u16string dataFileMessage(DataFileCode code, std::u16string_view path);

template <typename Visit>
bool forEachDataRecord(const DataFileHeader& header, std::string_view section, Visit&& visit) {
  size_t at = 0;
  while (at < section.size()) {
    DataRecord record;
    size_t used = readDataRecord(header, section.substr(at), &record);
    if (used == 0) return false;
    visit(record);
    at += used;
  }
  return true;
}

}  // namespace korvel

#endif  // KORVEL_DATA_DATA_FILE_H_
