// The program's workbook class as a registered COM class: the library creates a new workbook of
// the running program by its class identifier (CoCreateInstance), as it does in the program, and
// receives the in-memory program's new workbook as a COM object.
//
// REQUIRES: COM is initialised on the program's thread, which makes every call.
#ifndef KORVEL_TESTS_WIN32_SCRIPTED_HOST_WORKBOOK_CLASS_H_
#define KORVEL_TESTS_WIN32_SCRIPTED_HOST_WORKBOOK_CLASS_H_

#include <windows.h>

#include "hosts/headless/spreadsheet/spreadsheet_program.h"

namespace korvel::win32 {

class WorkbookClass {
 public:
  // Registers the class for the program; revoked at the end.
  explicit WorkbookClass(SpreadsheetProgram& program);
  ~WorkbookClass();
  WorkbookClass(const WorkbookClass&) = delete;
  WorkbookClass& operator=(const WorkbookClass&) = delete;

  bool registered() const { return cookie_ != 0; }
  // Workbooks made through the class so far.
  int created() const;

 private:
  class Factory;
  Factory* factory_;
  DWORD cookie_ = 0;
};

}  // namespace korvel::win32

#endif  // KORVEL_TESTS_WIN32_SCRIPTED_HOST_WORKBOOK_CLASS_H_
