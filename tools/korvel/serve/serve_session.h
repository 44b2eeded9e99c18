// One browser session's application: a whole application on the headless host, driven through
// the same session the run command drives, and answered as JSON. Only values and display texts
// leave it: no formula text of any cell, since the compiled formulas are the author's.
//
// REQUIRES: one call at a time for all sessions of the process; the runtime's entry points keep
// process-wide state.
#ifndef KORVEL_TOOLS_KORVEL_SERVE_SERVE_SESSION_H_
#define KORVEL_TOOLS_KORVEL_SERVE_SERVE_SESSION_H_

#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <tuple>

#include "compiler/workbook.h"
#include "hosts/headless/spreadsheet/workbook_data.h"
#include "tools/korvel/headless_session.h"

namespace korvel {

// The answer of one operation: an HTTP status with a JSON body, or a file to download.
struct ServeReply {
  int status = 200;
  nlohmann::ordered_json json;
  // When not empty, the reply is this file's bytes instead of the JSON.
  std::string download;
  std::string downloadName;

  static ServeReply error(int status, std::string message) {
    ServeReply reply;
    reply.status = status;
    reply.json = {{"error", std::move(message)}};
    return reply;
  }
};

// 128 random bits in hexadecimal, from the system's random source.
std::string randomToken();

// What a session starts from: a workbook read once (started as `run` starts a workbook), or an
// application file (started as its launcher starts it).
struct ServeSource {
  std::u16string applicationPath;  // absolute; empty for a workbook
  const Workbook* workbook = nullptr;
  std::u16string workbookName;  // the workbook's name in the program ("pricing.xlsx")
  // An .xlsx workbook's package as the program reads it, for its look; null for a text.
  const WorkbookData* presentation = nullptr;
  bool allowSave = false;  // the server lets its users save the application in place
};

class ServeSession {
 public:
  ServeSession() : session_(true) {}

  // False with *error when the application does not start.
  bool start(const ServeSource& source, std::string* error);

  // {"sheets": [NAME], "layout": [{"name", "protected", "rows", "columns"}], "manual",
  // "dataExchange", "save"}: the visible sheets, in order.
  ServeReply sheets() const;
  // The stored cells of the range ("Order!A1:D6", "Order!B2"), row by row.
  ServeReply cells(std::u16string_view range) const;
  // Types each value into its cell as the user does, after checking them all; the cells whose
  // value or text changed.
  ServeReply set(const nlohmann::ordered_json& assignments);
  ServeReply undo();
  ServeReply calculate();
  ServeReply setManual(bool manual);
  ServeReply exportData();
  ServeReply importData(const std::string& bytes);
  ServeReply save();
  ServeReply about();
  ServeReply agreement();

 private:
  // Sheet index, row, column.
  using Key = std::tuple<size_t, uint32_t, uint32_t>;
  using Snapshot = std::map<Key, std::string>;

  WorkbookState* workbook() const;
  bool visibleSheet(std::u16string_view name, size_t* index) const;
  nlohmann::ordered_json cellJson(size_t sheet, uint32_t row, uint32_t column) const;
  bool locked(size_t sheet, uint32_t row, uint32_t column) const;
  Snapshot snapshot() const;
  // The changes since the snapshot, with the dialogs and message boxes shown meanwhile.
  ServeReply changedSince(const Snapshot& before);
  // Runs a data step of the service entry on a file of the temporary directory.
  bool runDataService(int code, const std::u16string& path, std::string* failure);
  std::u16string temporaryPath(const char* suffix) const;

  mutable HeadlessSession session_;
  ServeSource source_;
  std::set<std::u16string> computed_;
  size_t dialogsSeen_ = 0;
  size_t messagesSeen_ = 0;
  bool manual_ = false;
};

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_SERVE_SERVE_SESSION_H_
