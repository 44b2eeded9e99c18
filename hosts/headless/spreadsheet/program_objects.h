// The headless spreadsheet program's automation objects. Application, Workbook, Worksheet (and
// chart sheet) and Range are dual-interface objects: each interface has one shared table of
// member functions per program, built once, and every call of such an object, by member id or
// through the table, goes through the table's slots, so a function put into a slot serves every
// object of the interface. The late-bound entrance is itself a slot (member kDispidInvoke): its
// function receives the member id and the invoke kind as its first two arguments (VT_I4), then
// the call's own arguments, and by-reference arguments it writes travel back to the caller. The
// smaller objects (collections, Interior, Font, Hyperlink, Shape ...) answer their members
// directly.
//
// REQUIRES: used on the program's thread. Objects keep no program alive: once the program has
// ended, every call answers kEFail.
#ifndef KORVEL_HOSTS_HEADLESS_SPREADSHEET_PROGRAM_OBJECTS_H_
#define KORVEL_HOSTS_HEADLESS_SPREADSHEET_PROGRAM_OBJECTS_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/headless/spreadsheet/a1_reference.h"
#include "hosts/headless/spreadsheet/spreadsheet_program.h"
#include "platform/dispatch.h"

namespace korvel {

struct SpreadsheetProgram::Tables {
  std::shared_ptr<InterfaceTable> application;
  std::shared_ptr<InterfaceTable> workbook;
  std::shared_ptr<InterfaceTable> worksheet;
  std::shared_ptr<InterfaceTable> chart;
  std::shared_ptr<InterfaceTable> range;
};

// The tables of one program, their slots running the objects' own members.
std::unique_ptr<SpreadsheetProgram::Tables> makeProgramTables();

class ProgramObject : public Dispatch {
 public:
  explicit ProgramObject(SpreadsheetProgram* program)
      : program_(program), alive_(program->aliveToken()) {}

 protected:
  // Null once the program has ended.
  SpreadsheetProgram* program() const { return *alive_ ? program_ : nullptr; }

 private:
  SpreadsheetProgram* program_;
  std::shared_ptr<bool> alive_;
};

// An object of a dual interface.
class TableObject : public ProgramObject {
 public:
  TableObject(SpreadsheetProgram* program, std::shared_ptr<InterfaceTable> table)
      : ProgramObject(program), table_(std::move(table)) {}

  HResult invoke(int32_t memberId, InvokeKind kind, std::span<Variant> arguments, Variant* result,
                 uint32_t locale = kLocaleSystemDefault) override;
  InterfaceTable* interfaceTable() override { return table_.get(); }

  // The member through its slot; a member the table does not describe runs the object's own.
  HResult callMember(int32_t memberId, InvokeKind kind, std::span<Variant> arguments,
                     Variant* result, uint32_t locale);
  // The object's own implementation of a member.
  HResult own(int32_t memberId, InvokeKind kind, std::span<Variant> arguments, Variant* result,
              uint32_t locale);

 protected:
  virtual HResult member(SpreadsheetProgram& program, int32_t memberId, InvokeKind kind,
                         std::span<Variant> arguments, Variant* result, uint32_t locale) = 0;

 private:
  std::shared_ptr<InterfaceTable> table_;
};

// A small object whose members one function answers.
class MemberObject : public ProgramObject {
 public:
  using Handler = std::function<HResult(int32_t memberId, InvokeKind kind,
                                        std::span<Variant> arguments, Variant* result)>;
  MemberObject(SpreadsheetProgram* program, Handler handler)
      : ProgramObject(program), handler_(std::move(handler)) {}

  HResult invoke(int32_t memberId, InvokeKind kind, std::span<Variant> arguments, Variant* result,
                 uint32_t locale = kLocaleSystemDefault) override;

 private:
  Handler handler_;
};

class ApplicationObject : public TableObject {
 public:
  explicit ApplicationObject(SpreadsheetProgram* program);
  uint32_t advise(const InterfaceId& events, std::shared_ptr<Dispatch> sink) override;
  bool unadvise(uint32_t cookie) override;

 protected:
  HResult member(SpreadsheetProgram& program, int32_t memberId, InvokeKind kind,
                 std::span<Variant> arguments, Variant* result, uint32_t locale) override;
};

class WorkbookObject : public TableObject {
 public:
  WorkbookObject(SpreadsheetProgram* program, WorkbookState* workbook);
  WorkbookState& state() const { return *workbook_; }

 protected:
  HResult member(SpreadsheetProgram& program, int32_t memberId, InvokeKind kind,
                 std::span<Variant> arguments, Variant* result, uint32_t locale) override;

 private:
  WorkbookState* workbook_;
};

class RangeObject;

class SheetObject : public TableObject {
 public:
  SheetObject(SpreadsheetProgram* program, WorkbookState* workbook, size_t index, bool chart);
  WorkbookState& workbook() const { return *workbook_; }
  size_t index() const { return index_; }
  SheetData& data() const { return workbook_->data.sheets[index_]; }
  bool isChart() const { return chart_; }
  std::shared_ptr<Dispatch> queryInterface(const InterfaceId& iid) override;
  std::shared_ptr<RangeObject> range(std::vector<CellArea> areas);

 protected:
  HResult member(SpreadsheetProgram& program, int32_t memberId, InvokeKind kind,
                 std::span<Variant> arguments, Variant* result, uint32_t locale) override;

 private:
  HResult protect(std::span<Variant> arguments, bool newForm);
  HResult unprotect(std::span<Variant> arguments);

  WorkbookState* workbook_;
  size_t index_;
  bool chart_;
};

class RangeObject : public TableObject {
 public:
  RangeObject(SpreadsheetProgram* program, std::shared_ptr<SheetObject> sheet,
              std::vector<CellArea> areas);
  SheetObject& sheet() const { return *sheet_; }
  const std::shared_ptr<SheetObject>& sheetObject() const { return sheet_; }
  const std::vector<CellArea>& areas() const { return areas_; }

 protected:
  HResult member(SpreadsheetProgram& program, int32_t memberId, InvokeKind kind,
                 std::span<Variant> arguments, Variant* result, uint32_t locale) override;

 private:
  HResult readValues(std::span<Variant> arguments, Variant* result, bool formulas);
  HResult writeValues(SpreadsheetProgram& program, std::span<Variant> arguments);
  HResult addressText(SpreadsheetProgram& program, std::span<Variant> arguments, Variant* result);
  HResult hasFormula(Variant* result);
  HResult directPrecedents(SpreadsheetProgram& program, Variant* result);
  HResult specialCells(std::span<Variant> arguments, Variant* result);
  HResult formatMember(int32_t memberId, InvokeKind kind, std::span<Variant> arguments,
                       Variant* result);

  std::shared_ptr<SheetObject> sheet_;
  std::vector<CellArea> areas_;
};

// Objects of the collections and the small objects, built on MemberObject.
std::shared_ptr<Dispatch> makeWorkbooksObject(SpreadsheetProgram* program);
// Sheets (every sheet) or Worksheets (worksheets only) of a workbook.
std::shared_ptr<Dispatch> makeSheetsObject(SpreadsheetProgram* program, WorkbookState* workbook,
                                           bool worksheetsOnly);
std::shared_ptr<Dispatch> makeHyperlinksObject(SpreadsheetProgram* program,
                                               std::shared_ptr<SheetObject> sheet,
                                               std::vector<CellArea> areas);
// Interior, Font or Borders of a range (part as in FormatPart).
std::shared_ptr<Dispatch> makeFormatObject(SpreadsheetProgram* program,
                                           std::shared_ptr<RangeObject> range, FormatPart part);

// Arguments as the objects read them.
namespace args {
bool given(std::span<Variant> arguments, size_t index);
std::optional<int64_t> integer(std::span<Variant> arguments, size_t index);
std::optional<std::u16string> text(std::span<Variant> arguments, size_t index);
bool boolean(std::span<Variant> arguments, size_t index, bool fallback);
// The value of a property put: the last argument.
const Variant* putValue(std::span<Variant> arguments);
}  // namespace args

// The program's text of a value (numbers in the General format).
std::u16string valueText(const Variant& value);
// The text a cell of standard width shows for its value in its number format (empty: General):
// numbers and dates as the format lays them out, "#######" for one the format cannot show (a
// date before 1900), texts through the format's text section; a format that does not read is
// taken as General.
std::u16string shownText(const Variant& value, std::u16string_view numberFormat, bool date1904);
HResult answer(Variant* result, Variant value);
// The program's failure of a member call (a refused password, a protected cell ...).
inline constexpr HResult kProgramError = kDispEException;

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_SPREADSHEET_PROGRAM_OBJECTS_H_
