// ExcelCalcHost: the engine's reads and writes of the live workbook, its calls of the program's
// functions and macros, linked workbooks, DDE and the calculation keeper.
#include "excel/object_layer.h"

#include <algorithm>
#include <string>
#include <utility>

#include "engine/engine.h"
#include "engine/value_convert.h"
#include "engine/value_variant.h"
#include "excel/application_events.h"
#include "excel/dde_client.h"
#include "excel/dispatch_ids.h"
#include "excel/excel_connection.h"
#include "excel/interception.h"
#include "excel/protection.h"
#include "model/address.h"
#include "model/cell.h"
#include "model/compiled_model.h"
#include "model/model_stream.h"
#include "runtime/excel_bridge.h"
#include "runtime/runtime.h"
#include "runtime/text_table.h"
#include "util/text.h"

namespace korvel {

namespace {

// The program takes at most this many arguments after a macro name or for a worksheet function.
constexpr size_t kMaxCallArguments = 30;

bool isSeparator(char16_t unit) { return unit == u'\\' || unit == u'/'; }

std::u16string fileNamePart(std::u16string_view path) {
  size_t cut = path.size();
  while (cut > 0 && !isSeparator(path[cut - 1])) --cut;
  return std::u16string(path.substr(cut));
}

// An absolute path (drive, root or share) or a link with a scheme needs no folder in front.
bool isAbsoluteLink(std::u16string_view link) {
  if (link.empty()) return false;
  if (isSeparator(link[0])) return true;
  if (link.size() >= 2 && isAsciiLetter(link[0]) && link[1] == u':') return true;
  return link.find(u"://") != std::u16string_view::npos;
}

std::u16string withExtension(const std::u16string& path, std::u16string_view extension) {
  size_t dot = path.rfind(u'.');
  size_t name = path.size() - fileNamePart(path).size();
  std::u16string stem = dot != std::u16string::npos && dot >= name ? path.substr(0, dot) : path;
  return stem + std::u16string(extension);
}

// Every sheet of a workbook with its position Index - 1. A sheet that does not answer is left out.
std::vector<std::pair<uint32_t, ExcelObject>> sheetsOf(ExcelObject& workbook) {
  std::vector<std::pair<uint32_t, ExcelObject>> out;
  ExcelObject sheets = workbook.object(dispid::kSheets);
  int32_t count = sheets.getInt(dispid::kCount);
  for (int32_t i = 1; i <= count; ++i) {
    try {
      ExcelObject sheet = sheets.object(dispid::kItem, {Variant::i4(i)});
      if (!sheet.live()) continue;
      int32_t index = sheet.getInt(dispid::kIndex);
      if (index >= 1) out.emplace_back(uint32_t(index - 1), sheet);
    } catch (const ComError&) {
    }
  }
  return out;
}

// Whether the program has an open workbook of that file name (case ignored).
bool hasWorkbookNamed(ExcelObject& program, std::u16string_view name) {
  try {
    ExcelObject workbooks = program.object(dispid::kWorkbooks);
    int32_t count = workbooks.getInt(dispid::kCount);
    for (int32_t i = 1; i <= count; ++i) {
      ExcelObject workbook = workbooks.object(dispid::kItem, {Variant::i4(i)});
      if (workbook.live() && equalsNoCase(workbook.getText(dispid::kName), name)) return true;
    }
  } catch (const ComError&) {
  }
  return false;
}

// Value2 of a range as an engine value. Multi-cell ranges keep their rows and columns.
Value readValue2(ExcelObject& range) { return fromVariant(range.get(dispid::kValue2)); }

// A variant array (rows by columns) as an array value, element by element.
Value arrayValue(const VariantArray& array) {
  uint32_t rows = array.count[0];
  uint32_t columns = array.dimensions == 2 ? array.count[1] : 1;
  if (array.dimensions == 1) std::swap(rows, columns);  // one dimension is one row
  ValueArray values(columns, rows);
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns; ++c) {
      size_t index = size_t(r) * columns + c;
      if (index >= array.elements.size()) continue;
      const Variant& element = array.elements[index];
      values.at(c, r) = element.type() == VarType::kArray ? Value() : fromVariant(element);
    }
  }
  Value out;
  out.setArray(std::move(values));
  return out;
}

// Switches the protection's recording off around the runtime's own Unprotect calls.
class RecordingOff {
 public:
  explicit RecordingOff(Protection& protection)
      : protection_(protection), saved_(protection.recording) {
    protection_.recording = false;
  }
  ~RecordingOff() { protection_.recording = saved_; }

 private:
  Protection& protection_;
  bool saved_;
};

}  // namespace

ExcelCalcHost::ExcelCalcHost(ExcelConnection& connection, ExcelObject application,
                             ExcelObject workbook)
    : connection_(connection),
      application_(std::move(application)),
      workbook_(std::move(workbook)) {
  try {
    worksheetFunction_ = application_.object(dispid::kWorksheetFunction);
  } catch (const ComError&) {
  }
  try {
    programWindow_ = WindowHandle(uint64_t(uint32_t(application_.getInt(dispid::kHwnd))));
  } catch (const ComError&) {
  }
}

ExcelCalcHost::~ExcelCalcHost() {
  // Each step on its own: a program that already went away must not keep the others from running.
  try {
    if (application_.live()) application_.put(dispid::kDisplayAlerts, Variant::boolean(false));
  } catch (...) {
  }
  if (secondProgram_.live()) {
    try {
      secondProgram_.put(dispid::kDisplayAlerts, Variant::boolean(false));
    } catch (...) {
    }
    for (auto& [name, workbook] : linked_) {
      if (!workbook.live()) continue;
      try {
        workbook.call(dispid::kClose, {Variant::boolean(false)});
      } catch (...) {
      }
    }
    try {
      secondProgram_.call(dispid::kQuit);
    } catch (...) {
    }
    // The second program's IgnoreRemoteRequests is the user's setting for every instance: the
    // one found at attach goes back.
    try {
      if (application_.live()) {
        application_.put(dispid::kIgnoreRemoteRequests,
                         Variant::boolean(connection_.runtime().hostInformation().remoteRequests));
      }
    } catch (...) {
    }
  }
  linked_.clear();
  sheets_.clear();
}

ExcelObject ExcelCalcHost::targetWorkbook() {
  if (workbook_.live()) return workbook_;
  return application_.object(dispid::kActiveWorkbook);
}

bool ExcelCalcHost::refreshSheets() {
  sheets_.clear();
  ExcelObject workbook = targetWorkbook();
  if (!workbook.live()) return false;
  for (auto& [index, sheet] : sheetsOf(workbook)) {
    if (index >= sheets_.size()) sheets_.resize(index + 1);
    sheets_[index] = sheet;
  }
  return !sheets_.empty();
}

ExcelObject ExcelCalcHost::sheet(uint32_t index) {
  if (index == 0xFFFF) index = 0xFFFE;
  if (sheets_.empty()) refreshSheets();
  if (index >= sheets_.size() || !sheets_[index].live()) {
    // Sheets may have been added or moved since the list was made: look once more.
    refreshSheets();
    if (index >= sheets_.size()) return {};
  }
  return sheets_[index];
}

ExcelObject ExcelCalcHost::locateRange(CellRef address) {
  ExcelObject worksheet = sheet(address.sheet());
  if (!worksheet.live()) return {};
  return worksheet.object(dispid::kRange, {Variant::text(cellText(address))});
}

std::optional<int> ExcelCalcHost::hostInfo(std::u16string_view key) {
  if (!equalsNoCase(key, u"ver")) return std::nullopt;
  try {
    return variantToInt(application_.get(dispid::kVersion));
  } catch (const ComError&) {
    return std::nullopt;
  }
}

std::u16string ExcelCalcHost::resolveFileLink(const std::u16string& link) const {
  if (link.empty() || isAbsoluteLink(link)) return link;
  const ChannelState& channel = connection_.runtime().channelState();
  std::u16string folder = channel.applicationDirectory;
  if (folder.empty()) {
    folder = channel.applicationPath.substr(
        0, channel.applicationPath.size() - fileNamePart(channel.applicationPath).size());
  }
  if (folder.empty()) return link;
  if (!isSeparator(folder.back())) folder.push_back(u'\\');
  return folder + link;
}

void ExcelCalcHost::unprotectOnce(uint32_t sheetIndex, ExcelObject& worksheet) {
  if (protectionTable_ == nullptr || sheetIndex >= protectionTable_->sheetWords.size()) return;
  uint32_t& word = protectionTable_->sheetWords[sheetIndex];
  if ((word & kProtectContents) == 0) return;
  // Cleared first: whatever happens below, the sheet is handled once per scope.
  word = 0;
  // Passwords are 8-bit: each byte is the unit of the same value, also above 0x7F.
  auto widen = [](const std::string& password) { return widenText(password); };
  std::u16string sheetPassword = sheetIndex < protectionTable_->sheetPasswords.size()
                                     ? widen(protectionTable_->sheetPasswords[sheetIndex])
                                     : std::u16string();
  std::u16string applicationPassword = widen(protectionTable_->workbookPassword);
  if (applicationPassword.empty()) {
    applicationPassword = connection_.runtime().settings().applicationPassword;
  }
  if (sheetPassword.empty()) sheetPassword = applicationPassword;
  RecordingOff off(connection_.protection());
  try {
    worksheet.call(dispid::kUnprotect, {Variant::text(sheetPassword)});
  } catch (const ComError&) {
  }
  try {
    if (!worksheet.getBool(dispid::kProtectContents)) return;
    // The second form: the application's own password, or none when that was the one tried.
    Variant second = applicationPassword != sheetPassword ? Variant::text(applicationPassword)
                                                          : Variant::missing();
    worksheet.call(dispid::kUnprotect, {std::move(second)});
  } catch (const ComError&) {
    // The sheet stays protected; the write that follows reports the failure.
  }
}

void ExcelCalcHost::publishHyperlink(Cell* cell, ExcelObject& range,
                                     const std::function<void()>& prepare) {
  Hyperlink& link = *cell->hyperlink();
  const bool pending = cell->hasFlag(kCellWriteEveryPass);
  if (!pending && link.kind != Hyperlink::kApplied && link.kind != Hyperlink::kInWorkbook) return;
  ExcelObject hyperlinks = range.object(dispid::kHyperlinks);
  int32_t count = hyperlinks.getInt(dispid::kCount);

  auto apply = [&]() {
    prepare();
    ExcelObject target;
    if (count == 0) {
      target = ExcelObject::of(hyperlinks.call(
          dispid::kAdd, {Variant::dispatch(range.dispatch()), Variant::missing(),
                         Variant::missing(), Variant::missing(), Variant::missing()}));
      count = 1;
    }
    if (!target.live()) target = hyperlinks.object(dispid::kItem, {Variant::i4(1)});
    switch (link.kind) {
      case Hyperlink::kFile:
        target.put(dispid::kAddress, Variant::text(resolveFileLink(link.address)));
        break;
      case Hyperlink::kWeb:
      case Hyperlink::kMail:
        // A web or mail link without its address would lead nowhere.
        target.put(dispid::kAddress, Variant::text(link.address));
        break;
      case Hyperlink::kInWorkbook:
        target.put(dispid::kSubAddress, Variant::text(link.target));
        if (!link.screenTip.empty()) target.put(dispid::kScreenTip, Variant::text(link.screenTip));
        break;
      default:
        break;
    }
    std::u16string shown = cell->value != nullptr ? toText(*cell->value) : std::u16string();
    if (!shown.empty()) target.put(dispid::kTextToDisplay, Variant::text(shown));
  };

  if (pending) {
    apply();
    cell->setFlag(kCellWriteEveryPass, false);
    link.kind = Hyperlink::kApplied;
    return;
  }
  if (link.kind == Hyperlink::kApplied && count > 0) {
    prepare();
    // Deleting a hyperlink takes the cell's formatting with it: remember it and put it back.
    auto part = [&range](int32_t member) {
      try {
        return range.object(member);
      } catch (const ComError&) {
        return ExcelObject();
      }
    };
    ExcelObject font = part(dispid::kFont);
    ExcelObject borders = part(dispid::kBorders);
    ExcelObject interior = part(dispid::kInterior);
    struct Remembered {
      ExcelObject* object;
      int32_t member;
      std::optional<Variant> value;
    };
    std::vector<Remembered> formatting = {
        {&font, dispid::kColor, {}},
        {&borders, dispid::kLineStyle, {}},
        {&borders, dispid::kWeight, {}},
        {&borders, dispid::kColor, {}},
        {&interior, dispid::kColor, {}},
        {&interior, dispid::kPattern, {}},
        {&interior, dispid::kPatternColor, {}},
        {&range, dispid::kWrapText, {}},
        {&range, dispid::kHorizontalAlignment, {}},
        {&range, dispid::kVerticalAlignment, {}},
        {&range, dispid::kNumberFormat, {}},
        {&range, dispid::kOrientation, {}},
        {&range, dispid::kRangeMember0xD1, {}},
    };
    for (Remembered& r : formatting) {
      try {
        if (r.object->live()) r.value = r.object->get(r.member);
      } catch (const ComError&) {
      }
    }
    for (int32_t i = count; i >= 1; --i) {
      hyperlinks.object(dispid::kItem, {Variant::i4(i)}).call(dispid::kDelete);
    }
    for (Remembered& r : formatting) {
      try {
        if (r.value) r.object->put(r.member, *r.value);
      } catch (const ComError&) {
      }
    }
    return;
  }
  if (link.kind == Hyperlink::kInWorkbook && count == 0) apply();
}

void ExcelCalcHost::publishCell(Cell* cell) {
  if (cell == nullptr) return;
  try {
    ExcelObject range = locateRange(cell->address);
    if (!range.live()) return;
    const uint32_t sheetIndex = cell->address.sheet();
    bool prepared = false;
    // Unprotecting waits for the first change to the sheet, so a cell with nothing to write
    // leaves the protection alone; it comes before the hyperlink too, which a protected sheet
    // would refuse.
    auto prepare = [&]() {
      if (prepared) return;
      prepared = true;
      ExcelObject worksheet = sheet(sheetIndex);
      unprotectOnce(sheetIndex, worksheet);
    };
    if (cell->hyperlink()) {
      try {
        publishHyperlink(cell, range, prepare);
      } catch (const ComError&) {
        // A hyperlink the program refuses does not keep the value from being written.
      }
    }
    if (cell->value == nullptr) return;
    const Value* value = cell->value;
    Value topLeft;
    if (value->isArray()) {
      if (value->array().size() > 0) topLeft = value->array().elements()[0];
      value = &topLeft;
    }
    const bool lineFeed = value->isText() && value->text().find(u'\n') != std::u16string_view::npos;
    std::optional<Variant> wrapBefore;
    if (lineFeed) wrapBefore = range.get(dispid::kWrapText);
    prepare();
    if (beforeWrite) beforeWrite();
    range.put(dispid::kValue2, toVariant(*value, true));
    if (afterWrite) afterWrite();
    if (wrapBefore) {
      // The program switches word wrap on by itself for a line feed; the workbook's setting wins.
      Variant wrapAfter = range.get(dispid::kWrapText);
      if (!(wrapAfter == *wrapBefore)) range.put(dispid::kWrapText, *wrapBefore);
    }
  } catch (const ComError&) {
  }
}

int ExcelCalcHost::readCell(CellRef address, Value& out) {
  try {
    ExcelObject range = locateRange(address);
    if (!range.live()) return 0;
    out = readValue2(range);
    return 1;
  } catch (const ComError&) {
    return -1;
  }
}

int ExcelCalcHost::setInteriorColour(CellRef address, uint32_t colour) {
  try {
    ExcelObject range = locateRange(address);
    if (!range.live()) return 0;
    range.object(dispid::kInterior).put(dispid::kColor, Variant::i4(int32_t(colour)));
    return 1;
  } catch (const ComError&) {
    return -1;
  }
}

int ExcelCalcHost::setFontColour(CellRef address, uint32_t colour) {
  try {
    ExcelObject range = locateRange(address);
    if (!range.live()) return 0;
    range.object(dispid::kFont).put(dispid::kColor, Variant::i4(int32_t(colour)));
    return 1;
  } catch (const ComError&) {
    return -1;
  }
}

Variant ExcelCalcHost::argumentVariant(const Value& value) {
  if (value.isReference()) {
    // The program's functions and the workbook's macros expect a Range where the formula named
    // cells; their values alone would lose the reference.
    RangeRef reference = normalizeRange(value.reference());
    if (isValidRange(reference)) {
      ExcelObject worksheet = sheet(reference.first.sheet());
      if (worksheet.live()) {
        ExcelObject range = worksheet.object(dispid::kRange, {Variant::text(rangeText(reference))});
        if (range.live()) return Variant::dispatch(range.dispatch());
      }
    }
    return Variant();
  }
  return toVariant(value, false);
}

void ExcelCalcHost::runMacro(std::u16string_view name, const std::vector<const Value*>& arguments,
                             Value& out) {
  try {
    std::vector<Variant> call;
    call.push_back(Variant::text(std::u16string(name)));
    for (size_t i = 0; i < arguments.size() && i < kMaxCallArguments; ++i) {
      call.push_back(arguments[i] != nullptr ? argumentVariant(*arguments[i]) : Variant::missing());
    }
    out = fromVariant(application_.call(dispid::kRun, std::move(call)));
  } catch (const ComError&) {
    // A macro that fails gives an error, never the value the cell held before.
    out.setError(kErrorValue);
  }
}

void ExcelCalcHost::runMacroArray(std::u16string_view name,
                                  const std::vector<const Value*>& arguments, Value& out) {
  // Arrays travel as variant arrays and references as Ranges in either form.
  runMacro(name, arguments, out);
}

int ExcelCalcHost::rangeToRef(ExcelObject& range, RangeRef& out) {
  try {
    if (!range.live()) return 0;
    int32_t index = range.object(dispid::kWorksheet).getInt(dispid::kIndex);
    if (index < 1) return 0;
    std::u16string address = range.getText(dispid::kAddress);
    CellRef first, last;
    parseRange(address, uint32_t(index - 1), first, last);
    if (first.isNone()) return 0;
    if (address.find(u':') == std::u16string::npos) last = first;
    if (last.isNone()) return 0;
    out = RangeRef{first, last};
    return 1;
  } catch (const ComError&) {
    return -1;
  }
}

int ExcelCalcHost::directPrecedents(Cell* cell, std::vector<RangeRef>& areas) {
  if (cell == nullptr) return 0;
  try {
    ExcelObject range = locateRange(cell->address);
    if (!range.live()) return 0;
    ExcelObject precedents = range.object(dispid::kDirectPrecedents);
    if (!precedents.live()) return 0;
    ExcelObject list = precedents.object(dispid::kAreas);
    int32_t count = list.getInt(dispid::kCount);
    for (int32_t i = 1; i <= count; ++i) {
      ExcelObject area = list.object(dispid::kItem, {Variant::i4(i)});
      RangeRef reference;
      if (rangeToRef(area, reference) == 1) areas.push_back(reference);
    }
    return 1;
  } catch (const ComError&) {
    return -1;
  }
}

bool ExcelCalcHost::calculateAndRead(CellRef address, Value& out) {
  try {
    ExcelObject range = locateRange(address);
    if (!range.live()) return false;
    range.call(dispid::kCalculate);
    out = readValue2(range);
    return true;
  } catch (const ComError&) {
    return false;
  }
}

int ExcelCalcHost::evaluate(std::u16string_view text, bool english, Value& out) {
  try {
    Variant result = application_.get(dispid::kEvaluate, {Variant::text(std::u16string(text))},
                                      english ? kLocaleEnglish : kLocaleUserDefault);
    if (result.type() == VarType::kDispatch) {
      // A formula that names cells answers their Range: its value stands in, as in a cell.
      ExcelObject object = ExcelObject::of(result);
      try {
        out = readValue2(object);
      } catch (const ComError&) {
        out.clear();
      }
      return 0;
    }
    out = result.type() == VarType::kArray ? arrayValue(result.array()) : fromVariant(result);
    return 1;
  } catch (const ComError&) {
    return -1;
  }
}

bool ExcelCalcHost::callWorksheetFunction(int number, const std::vector<const Value*>& arguments,
                                          int count, Value& out) {
  try {
    if (!worksheetFunction_.live()) {
      worksheetFunction_ = application_.object(dispid::kWorksheetFunction);
    }
    // The program's member takes exactly count parameters: the arguments, then missing ones.
    size_t parameters =
        std::min(std::max(size_t(std::max(count, 0)), arguments.size()), kMaxCallArguments);
    std::vector<Variant> call;
    for (size_t i = 0; i < parameters; ++i) {
      call.push_back(i < arguments.size() && arguments[i] != nullptr
                         ? argumentVariant(*arguments[i])
                         : Variant::missing());
    }
    out = fromVariant(
        worksheetFunction_.call(dispid::kWorksheetFunctionBase + number, std::move(call)));
    return true;
  } catch (const ComError&) {
    out.setError(kErrorValue);
    return false;
  }
}

uint8_t ExcelCalcHost::uiLanguage() {
  try {
    ExcelObject settings = application_.object(dispid::kLanguageSettings);
    return uint8_t(settings.getInt(dispid::kLanguageId, {Variant::i4(kLanguageIdUserInterface)}));
  } catch (const ComError&) {
    return 0;
  }
}

bool ExcelCalcHost::startLinkedApplication(const std::u16string& executable) {
  System* system = connection_.runtime().platform().system;
  if (system == nullptr) return false;
  // The short form, then the path as the file system spells it: the started application must see
  // the same file the model names, however the reference wrote it.
  std::u16string path = system->shortPath(executable);
  if (path.empty()) path = executable;
  std::u16string pattern = tableText(TextEntry::kLinkedApplicationArguments);
  std::string window = std::to_string(uint64_t(programWindow_));
  std::u16string formatted;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == u'%' && i + 1 < pattern.size() && pattern[i + 1] == u'u') {
      formatted.append(window.begin(), window.end());
      ++i;
    } else {
      formatted.push_back(pattern[i]);
    }
  }
  return system->startDetachedProcess(path, split(formatted, u" ", true));
}

void ExcelCalcHost::openLinkedWorkbooks(Engine& engine) {
  const Platform& platform = connection_.runtime().platform();
  for (const ExternalWorkbook& external : engine.model().externalWorkbooks) {
    const std::u16string& name = external.fileName;
    if (name.empty()) continue;
    bool known = std::any_of(linked_.begin(), linked_.end(),
                             [&](const auto& entry) { return equalsNoCase(entry.first, name); });
    if (known || linkedHandled_.count(toUpper(name))) continue;
    if (hasWorkbookNamed(application_, name)) {
      linkedHandled_.insert(toUpper(name));
      continue;
    }
    if (platform.files == nullptr || !platform.files->exists(external.fullPath)) continue;
    std::u16string executable = withExtension(external.fullPath, u".exe");
    if (platform.files->exists(executable)) {
      // The linked workbook is a compiled application of its own: it is started and serves the
      // workbook from its own program. On the host this starts the application's executable; it
      // opens its workbook under the same file name.
      if (startLinkedApplication(executable)) {
        linked_[name] = ExcelObject();
        servedByApplication_.insert(toUpper(name));
        linkedHandled_.insert(toUpper(name));
      }
      continue;
    }
    try {
      if (!secondProgram_.live()) {
        if (platform.objects == nullptr) continue;
        HResult result = kSOk;
        std::shared_ptr<Dispatch> made = platform.objects->create(kApplicationProgId, &result);
        if (!made) continue;
        secondProgram_ = ExcelObject(std::move(made));
        secondProgram_.put(dispid::kIgnoreRemoteRequests, Variant::boolean(true));
        try {
          secondProgramWindow_ =
              WindowHandle(uint64_t(uint32_t(secondProgram_.getInt(dispid::kHwnd))));
        } catch (const ComError&) {
        }
      }
      ExcelObject opened =
          ExcelObject::of(secondProgram_.object(dispid::kWorkbooks)
                              .call(dispid::kOpen, {Variant::text(external.fullPath)}));
      if (opened.live()) {
        linked_[name] = opened;
        linkedHandled_.insert(toUpper(name));
      }
    } catch (const ComError&) {
      // Not opened: tried again before the next full calculation.
    }
  }
}

void ExcelCalcHost::readLinkedRange(std::u16string_view workbookName, std::u16string_view reference,
                                    Value& out) {
  out.clear();
  try {
    if (workbookName.empty()) {
      ExcelObject range = application_.object(dispid::kApplicationRange,
                                              {Variant::text(std::u16string(reference))});
      if (range.live()) out = readValue2(range);
      return;
    }
    ExcelObject workbook;
    for (auto& [name, object] : linked_) {
      if (equalsNoCase(name, workbookName)) workbook = object;
    }
    if (!workbook.live()) {
      // A workbook served by an application, or opened by the workbook's code, in this program.
      workbook = application_.object(dispid::kWorkbooks)
                     .object(dispid::kItem, {Variant::text(std::u16string(workbookName))});
    }
    if (!workbook.live()) return;
    // "Sheet!A1" or "'My sheet'!A1"; without a sheet the workbook's first sheet.
    std::u16string_view address = reference;
    Variant sheetKey = Variant::i4(1);
    if (size_t bang = reference.rfind(u'!'); bang != std::u16string_view::npos) {
      std::u16string sheetName(reference.substr(0, bang));
      address = reference.substr(bang + 1);
      if (sheetName.size() >= 2 && sheetName.front() == u'\'' && sheetName.back() == u'\'') {
        std::u16string unquoted;
        for (size_t i = 1; i + 1 < sheetName.size(); ++i) {
          unquoted.push_back(sheetName[i]);
          if (sheetName[i] == u'\'' && i + 2 < sheetName.size() && sheetName[i + 1] == u'\'') ++i;
        }
        sheetName = unquoted;
      }
      sheetKey = Variant::text(sheetName);
    }
    ExcelObject worksheet =
        workbook.object(dispid::kSheets).object(dispid::kItem, {std::move(sheetKey)});
    if (!worksheet.live()) return;
    ExcelObject range = worksheet.object(dispid::kRange, {Variant::text(std::u16string(address))});
    if (range.live()) out = readValue2(range);
  } catch (const ComError&) {
    out.clear();
  }
}

void ExcelCalcHost::closeWorkbook(std::u16string_view fullName) {
  try {
    ExcelObject workbooks = application_.object(dispid::kWorkbooks);
    int32_t count = workbooks.getInt(dispid::kCount);
    for (int32_t i = 1; i <= count; ++i) {
      ExcelObject workbook = workbooks.object(dispid::kItem, {Variant::i4(i)});
      if (workbook.live() && equalsNoCase(workbook.getText(dispid::kFullName), fullName)) {
        workbook.call(dispid::kClose, {Variant::boolean(false)});
        return;
      }
    }
  } catch (const ComError&) {
  }
}

void ExcelCalcHost::linkedWorkbookOpened(std::u16string_view fullName) {
  std::u16string name = fileNamePart(fullName);
  for (auto it = linked_.begin(); it != linked_.end(); ++it) {
    if (!equalsNoCase(it->first, name)) continue;
    // Only the runtime's own copy goes: the user's copy is the program's, and closing by full name
    // in the application's program would close the very workbook the user just opened.
    ExcelObject copy = it->second;
    linked_.erase(it);
    if (copy.live() && secondProgram_.live()) {
      try {
        copy.call(dispid::kClose, {Variant::boolean(false)});
      } catch (const ComError&) {
      }
    }
    return;
  }
}

void ExcelCalcHost::linkedWorkbookClosed(std::u16string_view fullName) {
  std::u16string name = fileNamePart(fullName);
  for (auto it = linked_.begin(); it != linked_.end(); ++it) {
    if (equalsNoCase(it->first, name)) {
      linked_.erase(it);
      break;
    }
  }
  linkedHandled_.erase(toUpper(name));
}

void ExcelCalcHost::openWorkbook(std::u16string_view path) {
  try {
    if (hasWorkbookNamed(application_, fileNamePart(path))) return;
    application_.object(dispid::kWorkbooks)
        .call(dispid::kOpen, {Variant::text(std::u16string(path))});
  } catch (const ComError&) {
  }
}

int32_t ExcelCalcHost::ddeInitiate(std::u16string_view application, std::u16string_view topic) {
  try {
    return variantToInt(application_.call(
        dispid::kDdeInitiate,
        {Variant::text(std::u16string(application)), Variant::text(std::u16string(topic))}));
  } catch (const ComError&) {
    return 0;
  }
}

void ExcelCalcHost::ddeTerminate(int32_t channel) {
  try {
    application_.call(dispid::kDdeTerminate, {Variant::i4(channel)});
  } catch (const ComError&) {
  }
}

void ExcelCalcHost::ddeRequest(int32_t channel, std::u16string_view item, Value& out) {
  try {
    out = fromVariant(application_.call(
        dispid::kDdeRequest, {Variant::i4(channel), Variant::text(std::u16string(item))}));
  } catch (const ComError&) {
    out.clear();
  }
}

void ExcelCalcHost::ddeValue(std::u16string_view application, std::u16string_view topic,
                             std::u16string_view item, Value& out) {
  std::optional<Value> value = connection_.ddeClient().request(application, topic, item);
  if (value) {
    out = std::move(*value);
  } else {
    out.clear();
  }
}

void ExcelCalcHost::scanHyperlinksOf(Engine& engine, ExcelObject& worksheet) {
  int32_t index = worksheet.getInt(dispid::kIndex);
  if (index < 1) return;
  ExcelObject hyperlinks = worksheet.object(dispid::kHyperlinks);
  int32_t count = hyperlinks.getInt(dispid::kCount);
  for (int32_t i = 1; i <= count; ++i) {
    try {
      ExcelObject link = hyperlinks.object(dispid::kItem, {Variant::i4(i)});
      if (!link.live()) continue;
      ExcelObject range = link.object(dispid::kRange);
      CellRef at = range.live() ? parseCell(range.getText(dispid::kAddress), uint32_t(index - 1))
                                : CellRef::none();
      Cell* cell = at.isNone() ? nullptr : engine.model().findCell(at);
      std::u16string text;
      if (cell != nullptr && cell->hyperlink()) {
        text = cell->hyperlink()->address;
      } else {
        try {
          text = link.getText(dispid::kAddress);
        } catch (const ComError&) {
        }
      }
      if (!text.empty()) {
        if (classifyHyperlink(text).kind == Hyperlink::kFile) {
          std::u16string resolved = resolveFileLink(text);
          if (!resolved.empty()) link.put(dispid::kAddress, Variant::text(resolved));
        }
        continue;
      }
      if (cell == nullptr) continue;
      auto optionalText = [&](int32_t member) {
        try {
          return link.getText(member);
        } catch (const ComError&) {
          return std::u16string();
        }
      };
      std::u16string subAddress = optionalText(dispid::kSubAddress);
      std::u16string screenTip = optionalText(dispid::kScreenTip);
      if (subAddress.empty()) continue;
      if (!cell->hyperlink()) cell->setHyperlink(std::make_unique<Hyperlink>());
      cell->hyperlink()->kind = Hyperlink::kInWorkbook;
      cell->hyperlink()->target = subAddress;
      if (!screenTip.empty()) cell->hyperlink()->screenTip = screenTip;
    } catch (const ComError&) {
    }
  }
}

void ExcelCalcHost::scanSheetHyperlinks(Engine& engine) {
  ExcelObject workbook = targetWorkbook();
  if (!workbook.live()) return;
  for (auto& [index, worksheet] : sheetsOf(workbook)) {
    try {
      scanHyperlinksOf(engine, worksheet);
    } catch (const ComError&) {
      // A sheet without hyperlinks (a chart) has nothing to scan.
    }
  }
}

void ExcelCalcHost::wireSheetControls(Engine&) { connection_.events().wireSheetControls(); }

void ExcelCalcHost::refreshQueryTables() {
  ExcelObject workbook = targetWorkbook();
  if (!workbook.live()) return;
  for (auto& [index, worksheet] : sheetsOf(workbook)) {
    try {
      ExcelObject tables = worksheet.object(dispid::kQueryTables);
      int32_t count = tables.getInt(dispid::kCount);
      for (int32_t i = 1; i <= count; ++i) {
        try {
          // In the foreground: the calculation that follows needs the data.
          tables.object(dispid::kItem, {Variant::i4(i)})
              .call(dispid::kRefresh, {Variant::boolean(false)});
        } catch (const ComError&) {
        }
      }
    } catch (const ComError&) {
    }
  }
}

bool ExcelCalcHost::usesDate1904() {
  ExcelObject workbook = targetWorkbook();
  return workbook.live() && variantToBool(workbook.get(dispid::kDate1904));
}

// The keeper reads and writes the mode through the program's own implementation: the runtime's
// replacement of the mode's setter would otherwise take the keeper's switch back to automatic for
// a user's and start a cycle of its own.
std::optional<int32_t> ExcelCalcHost::calculation() {
  if (!application_.live()) return std::nullopt;
  Variant value;
  HResult hr = connection_.interception().callOriginal(
      *application_.dispatch(), kIidApplication, dispid::kCalculation, InvokeKind::kPropertyGet, {},
      &value, kLocaleUserDefault);
  if (failed(hr)) return std::nullopt;
  return variantToInt(value);
}

bool ExcelCalcHost::setCalculation(int32_t mode) {
  if (!application_.live()) return false;
  std::vector<Variant> arguments{Variant::i4(mode)};
  return succeeded(connection_.interception().callOriginal(
      *application_.dispatch(), kIidApplication, dispid::kCalculation, InvokeKind::kPropertyPut,
      arguments, nullptr, kLocaleUserDefault));
}

bool ExcelCalcHost::suspendCalculation() {
  std::optional<int32_t> mode = calculation();
  if (!mode) return false;
  savedCalculation_ = *mode;
  return savedCalculation_ == kCalculationManual || setCalculation(kCalculationManual);
}

bool ExcelCalcHost::restoreCalculation() {
  std::optional<int32_t> current = calculation();
  if (!current) return false;
  return *current == savedCalculation_ || setCalculation(savedCalculation_);
}

}  // namespace korvel
