// The engine's way into the live application workbook: ExcelCalcHost writes computed values (and
// hyperlinks) into the program's cells, reads input cells, colours cells, hands formula texts,
// worksheet functions and macros to the program, opens linked workbooks (in a second, hidden
// instance of the program when needed), talks DDE, and keeps the program's calculation mode while
// the engine computes.
//
// Cell addresses are located through the sheet list: the entry for the address's sheet index
// (0xFFFF counts as 0xFFFE), filled from the active workbook's Sheets on first use, and its Range
// for the address's A1 text. Operations that answer int give 1 for done, 0 for nothing done and -1
// for a failed call into the program; they never let a ComError out unless they say so.
//
// REQUIRES: used on the host program's user-interface thread.
#ifndef KORVEL_EXCEL_OBJECT_LAYER_H_
#define KORVEL_EXCEL_OBJECT_LAYER_H_

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/calc_host.h"
#include "engine/value.h"
#include "excel/excel_object.h"
#include "model/cell_ref.h"
#include "platform/window_system.h"
#include "runtime/settings_record.h"

namespace korvel {

class ExcelConnection;

class ExcelCalcHost : public CalcHost {
 public:
  // Made by the attach with the Application and the application workbook: fetches
  // WorksheetFunction and the program's main window, and starts the calculation keeper at
  // automatic. Does not install itself; the attach hands it to the engine.
  ExcelCalcHost(ExcelConnection& connection, ExcelObject application, ExcelObject workbook);
  // Closes what it opened: DisplayAlerts off, every workbook it opened in the second program
  // closed without saving and the second program quit, IgnoreRemoteRequests restored. Never
  // throws.
  ~ExcelCalcHost() override;

  // CalcHost.
  void publishCell(Cell* cell) override;
  bool calculateAndRead(CellRef address, Value& out) override;
  int evaluate(std::u16string_view text, bool english, Value& out) override;
  bool callWorksheetFunction(int number, const std::vector<const Value*>& arguments, int count,
                             Value& out) override;
  void runMacro(std::u16string_view name, const std::vector<const Value*>& arguments,
                Value& out) override;
  void runMacroArray(std::u16string_view name, const std::vector<const Value*>& arguments,
                     Value& out) override;
  int directPrecedents(Cell* cell, std::vector<RangeRef>& areas) override;
  void scanSheetHyperlinks(Engine& engine) override;
  void openLinkedWorkbooks(Engine& engine) override;
  void wireSheetControls(Engine& engine) override;
  void refreshQueryTables() override;
  bool usesDate1904() override;
  bool suspendCalculation() override;
  bool restoreCalculation() override;

  // The further operations of the object layer.
  bool isLive() const { return true; }
  // Rebuilds the sheet list from the active workbook's Sheets (item i at Index - 1); whether the
  // list is not empty.
  bool refreshSheets();
  // "ver" (any case): the leading integer of Application.Version; nullopt for any other key.
  std::optional<int> hostInfo(std::u16string_view key);
  int readCell(CellRef address, Value& out);
  // Colours are 0x00BBGGRR.
  int setInteriorColour(CellRef address, uint32_t colour);
  int setFontColour(CellRef address, uint32_t colour);
  // Low 8 bits of LanguageSettings.LanguageID(2).
  uint8_t uiLanguage();
  // Value2 of the reference in the linked workbook of that name (the application's own program
  // when the name is empty); out is the empty value when it cannot be read.
  void readLinkedRange(std::u16string_view workbookName, std::u16string_view reference, Value& out);
  // Closes, without saving, the open workbook whose FullName equals the name (case ignored).
  void closeWorkbook(std::u16string_view fullName);
  // The user opened a linked workbook in the application's program: the copy the runtime opened
  // for it in the second program is closed, and the user's copy is read from now on.
  void linkedWorkbookOpened(std::u16string_view fullName);
  // A linked workbook was closed: the link is open no more, and the next full calculation opens
  // it again.
  void linkedWorkbookClosed(std::u16string_view fullName);
  // Workbooks.Open in the application's program unless a workbook of that name is open.
  void openWorkbook(std::u16string_view path);
  int32_t ddeInitiate(std::u16string_view application, std::u16string_view topic);
  void ddeTerminate(int32_t channel);
  void ddeRequest(int32_t channel, std::u16string_view item, Value& out);
  // One-shot request through the runtime's DDE client.
  void ddeValue(std::u16string_view application, std::u16string_view topic,
                std::u16string_view item, Value& out);
  // The per-sheet protection words that publishing consults and clears (null: none). Borrowed.
  void setProtectionTable(ProtectionTable* table) { protectionTable_ = table; }
  // A Range of the program as a RangeRef: sheet index from Range.Worksheet.Index - 1, rows and
  // columns from its A1 Address. 1 done, 0 when the address does not read, -1 on a failed call.
  int rangeToRef(ExcelObject& range, RangeRef& out);

  // The Range of an address (an empty holder when its sheet has no live entry); may throw.
  ExcelObject locateRange(CellRef address);
  // The sheet list entry of a sheet index, filling the list first when it is empty.
  ExcelObject sheet(uint32_t index);

  // Called around every write into a cell; the engine or the runtime sets them.
  std::function<void()> beforeWrite;
  std::function<void()> afterWrite;

  // Linked workbooks: file name to the program object opened for it (an empty holder for a
  // workbook served by a compiled application started for it).
  const std::map<std::u16string, ExcelObject>& linkedWorkbooks() const { return linked_; }
  // The hidden second program that holds the linked workbooks; empty until one was needed.
  const ExcelObject& secondProgram() const { return secondProgram_; }

 private:
  // The program's calculation mode, read and written past the runtime's interception.
  std::optional<int32_t> calculation();
  bool setCalculation(int32_t mode);
  // The workbook whose sheets the engine's addresses name: the application workbook while it is
  // held, else the active one.
  ExcelObject targetWorkbook();
  // Unprotects the sheet before its first write when its protection word asks for it.
  void unprotectOnce(uint32_t sheetIndex, ExcelObject& worksheet);
  // The hyperlink request of a cell, applied to its range.
  void publishHyperlink(Cell* cell, ExcelObject& range, const std::function<void()>& prepare);
  // The program's argument for an engine value: references become Range objects of the
  // workbook, everything else goes through toVariant.
  Variant argumentVariant(const Value& value);
  // A file link made absolute against the application's folder.
  std::u16string resolveFileLink(const std::u16string& link) const;
  void scanHyperlinksOf(Engine& engine, ExcelObject& worksheet);
  bool startLinkedApplication(const std::u16string& workbookPath);

  ExcelConnection& connection_;
  ExcelObject application_;
  ExcelObject workbook_;
  ExcelObject worksheetFunction_;
  std::vector<ExcelObject> sheets_;
  std::map<std::u16string, ExcelObject> linked_;
  std::set<std::u16string> linkedHandled_;
  std::set<std::u16string> servedByApplication_;
  ExcelObject secondProgram_;
  WindowHandle secondProgramWindow_ = WindowHandle::kNoWindow;
  WindowHandle programWindow_ = WindowHandle::kNoWindow;
  int32_t savedCalculation_ = -4105;
  ProtectionTable* protectionTable_ = nullptr;
};

}  // namespace korvel

#endif  // KORVEL_EXCEL_OBJECT_LAYER_H_
