// Names of the parts of a zip package (an .xlsx workbook): resolving a relationship's target
// against the folder of the part that names it, and where a part's relationships are kept.
#ifndef KORVEL_UTIL_PACKAGE_PARTS_H_
#define KORVEL_UTIL_PACKAGE_PARTS_H_

#include <string>
#include <string_view>

namespace korvel {

// "xl/worksheets/../x.xml" to "xl/x.xml"; a target with a leading "/" starts at the package root.
std::string resolvePartName(const std::string& folder, std::string_view target);
// The folder of a part, with its final "/" ("xl/worksheets/"); empty at the root.
std::string folderOf(const std::string& part);
// The part that holds a part's relationships: "xl/_rels/workbook.xml.rels" for "xl/workbook.xml".
std::string relsOf(const std::string& part);

}  // namespace korvel

#endif  // KORVEL_UTIL_PACKAGE_PARTS_H_
