#include "data/data_file.h"

#include <algorithm>

#include "engine/value_encoding.h"
#include "model/envelope.h"
#include "util/text.h"

namespace korvel {
namespace {

constexpr unsigned kHeaderRotation = 7;
constexpr size_t kCurrentKeyBytes = 8;
constexpr size_t kLegacyKeyBytes = 4;
constexpr size_t kArrayHeaderBytes = 8;
constexpr size_t kLargestScalarPayload = 16;  // the 16-byte value

void putU16(uint16_t v, std::string* out) {
  out->push_back(char(v & 0xFF));
  out->push_back(char(v >> 8));
}

void putU32(uint32_t v, std::string* out) {
  for (int i = 0; i < 4; ++i) out->push_back(char((v >> (8 * i)) & 0xFF));
}

uint16_t getU16(const char* p) { return uint16_t(uint8_t(p[0]) | (uint8_t(p[1]) << 8)); }

uint32_t getU32(const char* p) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t(uint8_t(p[i])) << (8 * i);
  return v;
}

// How the header's version says the payload is laid out.
struct Layout {
  bool narrowKeys = false;    // 4-byte keys, creator text lengths in bytes
  bool shiftedKinds = false;  // kind bytes stored one less
  bool eightBitText = false;  // texts one byte per character
};

Layout layoutOf(uint32_t version) {
  Layout layout;
  bool late = version >= kDataFileLegacyFrom;
  layout.narrowKeys = version < kDataFileUnitCountedVersion || late;
  layout.shiftedKinds = version < kDataFileShiftedKindsBelow || late;
  layout.eightBitText = version < kDataFileWideTextVersion;
  return layout;
}

// Decodes one value of an old layout; the current layout goes straight to decodeValue. Returns the
// bytes taken, or 0 with *out empty when the bytes do not hold a whole value.
size_t decodeLegacyValue(const char* bytes, size_t available, const Layout& layout, bool element,
                         Value* out) {
  out->clear();
  if (available < 1) return 0;
  // The old writers' kind numbering starts one lower; the sum is taken in a byte as they stored
  // it, so their empty value (0xFF) reads back as the empty value.
  uint8_t kind = uint8_t(bytes[0]) + (layout.shiftedKinds ? 1 : 0);
  const char* p = bytes + 1;
  size_t left = available - 1;
  switch (ValueKind(kind)) {
    case ValueKind::kShortText:
    case ValueKind::kLongText: {
      std::u16string units;
      if (layout.eightBitText) {
        for (size_t i = 0; i < left; ++i) {
          if (p[i] == 0) {
            // The zero byte is followed by one more byte, which the old writers left unused.
            if (i + 2 > left) return 0;
            out->setText(units);
            return 1 + i + 2;
          }
          units.push_back(char16_t(uint8_t(p[i])));
        }
        return 0;
      }
      // As in the current layout, a text kind with fewer than 2 bytes after it is the empty text.
      if (left < 2) {
        out->setText(u"");
        return 1 + left;
      }
      for (size_t i = 0; i + 1 < left; i += 2) {
        char16_t unit = char16_t(getU16(p + i));
        if (unit == 0) {
          out->setText(units);
          return 1 + i + 2;
        }
        units.push_back(unit);
      }
      return 0;
    }
    case ValueKind::kArray: {
      if (element || left < kArrayHeaderBytes) return 0;
      uint64_t count = uint64_t(getU32(p)) * getU32(p + 4);
      size_t offset = kArrayHeaderBytes;
      if (count > left - offset) return 0;  // every element takes at least its kind byte
      if (count == 0) {
        out->setArray(ValueArray());
        return 1 + offset;
      }
      ValueArray array(getU32(p), getU32(p + 4));
      for (Value& e : array.elements()) {
        size_t taken = decodeLegacyValue(p + offset, left - offset, layout, true, &e);
        if (taken == 0) return 0;
        offset += taken;
      }
      out->setArray(std::move(array));
      return 1 + offset;
    }
    default:
      break;
  }
  // Every other kind has the current payload, at most 16 bytes long: decode a copy of it behind
  // the adjusted kind byte.
  std::string copy(1, char(kind));
  copy.append(p, std::min<size_t>(left, kLargestScalarPayload));
  size_t taken = decodeValue(copy.data(), copy.size(), out);
  return taken;
}

}  // namespace

std::string encodeDataFileHeader(const DataFileHeader& header) {
  std::string out;
  putU32(header.magic, &out);
  uint32_t word1 =
      uint32_t(header.headerLength) | (uint32_t(header.creatorText1Length & 0xFFF) << 16);
  uint32_t word2 = header.creatorText2Length;
  for (uint32_t word : {word1, word2, header.applicationId, header.timestamp, header.formatVersion,
                        header.recordLength, header.marker}) {
    putU32(rotateRight(word, kHeaderRotation), &out);
  }
  return out;
}

bool decodeDataFileHeader(std::string_view bytes, DataFileHeader* header) {
  if (bytes.size() < kDataFileHeaderLength) return false;
  uint32_t words[8];
  words[0] = getU32(bytes.data());
  for (int i = 1; i < 8; ++i) words[i] = rotateLeft(getU32(bytes.data() + 4 * i), kHeaderRotation);
  if (words[0] != kDataFileMagic || (words[1] & 0xFFFF) != kDataFileHeaderLength) return false;
  header->magic = words[0];
  header->headerLength = uint16_t(words[1] & 0xFFFF);
  header->creatorText1Length = uint16_t((words[1] >> 16) & 0xFFF);
  header->creatorText2Length = uint16_t(words[2] & 0xFFFF);
  header->applicationId = words[3];
  header->timestamp = words[4];
  header->formatVersion = words[5];
  header->recordLength = words[6];
  header->marker = words[7];
  return true;
}

DataFileCode parseDataFile(std::string_view bytes, DataFileHeader* header,
                           std::string* recordSection) {
  recordSection->clear();
  if (bytes.size() <= kDataFileHeaderLength) return DataFileCode::kInvalid;
  DataFileHeader read;
  if (!decodeDataFileHeader(bytes.substr(0, kDataFileHeaderLength), &read)) {
    return DataFileCode::kInvalid;
  }
  std::string payload;
  if (decodeEnvelope(bytes.substr(kDataFileHeaderLength), &payload) == 0) {
    return DataFileCode::kInvalid;
  }
  uint64_t creatorUnits = uint64_t(read.creatorText1Length) + read.creatorText2Length;
  uint64_t skip = layoutOf(read.formatVersion).narrowKeys ? creatorUnits : 2 * creatorUnits;
  if (skip > payload.size()) return DataFileCode::kInvalid;
  *header = read;
  recordSection->assign(payload, size_t(skip));
  return DataFileCode::kOk;
}

DataFileCode readDataFile(const Files& files, const std::u16string& path, DataFileHeader* header,
                          std::string* recordSection) {
  recordSection->clear();
  uint64_t size = 0;
  if (!files.exists(path) || !files.size(path, &size)) return DataFileCode::kCannotOpen;
  if (size <= kDataFileHeaderLength || size > kDataFileMaxBytes) return DataFileCode::kInvalid;
  std::string bytes;
  if (!files.readAll(path, &bytes) || bytes.size() < size) return DataFileCode::kCannotRead;
  return parseDataFile(bytes, header, recordSection);
}

size_t readDataRecord(const DataFileHeader& header, std::string_view bytes, DataRecord* record) {
  Layout layout = layoutOf(header.formatVersion);
  size_t keyBytes = layout.narrowKeys ? kLegacyKeyBytes : kCurrentKeyBytes;
  if (bytes.size() < keyBytes) return 0;
  const char* p = bytes.data();
  DataRecord read;
  if (layout.narrowKeys) {
    read.row = getU16(p);
    read.column = uint8_t(p[2]);
    read.sheet = uint8_t(p[3]);
  } else {
    read.row = getU32(p);
    read.column = getU16(p + 4);
    read.sheet = getU16(p + 6);
    if (read.sheet == 0xFFFF) read.sheet = 0xFFFE;
  }
  const char* value = p + keyBytes;
  size_t left = bytes.size() - keyBytes;
  size_t taken = layout.narrowKeys || layout.shiftedKinds || layout.eightBitText
                     ? decodeLegacyValue(value, left, layout, false, &read.value)
                     : decodeValue(value, left, &read.value);
  if (taken == 0) return 0;
  *record = std::move(read);
  return keyBytes + taken;
}

bool readDataRecords(const DataFileHeader& header, std::string_view section,
                     std::vector<DataRecord>* records) {
  return forEachDataRecord(
      header, section, [records](DataRecord& record) { records->push_back(std::move(record)); });
}

void appendDataRecord(const DataRecord& record, std::string* section) {
  putU32(record.row, section);
  putU16(record.column, section);
  putU16(record.sheet, section);
  encodeValue(record.value, section);
}

bool encodeDataFile(DataFileHeader header, std::string_view recordSection, std::string* out) {
  out->clear();
  // The payload is always written in the current layout, so the version must say so whatever the
  // caller left in the header.
  header.magic = kDataFileMagic;
  header.headerLength = kDataFileHeaderLength;
  header.creatorText1Length = 1;
  header.creatorText2Length = 1;
  header.formatVersion = kDataFileRuntimeVersion;
  header.recordLength = uint32_t(recordSection.size());
  constexpr size_t kCreatorBytes = 4;  // both creator texts empty: one NUL unit each
  if (recordSection.size() > kEnvelopeMaxContentLength - kCreatorBytes) return false;
  std::string payload(kCreatorBytes, '\0');
  payload.append(recordSection);
  std::string envelope;
  if (!encodeEnvelope(payload, &envelope)) return false;
  *out = encodeDataFileHeader(header);
  out->append(envelope);
  return true;
}

bool writeDataFile(Files& files, const std::u16string& path, const DataFileHeader& header,
                   std::string_view recordSection, std::string* failure) {
  std::string bytes;
  if (!encodeDataFile(header, recordSection, &bytes)) {
    *failure = "cannot write " + toUtf8(path) + ": the records do not fit a data file";
    return false;
  }
  return files.writeAll(path, bytes, failure);
}

std::u16string dataPathForExecutable(std::u16string path) {
  constexpr std::u16string_view kExecutable = u".exe";
  if (path.size() >= kExecutable.size() &&
      std::u16string_view(path).substr(path.size() - kExecutable.size()) == kExecutable) {
    path.replace(path.size() - kExecutable.size(), kExecutable.size(), u".dat");
  }
  return path;
}

std::u16string dataFileMessage(DataFileCode code, std::u16string_view path) {
  std::u16string message;
  switch (code) {
    case DataFileCode::kOk:
      return message;
    case DataFileCode::kCannotOpen:
      message = u"Cannot open file '";
      message += path;
      message += u"'.";
      break;
    case DataFileCode::kCannotRead:
      message = u"Cannot read data from file '";
      message += path;
      message += u"'.";
      break;
    case DataFileCode::kInvalid:
      message = u"Data file '";
      message += path;
      message += u"' is not a valid file format or corrupted.";
      break;
  }
  return message;
}

}  // namespace korvel
