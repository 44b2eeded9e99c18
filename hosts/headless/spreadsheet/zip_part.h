// Reading one part of a zip package (an .xlsx workbook) under the package limits, for both
// package readers: the headless program's and the compiler's. Bytes are counted as they inflate;
// a size the package declares only refuses early and sizes the buffer, never more.
#ifndef KORVEL_HOSTS_HEADLESS_SPREADSHEET_ZIP_PART_H_
#define KORVEL_HOSTS_HEADLESS_SPREADSHEET_ZIP_PART_H_

#include <zip.h>

#include <cstdint>
#include <string>

namespace korvel {

enum class ZipPartRead { kRead, kOverLimit, kFailed };

// Reads the entry at index into *out. *inflated holds the bytes of the package's parts read so far
// and grows by the part's. A part past partBytes, or one that takes *inflated past packageBytes,
// is kOverLimit; a part that cannot be inflated or whose size differs from the declared one is
// kFailed. On either, *out is empty and *reason says why in words that follow the part's name
// ("the part declares 1073741824 bytes (the limit is 268435456)").
ZipPartRead readZipPart(zip_t* zip, zip_uint64_t index, uint64_t partBytes, uint64_t packageBytes,
                        uint64_t* inflated, std::string* out, std::string* reason);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_SPREADSHEET_ZIP_PART_H_
