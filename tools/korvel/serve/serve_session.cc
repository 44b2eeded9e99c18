#include "tools/korvel/serve/serve_session.h"

#include <charconv>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "engine/value_convert.h"
#include "engine/value_variant.h"
#include "hosts/headless/spreadsheet/a1_reference.h"
#include "runtime/addin_entry_points.h"
#include "runtime/runtime.h"
#include "tools/korvel/cell_text.h"
#include "util/text.h"

namespace korvel {

namespace {

// A request names at most this many cells to type into.
constexpr size_t kMostAssignments = 10000;

// The value as JSON: a number, a text, a boolean, or {"error": "#N/A"}; null for an empty cell.
nlohmann::ordered_json valueJson(const Variant& variant) {
  Value value = fromVariant(variant);
  if (value.isNumeric()) {
    double number = value.number();
    if (std::isfinite(number)) return number;
    return nlohmann::ordered_json{{"error", "#NUM!"}};
  }
  if (value.isText()) return toUtf8(value.text());
  if (value.isBoolean()) return value.boolean();
  if (value.isError())
    return nlohmann::ordered_json{{"error", toUtf8(errorText(value.errorCode()))}};
  return nullptr;
}

// What the user would type for a JSON value: the shortest text that reads back as the number.
bool typedText(const nlohmann::ordered_json& value, std::u16string* out, std::string* problem) {
  if (value.is_number()) {
    double number = value.get<double>();
    if (!std::isfinite(number)) {
      *problem = "the number is not finite";
      return false;
    }
    char buffer[64];
    auto [end, failed] = std::to_chars(buffer, buffer + sizeof buffer, number);
    *out = fromUtf8(std::string_view(buffer, size_t(end - buffer)));
    return failed == std::errc();
  }
  if (value.is_boolean()) {
    *out = value.get<bool>() ? u"TRUE" : u"FALSE";
    return true;
  }
  if (value.is_null()) {
    out->clear();
    return true;
  }
  if (value.is_string()) {
    *out = fromUtf8(value.get<std::string>());
    // A formula typed here would be the user's own, yet its text would come back in no reply;
    // the page takes values only.
    if (!out->empty() && out->front() == u'=') {
      *problem = "formulas cannot be entered, only values";
      return false;
    }
    return true;
  }
  *problem = "expected a number, a text, a boolean or null";
  return false;
}

// "#RRGGBB" from 0x00BBGGRR.
std::string cssColour(uint32_t bgr) {
  static const char kDigits[] = "0123456789abcdef";
  uint32_t rgb = ((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF);
  std::string text = "#";
  for (int shift = 20; shift >= 0; shift -= 4) text += kDigits[(rgb >> shift) & 0xF];
  return text;
}

// The cell's font, fill and borders where they are not the default; the members the page
// draws.
void addLook(const CellData& cell, nlohmann::ordered_json* entry) {
  nlohmann::ordered_json font = nlohmann::ordered_json::object();
  const CellStyle* style = cell.style.get();
  if (style != nullptr) {
    if (style->bold) font["bold"] = true;
    if (style->italic) font["italic"] = true;
    if (!style->underline.empty()) font["underline"] = style->underline;
    if (style->fontSize > 0) font["size"] = style->fontSize;
    if (!style->fontName.empty()) font["name"] = toUtf8(style->fontName);
  }
  if (cell.fontColor) font["color"] = cssColour(*cell.fontColor);
  if (!font.empty()) (*entry)["font"] = std::move(font);
  if (cell.interiorColor) (*entry)["fill"] = cssColour(*cell.interiorColor);
  if (style == nullptr) return;
  nlohmann::ordered_json border = nlohmann::ordered_json::object();
  for (auto [side, line] : {std::pair{"left", &style->left}, std::pair{"right", &style->right},
                            std::pair{"top", &style->top}, std::pair{"bottom", &style->bottom}}) {
    if (line->style.empty()) continue;
    border[side] = {{"style", line->style}, {"color", cssColour(line->color.value_or(0))}};
  }
  if (!border.empty()) (*entry)["border"] = std::move(border);
}

std::string cellLabel(const std::u16string& sheet, uint32_t row, uint32_t column) {
  return sheetReferenceName(sheet) + "!" + toUtf8(a1ColumnLetters(column)) +
         std::to_string(row + 1);
}

}  // namespace

std::string randomToken() {
  std::random_device device;
  std::string text;
  for (int i = 0; i < 4; ++i) {
    char buffer[16];
    auto [end, failed] = std::to_chars(buffer, buffer + sizeof buffer, device(), 16);
    text.append(buffer, end);
  }
  return text;
}

bool ServeSession::start(const ServeSource& source, std::string* error) {
  source_ = source;
  if (!source.applicationPath.empty()) {
    if (!session_.startApplication(source.applicationPath, SessionOptions{}, error)) return false;
  } else {
    SessionOptions options;
    options.workbookName = source.workbookName;
    options.presentation = source.presentation;
    if (!session_.start(*source.workbook, options, error)) return false;
  }
  for (const std::u16string& cell : session_.computedCells()) computed_.insert(toUpper(cell));
  dialogsSeen_ = session_.dialogs().shown().size();
  messagesSeen_ = session_.windows().messageBoxes().size();
  return true;
}

WorkbookState* ServeSession::workbook() const {
  return session_.program().workbookState(session_.workbookName());
}

bool ServeSession::visibleSheet(std::u16string_view name, size_t* index) const {
  const WorkbookState* state = workbook();
  if (state == nullptr) return false;
  for (size_t i = 0; i < state->data.sheets.size(); ++i) {
    const SheetData& sheet = state->data.sheets[i];
    if (!sheet.hidden && equalsNoCase(sheet.name, name)) {
      *index = i;
      return true;
    }
  }
  return false;
}

bool ServeSession::locked(size_t sheet, uint32_t row, uint32_t column) const {
  const WorkbookState* state = workbook();
  if (!session_.program().writable(*state, sheet, row, column, ChangeSource::kUser)) return true;
  // A cell the runtime computes gets its value back after any entry.
  std::u16string name =
      session_.cellName(state->data.sheets[sheet].name + u"!" + a1ColumnLetters(column) +
                        fromUtf8(std::to_string(row + 1)));
  return computed_.count(toUpper(name)) > 0;
}

nlohmann::ordered_json ServeSession::cellJson(size_t sheet, uint32_t row, uint32_t column) const {
  const WorkbookState* state = workbook();
  const std::u16string& sheetName = state->data.sheets[sheet].name;
  std::u16string a1 = a1ColumnLetters(column) + fromUtf8(std::to_string(row + 1));
  nlohmann::ordered_json entry;
  entry["cell"] = cellLabel(sheetName, row, column);
  entry["value"] = valueJson(session_.program().cellValue(state->name, sheetName, a1));
  entry["text"] = toUtf8(session_.program().displayText(state->name, sheetName, a1));
  entry["locked"] = locked(sheet, row, column);
  const auto& cells = state->data.sheets[sheet].cells;
  if (auto stored = cells.find({row, column}); stored != cells.end())
    addLook(stored->second, &entry);
  return entry;
}

ServeReply ServeSession::sheets() const {
  const WorkbookState* state = workbook();
  ServeReply reply;
  nlohmann::ordered_json names = nlohmann::ordered_json::array();
  nlohmann::ordered_json layout = nlohmann::ordered_json::array();
  for (const SheetData& sheet : state->data.sheets) {
    if (sheet.hidden) continue;
    uint32_t rows = 0, columns = 0;
    for (const auto& [key, cell] : sheet.cells) {
      rows = std::max(rows, key.first + 1);
      columns = std::max(columns, key.second + 1);
    }
    for (const CellArea& area : sheet.merges) {
      rows = std::max(rows, area.lastRow + 1);
      columns = std::max(columns, area.lastColumn + 1);
    }
    nlohmann::ordered_json widths = nlohmann::ordered_json::object();
    for (const auto& [column, width] : sheet.columnWidths) {
      widths[toUtf8(a1ColumnLetters(column))] = width;
    }
    nlohmann::ordered_json merges = nlohmann::ordered_json::array();
    for (const CellArea& area : sheet.merges)
      merges.push_back(toUtf8(formatA1(area, false, false)));
    names.push_back(toUtf8(sheet.name));
    layout.push_back({{"name", toUtf8(sheet.name)},
                      {"protected", sheet.protection.contents},
                      {"rows", rows},
                      {"columns", columns},
                      {"widths", std::move(widths)},
                      {"merges", std::move(merges)}});
  }
  Runtime& runtime = session_.runtime();
  reply.json = {{"sheets", std::move(names)},
                {"layout", std::move(layout)},
                {"manual", manual_},
                {"dataExchange", runtime.settings().dataExchange},
                {"save", source_.allowSave && runtime.settings().saveAsExecutable}};
  return reply;
}

ServeReply ServeSession::cells(std::u16string_view range) const {
  std::optional<A1Reference> reference = parseA1(range);
  if (!reference || reference->areas.size() != 1) {
    return ServeReply::error(
        400, "range: expected Sheet!A1:D6 or Sheet!A1, not " + toUtf8(range.substr(0, 100)));
  }
  size_t sheet = 0;
  if (reference->sheet.empty()) {
    return ServeReply::error(400, "range: name the sheet, as in Sheet1!A1:D6");
  }
  if (!visibleSheet(reference->sheet, &sheet)) {
    return ServeReply::error(404, "range: no sheet " + toUtf8(reference->sheet.substr(0, 100)));
  }
  const CellArea& area = reference->areas.front();
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  // Only stored cells: a whole-sheet range costs what the sheet holds, not its size.
  const SheetData& data = workbook()->data.sheets[sheet];
  for (auto it = data.cells.lower_bound({area.firstRow, 0});
       it != data.cells.end() && it->first.first <= area.lastRow; ++it) {
    if (!area.contains(it->first.first, it->first.second)) continue;
    list.push_back(cellJson(sheet, it->first.first, it->first.second));
  }
  ServeReply reply;
  reply.json = {{"cells", std::move(list)}};
  return reply;
}

ServeSession::Snapshot ServeSession::snapshot() const {
  Snapshot cells;
  const WorkbookState* state = workbook();
  if (state == nullptr) return cells;
  for (size_t sheet = 0; sheet < state->data.sheets.size(); ++sheet) {
    if (state->data.sheets[sheet].hidden) continue;
    for (const auto& [key, cell] : state->data.sheets[sheet].cells) {
      cells[{sheet, key.first, key.second}] = cellJson(sheet, key.first, key.second).dump();
    }
  }
  return cells;
}

ServeReply ServeSession::changedSince(const Snapshot& before) {
  Snapshot after = snapshot();
  nlohmann::ordered_json changed = nlohmann::ordered_json::array();
  for (const auto& [key, text] : after) {
    auto old = before.find(key);
    if (old == before.end() || old->second != text) {
      changed.push_back(nlohmann::ordered_json::parse(text));
    }
  }
  // A cell the program no longer stores shows empty.
  const WorkbookState* state = workbook();
  for (const auto& [key, text] : before) {
    if (after.count(key) || state == nullptr) continue;
    auto [sheet, row, column] = key;
    changed.push_back(cellJson(sheet, row, column));
  }
  ServeReply reply;
  reply.json = {{"changed", std::move(changed)}};
  const auto& shown = session_.dialogs().shown();
  if (shown.size() > dialogsSeen_) {
    nlohmann::ordered_json dialogs = nlohmann::ordered_json::array();
    for (size_t i = dialogsSeen_; i < shown.size(); ++i)
      dialogs.push_back(describeDialog(shown[i]));
    reply.json["dialogs"] = std::move(dialogs);
    dialogsSeen_ = shown.size();
  }
  const auto& boxes = session_.windows().messageBoxes();
  if (boxes.size() > messagesSeen_) {
    nlohmann::ordered_json messages = nlohmann::ordered_json::array();
    for (size_t i = messagesSeen_; i < boxes.size(); ++i) {
      messages.push_back(toUtf8(boxes[i].caption) + ": " + toUtf8(boxes[i].text));
    }
    reply.json["messages"] = std::move(messages);
    messagesSeen_ = boxes.size();
  }
  return reply;
}

ServeReply ServeSession::set(const nlohmann::ordered_json& assignments) {
  if (!assignments.is_object() || assignments.empty()) {
    return ServeReply::error(400,
                             "set: expected an object of cells and values, such as "
                             "{\"Order!C2\": 10}");
  }
  if (assignments.size() > kMostAssignments) {
    return ServeReply::error(
        413, "set: at most " + std::to_string(kMostAssignments) + " cells in one request");
  }
  struct Entry {
    std::u16string cell;
    std::u16string text;
  };
  std::vector<Entry> entries;
  // Every entry is checked before any is typed, so that a refused request changes nothing.
  for (const auto& [name, value] : assignments.items()) {
    std::string shown = name.substr(0, 100);
    std::optional<A1Reference> reference = parseA1(fromUtf8(name));
    size_t sheet = 0;
    if (!reference || reference->sheet.empty() || reference->areas.size() != 1 ||
        reference->areas.front().cellCount() != 1) {
      return ServeReply::error(400, "set: " + shown + ": expected one cell, such as Order!C2");
    }
    if (!visibleSheet(reference->sheet, &sheet)) {
      return ServeReply::error(404, "set: " + shown + ": no such sheet");
    }
    const CellArea& area = reference->areas.front();
    if (locked(sheet, area.firstRow, area.firstColumn)) {
      return ServeReply::error(403, "set: " + shown + ": the cell is locked");
    }
    Entry entry;
    std::string problem;
    if (!typedText(value, &entry.text, &problem)) {
      return ServeReply::error(400, "set: " + shown + ": " + problem);
    }
    entry.cell = workbook()->data.sheets[sheet].name + u"!" + formatA1(area, false, false);
    entries.push_back(std::move(entry));
  }
  Snapshot before = snapshot();
  for (const Entry& entry : entries) {
    bool typed = true;
    if (entry.text.empty()) {
      size_t bang = entry.cell.rfind(u'!');
      typed = session_.program().clearCell(workbook()->name, entry.cell.substr(0, bang),
                                           entry.cell.substr(bang + 1));
      session_.runMessages();
    } else {
      typed = session_.type(entry.cell, entry.text);
    }
    if (!typed) {
      ServeReply reply = changedSince(before);
      reply.status = 409;
      reply.json["error"] = "set: " + toUtf8(entry.cell) + ": the program refused the entry";
      return reply;
    }
  }
  return changedSince(before);
}

ServeReply ServeSession::undo() {
  Snapshot before = snapshot();
  if (!session_.undo()) return ServeReply::error(409, "undo: there is nothing to undo");
  return changedSince(before);
}

ServeReply ServeSession::calculate() {
  Snapshot before = snapshot();
  session_.pressCalculateKey();
  return changedSince(before);
}

ServeReply ServeSession::setManual(bool manual) {
  Snapshot before = snapshot();
  session_.setManualCalculation(manual);
  manual_ = manual;
  ServeReply reply = changedSince(before);
  reply.json["manual"] = manual_;
  return reply;
}

std::u16string ServeSession::temporaryPath(const char* suffix) const {
  return session_.files().temporaryDirectory() + u"korvel-serve-" + fromUtf8(randomToken()) +
         fromUtf8(suffix);
}

bool ServeSession::runDataService(int code, const std::u16string& path, std::string* failure) {
  Runtime& runtime = session_.runtime();
  double answer = callService(runtime, code, path);
  session_.runMessages();
  *failure = runtime.dataExchange().lastFailure();
  if (answer < 0 && failure->empty()) *failure = "the data step failed";
  return failure->empty();
}

ServeReply ServeSession::exportData() {
  if (!session_.runtime().settings().dataExchange) {
    return ServeReply::error(409, "export: the application was compiled without data exchange");
  }
  std::u16string path = temporaryPath(".dat");
  std::string failure;
  bool exported = runDataService(kServiceExport, path, &failure);
  std::string bytes;
  bool read = exported && session_.files().readAll(path, &bytes);
  session_.files().remove(path);
  if (!exported) return ServeReply::error(409, "export: " + failure);
  if (!read) return ServeReply::error(500, "export: the exported file could not be read back");
  ServeReply reply;
  reply.download = std::move(bytes);
  std::u16string name = session_.runtime().settings().applicationName;
  reply.downloadName = (name.empty() ? std::string("application") : toUtf8(name)) + ".dat";
  return reply;
}

ServeReply ServeSession::importData(const std::string& bytes) {
  if (!session_.runtime().settings().dataExchange) {
    return ServeReply::error(409, "import: the application was compiled without data exchange");
  }
  if (bytes.empty()) return ServeReply::error(400, "import: the body holds no data file");
  std::u16string path = temporaryPath(".dat");
  std::string failure;
  if (!session_.files().writeAll(path, bytes, &failure)) {
    return ServeReply::error(500, "import: " + failure);
  }
  Snapshot before = snapshot();
  bool imported = runDataService(kServiceImport, path, &failure);
  session_.files().remove(path);
  ServeReply reply = changedSince(before);
  if (!imported) {
    reply.status = 422;
    reply.json["error"] = "import: " + failure;
  }
  return reply;
}

ServeReply ServeSession::save() {
  if (!source_.allowSave) {
    return ServeReply::error(403, "save: the server was started without --allow-save");
  }
  Runtime& runtime = session_.runtime();
  if (!runtime.settings().saveAsExecutable) {
    return ServeReply::error(409, "save: the application was compiled without saving");
  }
  Snapshot before = snapshot();
  session_.program().saveWorkbook(session_.workbookName());
  session_.runMessages();
  if (std::string failure = runtime.packaging().lastFailure(); !failure.empty()) {
    return ServeReply::error(500, "save: " + failure);
  }
  ServeReply reply = changedSince(before);
  reply.json["saved"] = true;
  return reply;
}

ServeReply ServeSession::about() {
  Snapshot before = snapshot();
  callService(session_.runtime(), kServicePostAbout, {});
  session_.runMessages();
  return changedSince(before);
}

ServeReply ServeSession::agreement() {
  Snapshot before = snapshot();
  callService(session_.runtime(), kServicePostAgreement, {});
  session_.runMessages();
  return changedSince(before);
}

}  // namespace korvel
