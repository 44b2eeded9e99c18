#include "data/data_file.h"

namespace korvel {

std::string encodeDataFileHeader(const DataFileHeader&) { return {}; }
bool decodeDataFileHeader(std::string_view, DataFileHeader*) { return false; }
DataFileCode readDataFile(const Files&, const std::u16string&, DataFileHeader*, std::string*) {
  return DataFileCode::kInvalid;
}
DataFileCode parseDataFile(std::string_view, DataFileHeader*, std::string*) {
  return DataFileCode::kInvalid;
}
bool readDataRecords(const DataFileHeader&, std::string_view, std::vector<DataRecord>*) {
  return false;
}
size_t readDataRecord(const DataFileHeader&, std::string_view, DataRecord*) { return 0; }
void appendDataRecord(const DataRecord&, std::string*) {}
bool encodeDataFile(DataFileHeader, std::string_view, std::string*) { return false; }
bool writeDataFile(Files&, const std::u16string&, const DataFileHeader&, std::string_view) {
  return false;
}
std::u16string dataPathForExecutable(std::u16string path) { return path; }

}  // namespace korvel
