#include "tools/korvel/model_dump.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "engine/value_convert.h"
#include "model/address.h"
#include "util/text.h"

namespace korvel {
namespace {

using json = nlohmann::ordered_json;

std::string hex(uint32_t v) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%X", v);
  return buffer;
}

std::string sheetPrefix(const CompiledModel& model, uint32_t sheet) {
  const Sheet* s = model.sheets().find(sheet);
  return s ? toUtf8(s->excelName()) + "!" : "";
}

std::string referenceText(const CompiledModel& model, const RangeRef& range) {
  if (!isValidRange(range)) return "#REF!";
  return sheetPrefix(model, range.first.sheet()) + toUtf8(rangeText(range));
}

std::string address(const CompiledModel& model, CellRef cell) {
  if (cell.isNone()) return "(no address)";
  return sheetPrefix(model, cell.sheet()) + toUtf8(cellText(cell));
}

const char* kindName(const Value& v) {
  switch (v.kind()) {
    case ValueKind::kEmpty:
      return "empty";
    case ValueKind::kInteger:
      return "integer";
    case ValueKind::kNumber:
      return "number";
    case ValueKind::kShortText:
    case ValueKind::kLongText:
      return "text";
    case ValueKind::kBoolean:
      return "boolean";
    case ValueKind::kReference:
      return "reference";
    case ValueKind::kReferenceList:
      return "referenceList";
    case ValueKind::kArray:
      return "array";
    case ValueKind::kError:
      return "error";
  }
  return "empty";
}

}  // namespace

json valueJson(const CompiledModel& model, const Value& v) {
  json out = {{"kind", kindName(v)}};
  switch (v.kind()) {
    case ValueKind::kEmpty:
      break;
    case ValueKind::kInteger:
      out["value"] = v.integer();
      break;
    case ValueKind::kNumber:
      out["value"] = v.number();
      break;
    case ValueKind::kShortText:
    case ValueKind::kLongText:
      out["value"] = toUtf8(v.text());
      break;
    case ValueKind::kBoolean:
      out["value"] = v.boolean();
      break;
    case ValueKind::kReference:
      out["value"] = referenceText(model, v.reference());
      break;
    case ValueKind::kReferenceList: {
      json list = json::array();
      for (const Value& e : v.array().elements()) {
        list.push_back(e.isReference() ? referenceText(model, e.reference()) : "#VALUE!");
      }
      out["value"] = list;
      break;
    }
    case ValueKind::kArray: {
      json rows = json::array();
      const ValueArray& a = v.array();
      for (uint32_t r = 0; r < a.rows(); ++r) {
        json row = json::array();
        for (uint32_t c = 0; c < a.columns(); ++c) row.push_back(valueJson(model, a.at(c, r)));
        rows.push_back(row);
      }
      out["rows"] = rows;
      break;
    }
    case ValueKind::kError:
      out["value"] = toUtf8(errorText(v.errorCode()));
      break;
  }
  return out;
}

// The display form in the text listing: texts quoted, so that "1" and 1 differ.
std::string valueText(const CompiledModel& model, const Value& v) {
  if (v.isText()) return "\"" + toUtf8(v.text()) + "\"";
  if (v.isReference()) return referenceText(model, v.reference());
  if (v.isEmpty()) return "(empty)";
  return toUtf8(toText(v));
}

namespace {

json formulaJson(const CompiledModel& model, const Node* root, Cell* cell) {
  if (!root) return nullptr;
  CurrentCellScope scope(cell);
  return "=" + toUtf8(root->formulaText(&model));
}

uint32_t storedSheetFlags(const CompiledModel& model, const Sheet& sheet) {
  auto it = model.sheetFlags.find(sheet.index());
  uint32_t flags = it == model.sheetFlags.end() ? 0 : it->second;
  return sheet.eventFlag ? flags | 1 : flags & ~1u;
}

const Value& cellValue(const Cell* cell) {
  static const Value kEmpty;
  return cell->value ? *cell->value : kEmpty;
}

}  // namespace

json dumpJson(const CompiledModel& model) {
  json out;
  out["header"] = {{"appId", model.applicationId},
                   {"version", model.formatVersion},
                   {"sheetCount", model.sheets().size()},
                   {"cellCount", model.cellCount()},
                   {"nameCount", model.names.size()}};
  json sheets = json::array();
  for (const auto& [index, sheet] : model.sheets().sheets()) {
    sheets.push_back({{"index", index},
                      {"name", toUtf8(sheet.name())},
                      {"excelName", toUtf8(sheet.excelName())},
                      {"flags", storedSheetFlags(model, sheet)}});
  }
  out["sheets"] = sheets;
  json names = json::array();
  for (const DefinedName& name : model.names) {
    names.push_back({{"name", toUtf8(name.name)},
                     {"scope", name.scope},
                     {"formula", formulaJson(model, name.root.get(), nullptr)}});
  }
  out["names"] = names;
  json constants = json::array();
  for (const Value& v : model.constants) constants.push_back(valueJson(model, v));
  out["constants"] = constants;
  json cells = json::array();
  for (Cell* cell : model.cells()) {
    json c = {
        {"address", address(model, cell->address)},
        {"sheet", cell->address.isNone() ? -1 : int64_t(cell->address.sheet())},
        {"row", cell->address.isNone() ? -1 : int64_t(cell->address.row())},
        {"col", cell->address.isNone() ? -1 : int64_t(cell->address.column())},
        {"flags", cell->flags},
        {"firstList", cell->firstListIndex},
        {"secondList", cell->secondListIndex()},
        {"value", valueJson(model, cellValue(cell))},
        {"formula",
         formulaJson(model, cell->formulaRoots.empty() ? nullptr : cell->formulaRoots.front().get(),
                     cell)}};
    if (cell->hyperlink()) {
      c["hyperlink"] = {{"kind", cell->hyperlink()->kind},
                        {"address", toUtf8(cell->hyperlink()->address)},
                        {"target", toUtf8(cell->hyperlink()->target)}};
    }
    if (cell->arrayRange()) c["arrayRange"] = referenceText(model, *cell->arrayRange());
    cells.push_back(c);
  }
  out["cells"] = cells;
  return out;
}

std::string dumpText(const CompiledModel& model) {
  std::string out;
  out += "header: appId " + std::to_string(model.applicationId) + ", version " +
         std::to_string(model.formatVersion) + ", " + std::to_string(model.sheets().size()) +
         " sheets, " + std::to_string(model.cellCount()) + " cells, " +
         std::to_string(model.names.size()) + " names\n";
  for (const auto& [index, sheet] : model.sheets().sheets()) {
    out += "sheet " + std::to_string(index) + ": " + toUtf8(sheet.name()) + " (excel name " +
           toUtf8(sheet.excelName()) + ", flags " + hex(storedSheetFlags(model, sheet)) + ")\n";
  }
  for (const DefinedName& name : model.names) {
    json formula = formulaJson(model, name.root.get(), nullptr);
    out += "name " + toUtf8(name.name) +
           (name.scope < 0 ? std::string(" (workbook)")
                           : " (sheet " + std::to_string(name.scope) + ")") +
           ": " +
           (formula.is_null() ? std::string("(no expression)") : formula.get<std::string>()) + "\n";
  }
  for (size_t i = 0; i < model.constants.size(); ++i) {
    out += "constant " + std::to_string(i) + ": " + valueText(model, model.constants[i]) + "\n";
  }
  for (Cell* cell : model.cells()) {
    out += address(model, cell->address) + " flags " + hex(cell->flags) + " lists " +
           std::to_string(cell->firstListIndex) + "/" + std::to_string(cell->secondListIndex()) +
           " value " + valueText(model, cellValue(cell));
    if (cell->hyperlink()) out += " hyperlink " + toUtf8(cell->hyperlink()->address);
    if (cell->arrayRange()) out += " array " + referenceText(model, *cell->arrayRange());
    if (!cell->formulaRoots.empty()) {
      out += " formula " +
             formulaJson(model, cell->formulaRoots.front().get(), cell).get<std::string>();
    }
    out += "\n";
  }
  return out;
}

}  // namespace korvel
