#include "tools/korvel/application_file.h"

#include <algorithm>
#include <bit>
#include <utility>

#include "compiler/model_builder.h"
#include "compiler/starting_values.h"
#include "engine/value_variant.h"
#include "excel/protection.h"
#include "functions/function_catalogue.h"
#include "hosts/headless/spreadsheet/xlsx_workbook.h"
#include "model/envelope.h"
#include "packaging/application_resources.h"
#include "tools/korvel/cell_display.h"
#include "tools/korvel/launcher.h"

namespace korvel {

namespace {

void putU32(uint32_t word, std::string* out) {
  for (int i = 0; i < 4; ++i) out->push_back(char(uint8_t(word >> (8 * i))));
}

uint32_t getU32(std::string_view bytes) {
  uint32_t word = 0;
  for (int i = 3; i >= 0; --i) word = (word << 8) | uint8_t(bytes[size_t(i)]);
  return word;
}

// The tag ties the workbook resource to its settings record, so that a workbook resource copied
// in from another application is noticed. It is derived from the workbook and the name rather
// than drawn at random, so that compiling the same book twice gives the same file.
uint32_t applicationTag(std::u16string_view name, std::string_view workbook) {
  uint32_t hash = 2166136261u;
  auto mix = [&hash](uint8_t byte) {
    hash ^= byte;
    hash *= 16777619u;
  };
  for (char16_t unit : name) {
    mix(uint8_t(unit));
    mix(uint8_t(unit >> 8));
  }
  for (char byte : workbook) mix(uint8_t(byte));
  return hash == 0 ? 1 : hash;
}

}  // namespace

bool parseApplicationVersion(std::string_view text, uint32_t* version) {
  uint32_t packed = 0;
  int parts = 0;
  size_t at = 0;
  while (true) {
    size_t end = text.find('.', at);
    std::string_view part = text.substr(at, end == std::string_view::npos ? end : end - at);
    if (part.empty() || part.size() > 3 || parts == 3) return false;
    uint32_t number = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return false;
      number = number * 10 + uint32_t(c - '0');
    }
    if (number > 255) return false;
    packed |= number << (24 - 8 * parts);
    ++parts;
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  *version = packed;
  return true;
}

WorkbookData programWorkbook(const Workbook& workbook, const CompiledModel& model,
                             std::u16string fullName) {
  WorkbookData data;
  data.fullName = std::move(fullName);
  data.date1904 = workbook.date1904;
  for (size_t s = 0; s < workbook.sheets.size(); ++s) {
    const WorkbookSheet& sheet = workbook.sheets[s];
    SheetData out;
    out.name = sheet.name;
    out.codeName = sheet.name;
    for (const WorkbookCell& cell : sheet.cells) {
      Value value = cell.value;
      if (cell.isFormula) {
        value = shownCellValue(model.findCell(CellRef::at(uint32_t(s), cell.row, cell.column)));
      }
      if (!value.isEmpty()) out.cells[{cell.row, cell.column}].value = toVariant(value, false);
    }
    for (const ArrayFormula& array : sheet.arrays) {
      for (uint32_t row = array.firstRow; row <= array.lastRow; ++row) {
        for (uint32_t column = array.firstColumn; column <= array.lastColumn; ++column) {
          Value value = shownCellValue(model.findCell(CellRef::at(uint32_t(s), row, column)));
          if (!value.isEmpty()) out.cells[{row, column}].value = toVariant(value, false);
        }
      }
    }
    for (const CellNumberFormat& format : sheet.numberFormats) {
      out.cells[{format.row, format.column}].numberFormat =
          workbook.numberFormats.at(format.format);
    }
    data.sheets.push_back(std::move(out));
  }
  return data;
}

void takePresentation(const WorkbookData& package, WorkbookData* workbook) {
  for (SheetData& sheet : workbook->sheets) {
    auto from = std::find_if(package.sheets.begin(), package.sheets.end(),
                             [&](const SheetData& s) { return s.name == sheet.name; });
    if (from == package.sheets.end()) continue;
    sheet.merges = from->merges;
    sheet.columnWidths = from->columnWidths;
    for (const auto& [key, cell] : from->cells) {
      if (!cell.style && !cell.fontColor && !cell.interiorColor) continue;
      CellData& into = sheet.cells[key];
      into.style = cell.style;
      into.fontColor = cell.fontColor;
      into.interiorColor = cell.interiorColor;
    }
  }
}

namespace {

// The protection list of the author's package: the word of each protected sheet in order; empty
// when no sheet is protected or the package does not read.
std::string packageProtectionList(std::string_view package, const SettingsHeader& header) {
  WorkbookData authored;
  std::string ignored;
  if (!readXlsxWorkbookBytes(std::string(package), &authored, &ignored)) return {};
  ProtectionTable table;
  bool any = false;
  for (const SheetData& sheet : authored.sheets) {
    const SheetProtectionData& protection = sheet.protection;
    uint32_t word = 0;
    if (protection.contents) {
      word = kProtectContents | (protection.drawingObjects ? kProtectDrawingObjects : 0) |
             (protection.scenarios ? kProtectScenarios : 0) |
             (protection.enableSelection == kSelectionUnlockedCells    ? kProtectSelectUnlocked
              : protection.enableSelection == kSelectionNoRestrictions ? kProtectSelectAll
                                                                       : 0);
    }
    any |= word != 0;
    table.sheetWords.push_back(word);
    table.sheetPasswords.emplace_back();
  }
  return any ? writeProtectionList(table, header.writerVersion) : std::string();
}

}  // namespace

bool buildApplicationResources(const Workbook& workbook, std::string_view package,
                               const ApplicationOptions& options, Files& files,
                               std::vector<ResourceEntry>* entries, std::string* error) {
  entries->clear();
  CompiledModel model;
  std::vector<std::string> errors;
  if (!buildModel(workbook, &FunctionCatalogue::instance(), model, &errors)) {
    *error = errors.empty() ? "the workbook does not compile" : errors.front();
    return false;
  }
  // The model carries the values the application starts with, and so does the workbook.
  computeStartingValues(model);

  WorkbookData data = programWorkbook(workbook, model, options.name + u".xlsx");
  std::string xlsx;
  std::string xlsxError;
  // The author's package keeps its styles and other parts; a package whose sheets the compiler
  // did not take over one for one (chart sheets) cannot carry the values, so a plain one does.
  if (package.empty() || !writeXlsxWorkbookBytes(data, package, &xlsx, &xlsxError)) {
    if (!writeXlsxWorkbookBytes(data, {}, &xlsx, &xlsxError)) {
      *error = "the workbook cannot be written: " + xlsxError;
      return false;
    }
  }

  std::vector<std::string> chunks;
  if (!modelEnvelopes(model, files, &chunks, error)) return false;
  if (chunks.size() > size_t(kLastModelResourceId - kFirstModelResourceId + 1)) {
    *error = "the model needs " + std::to_string(chunks.size()) +
             " resources; an application holds at most " +
             std::to_string(kLastModelResourceId - kFirstModelResourceId + 1);
    return false;
  }

  SettingsRecord record;
  record.applicationName = options.name;
  record.applicationInformation = options.information;
  record.header.applicationVersion = options.version;
  record.header.optionFlags = uint16_t((options.dataExchange ? kFlagDataExchange : 0) |
                                       (options.saveAsExecutable ? kFlagSaveAsExecutable : 0));
  record.header.reserved8[0] = applicationTag(options.name, xlsx);
  // The runtime protects the sheets after its first calculation and lifts the protection where
  // it writes results; a sheet protected only in the workbook would refuse those writes.
  if (!package.empty()) record.trailingList = packageProtectionList(package, record.header);
  std::string settings;
  if (!writeSettings(record, &settings, error)) return false;
  std::string content;
  if (!writeSettingsContent(record, &content, error)) return false;

  std::string workbookContent;
  putU32(std::rotr(workbookTag(content), int(kWorkbookTagRotation)), &workbookContent);
  workbookContent += xlsx;
  std::string workbookEnvelope;
  if (!encodeEnvelope(workbookContent, &workbookEnvelope)) {
    *error = "the workbook is too large for an application";
    return false;
  }

  entries->push_back(
      {kSettingsResourceType, kLauncherResourceId, kResourceLanguageEnglish, std::move(settings)});
  entries->push_back({workbookResourceType(), kWorkbookResourceId, kResourceLanguageEnglish,
                      std::move(workbookEnvelope)});
  for (size_t i = 0; i < chunks.size(); ++i) {
    entries->push_back({kModelResourceType, kFirstModelResourceId + uint32_t(i),
                        kResourceLanguageEnglish, std::move(chunks[i])});
  }
  if (!options.agreement.empty()) {
    entries->push_back(
        {kAgreementResourceType, kLauncherResourceId, kResourceLanguageEnglish, options.agreement});
  }
  return true;
}

bool readApplication(const Files& files, const std::u16string& path, ApplicationContents* contents,
                     std::string* error) {
  *contents = ApplicationContents();
  std::vector<ResourceEntry> entries;
  if (!readApplicationFile(files, path, &entries, error)) return false;

  const ResourceEntry* settings = findResource(entries, kSettingsResourceType, kLauncherResourceId);
  if (settings == nullptr) {
    *error = "the application file has no settings";
    return false;
  }
  ParsedSettings parsed = parseSettings(settings->bytes);
  if (!parsed.ok) {
    *error = "the application's settings are damaged: " + parsed.error;
    return false;
  }

  const ResourceEntry* workbook =
      findResource(entries, workbookResourceType(), kWorkbookResourceId);
  std::string workbookContent;
  if (workbook == nullptr || decodeEnvelope(workbook->bytes, &workbookContent) < 4) {
    *error = workbook == nullptr ? "the application file has no workbook"
                                 : "the application's workbook is damaged";
    return false;
  }
  uint32_t expected = std::rotr(workbookTag(parsed.content), int(kWorkbookTagRotation));
  if (getU32(workbookContent) != expected) {
    *error = "the application's workbook belongs to another application";
    return false;
  }

  for (uint32_t id = kFirstModelResourceId; id <= kLastModelResourceId; ++id) {
    const ResourceEntry* chunk = findResource(entries, kModelResourceType, id);
    if (chunk == nullptr) break;
    contents->model.push_back(chunk->bytes);
  }
  if (const ResourceEntry* agreement =
          findResource(entries, kAgreementResourceType, kLauncherResourceId)) {
    contents->agreement = agreement->bytes;
  }
  contents->settings = settings->bytes;
  contents->record = std::move(parsed.record);
  contents->workbook = workbookContent.substr(4);
  return true;
}

}  // namespace korvel
