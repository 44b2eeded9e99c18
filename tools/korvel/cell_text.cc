#include "tools/korvel/cell_text.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include "engine/locale_settings.h"
#include "engine/value_convert.h"
#include "engine/value_variant.h"
#include "hosts/headless/spreadsheet/program_objects.h"
#include "model/address.h"
#include "util/text.h"

namespace korvel {
namespace {

bool before(const CellNumberFormat& a, const CellNumberFormat& b) {
  return std::tie(a.row, a.column) < std::tie(b.row, b.column);
}

// The value beside its text in JSON: a number, a boolean, or a text (errors by their text); an
// array by its rows.
nlohmann::ordered_json jsonValue(const Value& value) {
  double number = 0;
  if (value.isNumeric() && toNumber(value, &number)) return number;
  if (value.isBoolean()) return value.boolean();
  if (value.isArray()) {
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    const ValueArray& array = value.array();
    for (uint32_t r = 0; r < array.rows(); ++r) {
      nlohmann::ordered_json row = nlohmann::ordered_json::array();
      for (uint32_t c = 0; c < array.columns(); ++c) row.push_back(jsonValue(array.at(c, r)));
      rows.push_back(std::move(row));
    }
    return rows;
  }
  if (value.isEmpty()) return nullptr;
  return toUtf8(toText(value));
}

}  // namespace

void addJsonValue(const Value& value, nlohmann::ordered_json* entry) {
  if (!value.isEmpty()) (*entry)["value"] = jsonValue(value);
}

std::string sheetReferenceName(std::u16string_view name) {
  bool plain = !name.empty() && !isDigit(name.front());
  for (char16_t unit : name) {
    plain = plain && (isLetter(unit) || isDigit(unit) || unit == u'_' || unit == u'.');
  }
  return toUtf8(plain ? std::u16string(name) : quoteSheetName(name));
}

CellFormats::CellFormats(Workbook& workbook)
    : date1904(workbook.date1904), codes_(std::move(workbook.numberFormats)) {
  for (WorkbookSheet& sheet : workbook.sheets) {
    std::vector<CellNumberFormat> formats = std::move(sheet.numberFormats);
    std::stable_sort(formats.begin(), formats.end(), before);
    sheets_.push_back(std::move(formats));
  }
}

std::u16string_view CellFormats::at(CellRef cell) const {
  if (cell.sheet() >= sheets_.size()) return {};
  const std::vector<CellNumberFormat>& formats = sheets_[cell.sheet()];
  CellNumberFormat key{cell.row(), cell.column(), 0};
  auto found = std::lower_bound(formats.begin(), formats.end(), key, before);
  if (found == formats.end() || found->row != key.row || found->column != key.column) return {};
  return found->format < codes_.size() ? std::u16string_view(codes_[found->format])
                                       : std::u16string_view();
}

std::u16string displayedText(const Value& value, std::u16string_view format, bool date1904) {
  if (!value.isArray()) return shownText(toVariant(value, false), format, date1904);
  const ValueArray& array = value.array();
  std::u16string out = u"{";
  for (uint32_t r = 0; r < array.rows(); ++r) {
    if (r) out += u';';
    for (uint32_t c = 0; c < array.columns(); ++c) {
      if (c) out += userLocale().listSeparator;
      const Value& element = array.at(c, r);
      std::u16string text = displayedText(element, format, date1904);
      out += element.isText() ? u"\"" + text + u"\"" : text;
    }
  }
  return out + u"}";
}

}  // namespace korvel
