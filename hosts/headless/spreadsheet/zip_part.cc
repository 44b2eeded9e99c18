#include "hosts/headless/spreadsheet/zip_part.h"

#include <cstddef>

namespace korvel {
namespace {

// The bytes inflated at a time.
constexpr size_t kReadBlockBytes = size_t(1) << 20;

std::string theLimit(uint64_t limit) { return " (the limit is " + std::to_string(limit) + ")"; }

}  // namespace

ZipPartRead readZipPart(zip_t* zip, zip_uint64_t index, uint64_t partBytes, uint64_t packageBytes,
                        uint64_t* inflated, std::string* out, std::string* reason) {
  out->clear();
  auto refuse = [&](ZipPartRead kind, std::string why) {
    out->clear();
    out->shrink_to_fit();
    *reason = std::move(why);
    return kind;
  };
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(zip, index, 0, &stat) != 0)
    return refuse(ZipPartRead::kFailed, std::string("cannot read the part: ") + zip_strerror(zip));
  const bool declared = (stat.valid & ZIP_STAT_SIZE) != 0;
  if (declared && stat.size > partBytes) {
    return refuse(ZipPartRead::kOverLimit, "the part declares " + std::to_string(stat.size) +
                                               " bytes" + theLimit(partBytes));
  }
  zip_file_t* file = zip_fopen_index(zip, index, 0);
  if (!file)
    return refuse(ZipPartRead::kFailed, std::string("cannot read the part: ") + zip_strerror(zip));
  if (declared) out->reserve(size_t(stat.size));
  std::string block(kReadBlockBytes, '\0');
  for (;;) {
    zip_int64_t n = zip_fread(file, block.data(), block.size());
    if (n < 0) {
      std::string why = std::string("cannot read the part: ") + zip_file_strerror(file);
      zip_fclose(file);
      return refuse(ZipPartRead::kFailed, why);
    }
    if (n == 0) break;
    if (out->size() + uint64_t(n) > partBytes) {
      zip_fclose(file);
      return refuse(ZipPartRead::kOverLimit,
                    "the part inflates to more bytes than a part may have" + theLimit(partBytes));
    }
    if (*inflated + uint64_t(n) > packageBytes) {
      zip_fclose(file);
      return refuse(
          ZipPartRead::kOverLimit,
          "the parts inflate to more bytes than a package may have" + theLimit(packageBytes));
    }
    out->append(block.data(), size_t(n));
    *inflated += uint64_t(n);
  }
  zip_fclose(file);
  if (declared && out->size() != stat.size) {
    return refuse(ZipPartRead::kFailed, "cannot read the part: it holds " +
                                            std::to_string(out->size()) + " bytes but declares " +
                                            std::to_string(stat.size));
  }
  return ZipPartRead::kRead;
}

}  // namespace korvel
