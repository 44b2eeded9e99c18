// Names of the parts of a zip package (an .xlsx workbook): resolving a relationship's target
// against the folder of the part that names it, and where a part's relationships are kept.
#ifndef KORVEL_UTIL_PACKAGE_PARTS_H_
#define KORVEL_UTIL_PACKAGE_PARTS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvel {

// What a package may hold before a reader refuses it, so that a small hostile file (a zip bomb, an
// entry that declares a size it does not have, millions of tiny strings) cannot take the
// machine's memory. Readers count bytes as they inflate them and never trust declared sizes.
inline constexpr uint64_t kPackageMaxPartBytes = uint64_t(256) << 20;  // one part, inflated
inline constexpr uint64_t kPackageMaxBytes = uint64_t(768) << 20;      // all parts read, inflated
inline constexpr size_t kPackageMaxSharedStrings = 4'000'000;
inline constexpr size_t kPackageMaxSharedStringUnits = size_t(64) << 20;  // UTF-16 units in all
// The styles part is parsed whole rather than a slice at a time; real ones stay below a few MB.
inline constexpr uint64_t kPackageMaxStylesBytes = uint64_t(16) << 20;

// "xl/worksheets/../x.xml" to "xl/x.xml"; a target with a leading "/" starts at the package root.
std::string resolvePartName(const std::string& folder, std::string_view target);
// The folder of a part, with its final "/" ("xl/worksheets/"); empty at the root.
std::string folderOf(const std::string& part);
// The part that holds a part's relationships: "xl/_rels/workbook.xml.rels" for "xl/workbook.xml".
std::string relsOf(const std::string& part);

}  // namespace korvel

#endif  // KORVEL_UTIL_PACKAGE_PARTS_H_
