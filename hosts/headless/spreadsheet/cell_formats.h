// The number formats of an .xlsx package's cells: the styles part maps each cell format (an <xf>
// of <cellXfs>, which a cell names by its "s" attribute) to a number format, either one of the
// package's own <numFmt> codes or one of the codes the program has built in by id, and to a font,
// a fill and borders, whose colours may be the package's own, of the legacy palette, or of its
// theme lightened or darkened by a tint.
#ifndef KORVEL_HOSTS_HEADLESS_SPREADSHEET_CELL_FORMATS_H_
#define KORVEL_HOSTS_HEADLESS_SPREADSHEET_CELL_FORMATS_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/headless/spreadsheet/workbook_data.h"

namespace korvel {

// The code of a built-in number format; empty for General and for an id that has no code.
std::u16string_view builtInNumberFormat(int64_t id);

// The number format code of each cell format of the styles part's root element, by index; empty
// for General. A format the package names but does not define is General.
std::vector<std::u16string> cellFormatCodes(pugi::xml_node styleSheet);

// What a cell format shows besides its number format. Colours are 0x00BBGGRR.
struct CellFormatLook {
  std::shared_ptr<const CellStyle> style;  // null: the default font and no borders
  std::optional<uint32_t> fontColor;       // absent: the default font's colour
  std::optional<uint32_t> fillColor;       // a solid fill's colour; absent: no fill
};

// The look of each cell format of the styles part's root element, by index; theme is the theme
// part's root element (empty when the package has none). Cell formats that look alike share one
// style. A font, fill or border the package names but does not define is the default.
std::vector<CellFormatLook> cellFormatLooks(pugi::xml_node styleSheet, pugi::xml_node theme);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_SPREADSHEET_CELL_FORMATS_H_
