// The Range object of the headless spreadsheet program and the objects that hang off a range:
// Areas, Interior, Font, Borders, Hyperlinks and Hyperlink.
#include <algorithm>
#include <functional>
#include <string>
#include <utility>

#include "excel/dispatch_ids.h"
#include "hosts/headless/spreadsheet/program_formula.h"
#include "hosts/headless/spreadsheet/program_objects.h"

namespace korvel {
namespace {

constexpr InvokeKind kPut = InvokeKind::kPropertyPut;

constexpr int32_t kLocked = 0x10D;
constexpr int32_t kRow = 0x101;
constexpr int32_t kColumn = 0xF0;
constexpr int32_t kReferenceStyleR1C1 = -4150;

// The most cells a value array may hold: one whole column.
constexpr uint64_t kMaxArrayCells = kSheetRows;
// The most cells a formatting read compares; larger ranges answer their first cell's setting.
constexpr uint64_t kMaxScannedCells = 65536;

uint64_t totalCells(const std::vector<CellArea>& areas) {
  uint64_t total = 0;
  for (const CellArea& a : areas) total += a.cellCount();
  return total;
}

// Calls f(key, cell) for every stored cell inside the areas, once each: small ranges look their
// cells up, large ones walk the sheet's cells, so neither a single cell on a full sheet nor a whole
// column over a few cells costs more than the smaller of the two.
template <typename Function>
void forEachStoredCell(const SheetData& data, const std::vector<CellArea>& areas, Function&& f) {
  if (areas.size() == 1 && totalCells(areas) <= data.cells.size()) {
    const CellArea& a = areas.front();
    for (uint32_t r = a.firstRow; r <= a.lastRow; ++r) {
      for (uint32_t c = a.firstColumn; c <= a.lastColumn; ++c) {
        auto found = data.cells.find({r, c});
        if (found != data.cells.end()) f(found->first, found->second);
      }
    }
    return;
  }
  for (const auto& [key, cell] : data.cells) {
    for (const CellArea& a : areas) {
      if (a.contains(key.first, key.second)) {
        f(key, cell);
        break;
      }
    }
  }
}

template <typename Function>
void forEachCell(const std::vector<CellArea>& areas, Function&& f) {
  for (const CellArea& a : areas) {
    for (uint32_t r = a.firstRow; r <= a.lastRow; ++r) {
      for (uint32_t c = a.firstColumn; c <= a.lastColumn; ++c) f(r, c);
    }
  }
}

const CellData* findCell(const SheetData& sheet, uint32_t row, uint32_t column) {
  auto it = sheet.cells.find({row, column});
  return it == sheet.cells.end() ? nullptr : &it->second;
}

std::u16string number(uint32_t n) {
  std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

std::u16string formatR1C1(const CellArea& a) {
  std::u16string text = u"R" + number(a.firstRow + 1) + u"C" + number(a.firstColumn + 1);
  if (a.cellCount() != 1) {
    text += u":R" + number(a.lastRow + 1) + u"C" + number(a.lastColumn + 1);
  }
  return text;
}

std::u16string quotedSheet(std::u16string text) {
  bool plain = std::all_of(text.begin(), text.end(), [](char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
           c == u'_' || c == u'.' || c == u'[' || c == u']';
  });
  if (plain) return text;
  std::u16string quoted = u"'";
  for (char16_t c : text) {
    quoted += c;
    if (c == u'\'') quoted += u'\'';
  }
  return quoted + u"'";
}

// The setting a formatting member reads from one cell, and its default.
struct FormatAccess {
  std::function<Variant(const CellData*)> read;
  std::function<bool(CellData&, const Variant&)> write;
};

FormatAccess storedFormat(FormatPart part, int32_t memberId, Variant fallback) {
  FormatAccess access;
  access.read = [part, memberId, fallback](const CellData* cell) {
    if (cell == nullptr) return fallback;
    auto it = cell->formats.find({part, memberId});
    return it == cell->formats.end() ? fallback : it->second;
  };
  access.write = [part, memberId](CellData& cell, const Variant& value) {
    cell.formats[{part, memberId}] = value;
    return true;
  };
  return access;
}

std::optional<uint32_t> colourOf(const Variant& v) {
  if (v.isInteger()) return uint32_t(v.integer());
  if (v.type() == VarType::kR8) return uint32_t(int64_t(v.real()));
  return std::nullopt;
}

// The members of Interior, Font and Borders and of the range's own formatting.
std::optional<FormatAccess> formatAccess(FormatPart part, int32_t memberId) {
  using namespace dispid;
  if (memberId == kColor && (part == FormatPart::kInterior || part == FormatPart::kFont)) {
    std::optional<uint32_t> CellData::*field =
        part == FormatPart::kInterior ? &CellData::interiorColor : &CellData::fontColor;
    uint32_t fallback = part == FormatPart::kInterior ? 0xFFFFFFu : 0u;
    FormatAccess access;
    access.read = [field, fallback](const CellData* cell) {
      return Variant::r8(double(cell != nullptr && (cell->*field) ? *(cell->*field) : fallback));
    };
    access.write = [field](CellData& cell, const Variant& value) {
      std::optional<uint32_t> colour = colourOf(value);
      if (!colour) return false;
      cell.*field = *colour & 0xFFFFFFu;
      return true;
    };
    return access;
  }
  switch (part) {
    case FormatPart::kInterior:
      switch (memberId) {
        case kColorIndex:
        case kPattern:
          return storedFormat(part, memberId, Variant::i4(-4142));
        case kPatternColor:
          return storedFormat(part, memberId, Variant::r8(0));
        case kPatternColorIndex:
          return storedFormat(part, memberId, Variant::i4(-4105));
        default:
          return std::nullopt;
      }
    case FormatPart::kFont:
      if (memberId == kColorIndex) return storedFormat(part, memberId, Variant::i4(-4105));
      return std::nullopt;
    case FormatPart::kBorders:
      switch (memberId) {
        case kLineStyle:
          return storedFormat(part, memberId, Variant::i4(-4142));
        case kWeight:
          return storedFormat(part, memberId, Variant::i4(2));
        case kColor:
          return storedFormat(part, memberId, Variant::r8(0));
        case kColorIndex:
          return storedFormat(part, memberId, Variant::i4(-4105));
        default:
          return std::nullopt;
      }
    case FormatPart::kRange:
      break;
  }
  switch (memberId) {
    case kWrapText: {
      FormatAccess access;
      access.read = [](const CellData* cell) {
        return Variant::boolean(cell != nullptr && cell->wrapText);
      };
      access.write = [](CellData& cell, const Variant& value) {
        if (value.type() != VarType::kBool && !value.isInteger()) return false;
        cell.wrapText = value.integer() != 0;
        return true;
      };
      return access;
    }
    case kNumberFormat: {
      FormatAccess access;
      access.read = [](const CellData* cell) {
        return Variant::text(cell == nullptr || cell->numberFormat.empty() ? u"General"
                                                                           : cell->numberFormat);
      };
      access.write = [](CellData& cell, const Variant& value) {
        if (value.type() != VarType::kBstr) return false;
        cell.numberFormat = value.text() == u"General" ? u"" : value.text();
        return true;
      };
      return access;
    }
    case kLocked: {
      FormatAccess access;
      access.read = [](const CellData* cell) {
        return Variant::boolean(cell == nullptr || cell->locked);
      };
      access.write = [](CellData& cell, const Variant& value) {
        if (value.type() != VarType::kBool && !value.isInteger()) return false;
        cell.locked = value.integer() != 0;
        return true;
      };
      return access;
    }
    case kHorizontalAlignment:
      return storedFormat(part, memberId, Variant::i4(1));
    case kVerticalAlignment:
      return storedFormat(part, memberId, Variant::i4(-4107));
    case kOrientation:
      return storedFormat(part, memberId, Variant::i4(-4128));
    case kRangeMember0xD1:
      return storedFormat(part, memberId, Variant::boolean(false));
    default:
      return std::nullopt;
  }
}

// Reads (the common setting, Null when the cells differ) or writes a formatting member over the
// range's cells.
HResult formatCall(RangeObject& range, const FormatAccess& access, InvokeKind kind,
                   std::span<Variant> arguments, Variant* result, bool guarded) {
  SheetData& sheet = range.sheet().data();
  if (kind == kPut) {
    const Variant* value = args::putValue(arguments);
    if (value == nullptr) return kDispEBadParamCount;
    if (totalCells(range.areas()) > kMaxArrayCells) return kProgramError;
    // The sheet's protection keeps its cells' locks as they are.
    if (guarded && sheet.protection.contents) return kProgramError;
    CellData probe;
    if (!access.write(probe, *value)) return kDispETypeMismatch;
    forEachCell(range.areas(), [&](uint32_t r, uint32_t c) {
      access.write(sheet.cells[{r, c}], *value);
    });
    range.sheet().workbook().saved = false;
    return kSOk;
  }
  const CellArea& first = range.areas().front();
  Variant common = access.read(findCell(sheet, first.firstRow, first.firstColumn));
  if (totalCells(range.areas()) <= kMaxScannedCells) {
    bool mixed = false;
    forEachCell(range.areas(), [&](uint32_t r, uint32_t c) {
      if (!mixed && !(access.read(findCell(sheet, r, c)) == common)) mixed = true;
    });
    if (mixed) return answer(result, Variant::null());
  }
  return answer(result, std::move(common));
}

// --- Hyperlinks.

struct LinkPlace {
  CellKey cell;
  size_t index;
};

std::vector<LinkPlace> linksIn(const SheetData& sheet, const std::vector<CellArea>& areas) {
  std::vector<LinkPlace> places;
  forEachStoredCell(sheet, areas, [&](const CellKey& key, const CellData& cell) {
    for (size_t i = 0; i < cell.hyperlinks.size(); ++i) places.push_back({key, i});
  });
  return places;
}

std::shared_ptr<Dispatch> makeHyperlinkObject(SpreadsheetProgram* program,
                                              std::shared_ptr<SheetObject> sheet, LinkPlace place) {
  return std::make_shared<MemberObject>(
      program,
      [program, sheet, place](int32_t id, InvokeKind kind, std::span<Variant> arguments,
                              Variant* result) -> HResult {
        using namespace dispid;
        SheetData& data = sheet->data();
        auto cell = data.cells.find(place.cell);
        if (!sheet->workbook().open || cell == data.cells.end() ||
            place.index >= cell->second.hyperlinks.size()) {
          return kProgramError;  // deleted since
        }
        HyperlinkData& link = cell->second.hyperlinks[place.index];
        std::u16string* field = nullptr;
        switch (id) {
          case kAddress:
            field = &link.address;
            break;
          case kSubAddress:
            field = &link.subAddress;
            break;
          case kScreenTip:
            field = &link.screenTip;
            break;
          case kTextToDisplay:
            field = &link.textToDisplay;
            break;
          case kName:
            return answer(result,
                          Variant::text(link.address.empty() ? link.subAddress : link.address));
          case kRange:
            return answer(
                result,
                Variant::dispatch(sheet->range({CellArea{place.cell.first, place.cell.second,
                                                         place.cell.first, place.cell.second}})));
          case kDelete:
            cell->second.hyperlinks.erase(cell->second.hyperlinks.begin() + ptrdiff_t(place.index));
            sheet->workbook().saved = false;
            return kSOk;
          default:
            return kDispEMemberNotFound;
        }
        if (kind != kPut) return answer(result, Variant::text(*field));
        std::optional<std::u16string> value = args::text(arguments, arguments.size() - 1);
        if (!value) return kDispETypeMismatch;
        *field = *value;
        // The cell shows the link's text.
        if (id == kTextToDisplay) cell->second.value = Variant::text(*value);
        sheet->workbook().saved = false;
        (void)program;
        return kSOk;
      });
}

}  // namespace

std::shared_ptr<Dispatch> makeHyperlinksObject(SpreadsheetProgram* program,
                                               std::shared_ptr<SheetObject> sheet,
                                               std::vector<CellArea> areas) {
  return std::make_shared<MemberObject>(
      program,
      [program, sheet, areas](int32_t id, InvokeKind, std::span<Variant> arguments,
                              Variant* result) -> HResult {
        using namespace dispid;
        if (!sheet->workbook().open) return kProgramError;
        SheetData& data = sheet->data();
        std::vector<LinkPlace> places = linksIn(data, areas);
        switch (id) {
          case kCount:
            return answer(result, Variant::i4(int32_t(places.size())));
          case kItem: {
            std::optional<int64_t> index = args::integer(arguments, 0);
            if (!index || *index < 1 || uint64_t(*index) > places.size()) return kProgramError;
            return answer(result, Variant::dispatch(makeHyperlinkObject(
                                      program, sheet, places[size_t(*index - 1)])));
          }
          case kDelete:
            for (const LinkPlace& place : places) data.cells[place.cell].hyperlinks.clear();
            if (!places.empty()) sheet->workbook().saved = false;
            return kSOk;
          case kAdd: {
            auto* anchor = args::given(arguments, 0) && arguments[0].type() == VarType::kDispatch
                               ? dynamic_cast<RangeObject*>(arguments[0].object().get())
                               : nullptr;
            if (anchor == nullptr || anchor->sheetObject() != sheet) return kEInvalidArg;
            const CellArea& at = anchor->areas().front();
            if (!program->writable(sheet->workbook(), sheet->index(), at.firstRow, at.firstColumn,
                                   ChangeSource::kAutomation)) {
              return kProgramError;
            }
            HyperlinkData link;
            link.address = args::text(arguments, 1).value_or(u"");
            link.subAddress = args::text(arguments, 2).value_or(u"");
            link.screenTip = args::text(arguments, 3).value_or(u"");
            link.textToDisplay = args::text(arguments, 4).value_or(u"");
            CellData& cell = data.cells[{at.firstRow, at.firstColumn}];
            // A cell holds one link: a new one replaces it.
            cell.hyperlinks.assign(1, link);
            if (!link.textToDisplay.empty()) {
              cell.value = Variant::text(link.textToDisplay);
            } else if (cell.value.isEmpty() && cell.formula.empty()) {
              cell.value = Variant::text(link.address.empty() ? link.subAddress : link.address);
            }
            sheet->workbook().saved = false;
            return answer(result, Variant::dispatch(makeHyperlinkObject(
                                      program, sheet, {{at.firstRow, at.firstColumn}, 0})));
          }
          default:
            return kDispEMemberNotFound;
        }
      });
}

std::shared_ptr<Dispatch> makeFormatObject(SpreadsheetProgram* program,
                                           std::shared_ptr<RangeObject> range, FormatPart part) {
  return std::make_shared<MemberObject>(
      program,
      [range, part](int32_t id, InvokeKind kind, std::span<Variant> arguments,
                    Variant* result) -> HResult {
        if (!range->sheet().workbook().open) return kProgramError;
        std::optional<FormatAccess> access = formatAccess(part, id);
        if (!access) return kDispEMemberNotFound;
        return formatCall(*range, *access, kind, arguments, result, false);
      });
}

RangeObject::RangeObject(SpreadsheetProgram* program, std::shared_ptr<SheetObject> sheet,
                         std::vector<CellArea> areas)
    : TableObject(program, program->tables().range),
      sheet_(std::move(sheet)),
      areas_(std::move(areas)) {}

HResult RangeObject::readValues(std::span<Variant>, Variant* result, bool formulas) {
  const SheetData& data = sheet_->data();
  auto valueAt = [&](uint32_t r, uint32_t c) {
    const CellData* cell = findCell(data, r, c);
    if (!formulas) return cell != nullptr ? cell->value : Variant();
    if (cell == nullptr) return Variant::text(u"");
    return Variant::text(cell->formula.empty() ? valueText(cell->value) : cell->formula);
  };
  const CellArea& a = areas_.front();
  if (a.cellCount() == 1) return answer(result, valueAt(a.firstRow, a.firstColumn));
  if (a.cellCount() > kMaxArrayCells) return kProgramError;
  uint32_t rows = a.lastRow - a.firstRow + 1;
  uint32_t columns = a.lastColumn - a.firstColumn + 1;
  VariantArray values = VariantArray::twoDimensions(rows, columns, 1);
  for (uint32_t i = 0; i < rows; ++i) {
    for (uint32_t j = 0; j < columns; ++j) {
      values.at(int32_t(i + 1), int32_t(j + 1)) = valueAt(a.firstRow + i, a.firstColumn + j);
    }
  }
  return answer(result, Variant::array(std::move(values)));
}

HResult RangeObject::writeValues(SpreadsheetProgram& program, std::span<Variant> arguments) {
  const Variant* value = args::putValue(arguments);
  if (value == nullptr) return kDispEBadParamCount;
  if (totalCells(areas_) > kMaxArrayCells) return kProgramError;
  WorkbookState& wb = sheet_->workbook();
  size_t index = sheet_->index();
  // Nothing is written unless every cell may be.
  bool refused = false;
  forEachCell(areas_, [&](uint32_t r, uint32_t c) {
    if (!refused && !program.writable(wb, index, r, c, ChangeSource::kAutomation)) refused = true;
  });
  if (refused) return kProgramError;
  for (const CellArea& a : areas_) {
    for (uint32_t r = a.firstRow; r <= a.lastRow; ++r) {
      for (uint32_t c = a.firstColumn; c <= a.lastColumn; ++c) {
        // An array is not copied whole for each of its cells.
        Variant element = value->type() == VarType::kArray ? Variant() : *value;
        if (value->type() == VarType::kArray) {
          // The array is laid over the area from its top-left; cells beyond it get #N/A.
          const VariantArray& array = value->array();
          int64_t i = int64_t(r - a.firstRow);
          int64_t j = int64_t(c - a.firstColumn);
          if (array.dimensions == 1) std::swap(i, j);  // one dimension: one row
          bool inside = array.dimensions == 1
                            ? i == 0 && j < int64_t(array.count[0])
                            : i < int64_t(array.count[0]) && j < int64_t(array.count[1]);
          if (!inside) {
            element = Variant::error(kCellErrorNA);
          } else if (array.dimensions == 1) {
            element = array.at(int32_t(array.lower[0] + j));
          } else {
            element = array.at(int32_t(array.lower[0] + i), int32_t(array.lower[1] + j));
          }
          if (element.type() == VarType::kArray) element = Variant();
        }
        program.storeEntry(wb, index, r, c, element, true);
      }
    }
  }
  program.afterChange(wb, index, areas_, ChangeSource::kAutomation);
  return kSOk;
}

HResult RangeObject::addressText(SpreadsheetProgram& program, std::span<Variant> arguments,
                                 Variant* result) {
  bool rowAbsolute = args::boolean(arguments, 0, true);
  bool columnAbsolute = args::boolean(arguments, 1, true);
  bool r1c1 = args::integer(arguments, 2).value_or(1) == kReferenceStyleR1C1;
  bool external = args::boolean(arguments, 3, false);
  std::u16string text;
  for (const CellArea& a : areas_) {
    if (!text.empty()) text += u",";
    text += r1c1 ? formatR1C1(a) : formatA1(a, rowAbsolute, columnAbsolute);
  }
  if (external) {
    text =
        quotedSheet(u"[" + program.workbookName(sheet_->workbook()) + u"]" + sheet_->data().name) +
        u"!" + text;
  }
  return answer(result, Variant::text(std::move(text)));
}

HResult RangeObject::hasFormula(Variant* result) {
  uint64_t formulas = 0;
  forEachStoredCell(sheet_->data(), areas_, [&](const CellKey&, const CellData& cell) {
    if (!cell.formula.empty()) ++formulas;
  });
  if (formulas == 0) return answer(result, Variant::boolean(false));
  if (formulas == totalCells(areas_)) return answer(result, Variant::boolean(true));
  return answer(result, Variant::null());
}

HResult RangeObject::directPrecedents(SpreadsheetProgram& program, Variant* result) {
  std::vector<CellArea> precedents;
  const SheetData& data = sheet_->data();
  forEachStoredCell(data, areas_, [&](const CellKey&, const CellData& cell) {
    if (cell.formula.empty()) return;
    for (const FormulaReference& reference : formulaReferences(cell.formula)) {
      // Precedents are traced on the formula's own sheet only.
      bool ownSheet = reference.sheet.empty() || reference.sheet == data.name;
      if (ownSheet &&
          std::find(precedents.begin(), precedents.end(), reference.area) == precedents.end()) {
        precedents.push_back(reference.area);
      }
    }
  });
  if (precedents.empty()) return kProgramError;  // "No cells were found."
  (void)program;
  return answer(result, Variant::dispatch(sheet_->range(std::move(precedents))));
}

HResult RangeObject::specialCells(std::span<Variant> arguments, Variant* result) {
  if (args::integer(arguments, 0) != kCellTypeLastCell) return kProgramError;
  CellArea last;
  for (const auto& [key, cell] : sheet_->data().cells) {
    last.firstRow = last.lastRow = std::max(last.lastRow, key.first);
    last.firstColumn = last.lastColumn = std::max(last.lastColumn, key.second);
  }
  return answer(result, Variant::dispatch(sheet_->range({last})));
}

HResult RangeObject::formatMember(int32_t memberId, InvokeKind kind, std::span<Variant> arguments,
                                  Variant* result) {
  std::optional<FormatAccess> access = formatAccess(FormatPart::kRange, memberId);
  if (!access) return kDispEMemberNotFound;
  return formatCall(*this, *access, kind, arguments, result, memberId == kLocked);
}

HResult RangeObject::member(SpreadsheetProgram& program, int32_t memberId, InvokeKind kind,
                            std::span<Variant> arguments, Variant* result, uint32_t) {
  using namespace dispid;
  WorkbookState& wb = sheet_->workbook();
  if (!wb.open || areas_.empty()) return kProgramError;
  auto self = std::static_pointer_cast<RangeObject>(shared_from_this());
  switch (memberId) {
    case kValue:
    case kValue2:
    case kFormula:
      if (kind == kPut) return writeValues(program, arguments);
      return readValues(arguments, result, memberId == kFormula);
    case kAddress:
      return addressText(program, arguments, result);
    case kCount: {
      // Whole columns and rows report no count; callers cut them to the used area.
      bool whole = std::any_of(areas_.begin(), areas_.end(),
                               [](const CellArea& a) { return a.wholeColumns() || a.wholeRows(); });
      return answer(result, Variant::i4(whole ? 0 : int32_t(totalCells(areas_))));
    }
    case kHasFormula:
      return hasFormula(result);
    case kAreas:
      return answer(
          result, Variant::dispatch(std::make_shared<MemberObject>(
                      &program,
                      [self](int32_t id, InvokeKind, std::span<Variant> a, Variant* r) -> HResult {
                        const std::vector<CellArea>& areas = self->areas();
                        if (id == kCount) return answer(r, Variant::i4(int32_t(areas.size())));
                        if (id != kItem) return kDispEMemberNotFound;
                        std::optional<int64_t> i = args::integer(a, 0);
                        if (!i || *i < 1 || uint64_t(*i) > areas.size()) {
                          return kProgramError;
                        }
                        return answer(
                            r, Variant::dispatch(self->sheet().range({areas[size_t(*i - 1)]})));
                      })));
    case kWorksheet:
    case kParent:
      return answer(result, Variant::dispatch(sheet_));
    case kItem: {
      std::optional<int64_t> row = args::integer(arguments, 0);
      std::optional<int64_t> column = args::integer(arguments, 1);
      const CellArea& a = areas_.front();
      if (!row || *row < 1) return kProgramError;
      int64_t width = int64_t(a.lastColumn - a.firstColumn) + 1;
      int64_t r = column ? *row - 1 : (*row - 1) / width;
      int64_t c = column ? *column - 1 : (*row - 1) % width;
      if (c < 0 || a.firstRow + r >= kSheetRows || a.firstColumn + c >= kSheetColumns) {
        return kProgramError;
      }
      uint32_t cr = uint32_t(a.firstRow + r), cc = uint32_t(a.firstColumn + c);
      return answer(result, Variant::dispatch(sheet_->range({CellArea{cr, cc, cr, cc}})));
    }
    case kRow:
      return answer(result, Variant::i4(int32_t(areas_.front().firstRow + 1)));
    case kColumn:
      return answer(result, Variant::i4(int32_t(areas_.front().firstColumn + 1)));
    case kInterior:
      return answer(result,
                    Variant::dispatch(makeFormatObject(&program, self, FormatPart::kInterior)));
    case kFont:
      return answer(result, Variant::dispatch(makeFormatObject(&program, self, FormatPart::kFont)));
    case kBorders:
      return answer(result,
                    Variant::dispatch(makeFormatObject(&program, self, FormatPart::kBorders)));
    case kHyperlinks:
      return answer(result, Variant::dispatch(makeHyperlinksObject(&program, sheet_, areas_)));
    case kCalculate:
      for (const CellArea& a : areas_) program.calculateArea(wb, sheet_->index(), a);
      return kSOk;
    case kDirectPrecedents:
      return directPrecedents(program, result);
    case kSpecialCells:
      return specialCells(arguments, result);
    case kSelect:
    case kActivate:
      if (sheet_->data().hidden) return kProgramError;
      program.activateWorkbook(wb);
      wb.activeSheet = sheet_->index();
      wb.selections[sheet_->index()] = areas_.front();
      return kSOk;
    default:
      return formatMember(memberId, kind, arguments, result);
  }
}

}  // namespace korvel
