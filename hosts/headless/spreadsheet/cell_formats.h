// The number formats of an .xlsx package's cells: the styles part maps each cell format (an <xf>
// of <cellXfs>, which a cell names by its "s" attribute) to a number format, either one of the
// package's own <numFmt> codes or one of the codes the program has built in by id.
#ifndef KORVEL_HOSTS_HEADLESS_SPREADSHEET_CELL_FORMATS_H_
#define KORVEL_HOSTS_HEADLESS_SPREADSHEET_CELL_FORMATS_H_

#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// The code of a built-in number format; empty for General and for an id that has no code.
std::u16string_view builtInNumberFormat(int64_t id);

// The number format code of each cell format of the styles part's root element, by index; empty
// for General. A format the package names but does not define is General.
std::vector<std::u16string> cellFormatCodes(pugi::xml_node styleSheet);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_SPREADSHEET_CELL_FORMATS_H_
