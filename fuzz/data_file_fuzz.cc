// Fuzz target of the data file reader. The input is read twice: as a whole data file (header,
// envelope, creator texts, records), and, because a byte fuzzer rarely gets through the envelope's
// checksum, as a bare record section in each stored layout. Whatever records are read must write
// back in the current layout and read back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "data/data_file.h"

namespace {

using namespace korvel;

void checkRecords(const DataFileHeader& header, std::string_view section) {
  std::vector<DataRecord> records;
  bool complete = readDataRecords(header, section, &records);
  if (complete && section.empty() != records.empty()) std::abort();

  std::string written;
  for (const DataRecord& r : records) appendDataRecord(r, &written);
  std::string file;
  if (!encodeDataFile(header, written, &file)) std::abort();
  DataFileHeader again;
  std::string section2;
  if (parseDataFile(file, &again, &section2) != DataFileCode::kOk || section2 != written) {
    std::abort();
  }
  std::vector<DataRecord> reread;
  if (!readDataRecords(again, section2, &reread) || reread.size() != records.size()) std::abort();
  std::string rewritten;
  for (const DataRecord& r : reread) appendDataRecord(r, &rewritten);
  if (rewritten != written) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  DataFileHeader header;
  std::string section;
  if (parseDataFile(bytes, &header, &section) == DataFileCode::kOk) {
    checkRecords(header, section);
  } else if (!section.empty()) {
    std::abort();
  }
  // Current; narrow keys; shifted kinds; 8-bit texts; the late versions.
  for (uint32_t version :
       {kDataFileRuntimeVersion, 0x0109060Au, 0x01090605u, 0x010207FFu, 0x09000000u}) {
    DataFileHeader layout;
    layout.formatVersion = version;
    checkRecords(layout, bytes);
  }
  return 0;
}
