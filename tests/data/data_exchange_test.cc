// Export and import of the user's data through a whole application on the headless host: the
// program with the application workbook, the runtime with its real connection and this service.
#include "data/data_exchange.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "compiler/workbook_text.h"
#include "data/data_file.h"
#include "engine/locale_settings.h"
#include "model/cell.h"
#include "tools/korvel/headless_session.h"

namespace korvel {
namespace {

constexpr char kBook[] =
    "[Sheet1]\n"
    "A1: 2\n"
    "A2: 5\n"
    "A3: =A1*A2\n"
    "A4: =A3+1\n"
    "B1: 7\n";

std::string narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out += char(c);
  return out;
}

// The program's file and colour choosers and the import dialog, answered from scripts.
class ScriptedDialogs : public Dialogs {
 public:
  std::deque<std::optional<std::u16string>> fileAnswers;
  std::vector<FileDialogRequest> fileRequests;
  // Plays the user's part in the import dialog; without one the dialog is cancelled.
  std::function<int(ImportDialogController&)> importScript;
  int importDialogs = 0;

  std::optional<std::u16string> chooseFile(const FileDialogRequest& request) override {
    fileRequests.push_back(request);
    if (fileAnswers.empty()) return std::nullopt;
    std::optional<std::u16string> answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
  }
  std::optional<SystemColour> colourAnswer;
  std::optional<SystemColour> chooseColour(WindowHandle,
                                           const std::array<SystemColour, 16>&) override {
    return colourAnswer;
  }
  int showMessageDialog(WindowHandle, const MessageDialogView&) override { return 1; }
  int showImportDialog(WindowHandle, ImportDialogController& controller) override {
    ++importDialogs;
    if (!importScript) {
      controller.cancel();
      return 2;
    }
    return importScript(controller);
  }
};

class ReadyMenus : public MenuManager {
 public:
  bool excelAcceptsCommands() override { return ready; }
  bool ready = true;
};

struct Options {
  bool importOverFormulas = false;
  std::string protectionList;
};

class DataExchangeTest : public ::testing::Test {
 protected:
  void TearDown() override { resetLocaleSettings(); }

  // A running application with this service and scripted dialogs.
  std::unique_ptr<HeadlessSession> start(const Options& options = {}) {
    Workbook workbook;
    std::vector<std::string> errors;
    EXPECT_TRUE(readWorkbookText(kBook, &workbook, &errors));
    SessionOptions session;
    session.settings.applicationName = u"Demo";
    session.settings.header.optionFlags =
        kFlagDataExchange | (options.importOverFormulas ? kFlagImportOverFormulas : 0);
    if (!options.protectionList.empty()) {
      session.settings.header.writerVersion = 0x02010000;
      session.settings.trailingList = options.protectionList;
    }
    auto running = std::make_unique<HeadlessSession>();
    std::string error;
    EXPECT_TRUE(running->start(workbook, session, &error)) << error;
    Runtime& runtime = running->runtime();
    runtime.setDataExchange(std::make_unique<DataExchangeService>(runtime, running->connection()));
    runtime.setMenuManager(std::make_unique<ReadyMenus>());
    // The session builds its runtime without dialogs; the runtime reads its ports from its own
    // copy of the platform.
    const_cast<Platform&>(runtime.platform()).dialogs = &dialogs;
    return running;
  }

  static DataExchangeService& service(HeadlessSession& session) {
    return static_cast<DataExchangeService&>(session.runtime().dataExchange());
  }
  static Files& files(HeadlessSession& session) { return *session.runtime().platform().files; }
  static uint32_t applicationId(HeadlessSession& session) {
    return session.runtime().model()->applicationId;
  }
  static std::vector<DataRecord> recordsOf(HeadlessSession& session, const std::u16string& path,
                                           DataFileHeader* header = nullptr) {
    DataFileHeader read;
    std::string section;
    EXPECT_EQ(readDataFile(files(session), path, &read, &section), DataFileCode::kOk);
    std::vector<DataRecord> records;
    EXPECT_TRUE(readDataRecords(read, section, &records));
    if (header != nullptr) *header = read;
    return records;
  }
  static void writeRecords(HeadlessSession& session, const std::u16string& path, uint32_t id,
                           const std::vector<DataRecord>& records) {
    DataFileHeader header;
    header.applicationId = id;
    std::string section;
    for (const DataRecord& record : records) appendDataRecord(record, &section);
    std::string failure;
    ASSERT_TRUE(writeDataFile(files(session), path, header, section, &failure)) << failure;
  }
  static std::string shown(HeadlessSession& session, std::u16string_view cell) {
    return narrow(session.display(cell));
  }
  static const std::vector<HeadlessWindowSystem::MessageBoxRecord>& boxes(
      HeadlessSession& session) {
    return session.windows().messageBoxes();
  }

  ScriptedDialogs dialogs;
};

DataRecord record(uint32_t row, uint16_t column, Value value) {
  DataRecord r;
  r.row = row;
  r.column = column;
  r.value = std::move(value);
  return r;
}

TEST_F(DataExchangeTest, ExportTakesChangedCellsAndCollectedOnesOnRequest) {
  auto session = start();
  ASSERT_TRUE(session->type(u"A1", u"3"));
  // B1 is collected by the model without having been changed.
  Cell* b1 = session->runtime().model()->findCell(CellRef::at(0, 0, 1));
  ASSERT_NE(b1, nullptr);
  b1->flags |= kCellEventMarker;

  struct Case {
    bool collected;
    std::vector<std::u16string> cells;  // "row,column=value"
  };
  for (const Case& c : {Case{false, {u"0,0=3"}}, Case{true, {u"0,0=3", u"0,1=7"}}}) {
    SCOPED_TRACE(c.collected);
    // The ".exe" of the given path becomes ".dat".
    EXPECT_TRUE(service(*session).exportData(c.collected, u"/out/app.exe"));
    EXPECT_TRUE(session->runtime().dataExchange().lastExportSucceeded());
    DataFileHeader header;
    std::vector<DataRecord> records = recordsOf(*session, u"/out/app.dat", &header);
    std::vector<std::u16string> cells;
    for (const DataRecord& r : records) {
      EXPECT_EQ(r.sheet, 0);
      cells.push_back(std::u16string(1, char16_t(u'0' + r.row)) + u"," + char16_t(u'0' + r.column) +
                      u"=" + char16_t(u'0' + int(r.value.number())));
    }
    EXPECT_EQ(cells, c.cells);
    EXPECT_EQ(header.applicationId, applicationId(*session));
    EXPECT_EQ(header.timestamp, 0u);  // silent
    EXPECT_EQ(header.formatVersion, kDataFileRuntimeVersion);
  }
  // The program's state is back as it was.
  EXPECT_TRUE(session->program().settings().userControl);
  EXPECT_TRUE(session->program().settings().enableEvents);

  // Nothing is exported while the user is editing a cell.
  EditTracking& editing = session->connection().editTracking();
  editing.feed(kWmSetFocus);
  editing.feed(kWmWindowPosChanging);
  ASSERT_TRUE(editing.editMode());
  EXPECT_FALSE(service(*session).exportData(false, u"/out/editing.dat"));
  EXPECT_FALSE(files(*session).exists(u"/out/editing.dat"));
}

TEST_F(DataExchangeTest, SilentExportWithoutChangesWritesNothing) {
  auto session = start();
  EXPECT_FALSE(service(*session).exportData(false, u"/out/app.dat"));
  EXPECT_FALSE(files(*session).exists(u"/out/app.dat"));
  EXPECT_FALSE(session->runtime().dataExchange().lastExportSucceeded());
}

TEST_F(DataExchangeTest, InteractiveExportAsksForTheFileAndBeforeOverwriting) {
  auto session = start();
  session->runtime().channelState().applicationPath = u"/apps/Demo.exe";
  DataExchange& exchange = session->runtime().dataExchange();

  // Nothing changed: the file still holds the header and the two empty creator texts.
  dialogs.fileAnswers.push_back(u"/out/mine");
  EXPECT_TRUE(exchange.exportData(false, u""));
  ASSERT_EQ(dialogs.fileRequests.size(), 1u);
  const FileDialogRequest& request = dialogs.fileRequests[0];
  EXPECT_TRUE(request.save);
  EXPECT_EQ(request.owner, session->runtime().mainWindow());
  EXPECT_EQ(request.title, u"Export Changes In File");
  EXPECT_EQ(request.filterName, u"Data Files");
  EXPECT_EQ(request.filterPattern, u"*.dat");
  EXPECT_EQ(request.initialPath, u"/apps/Demo.dat");
  DataFileHeader header;
  EXPECT_TRUE(recordsOf(*session, u"/out/mine.dat", &header).empty());
  EXPECT_NE(header.timestamp, 0u);
  ASSERT_EQ(boxes(*session).size(), 1u);
  EXPECT_EQ(boxes(*session)[0].text, u"Export of data completed successfully.");
  EXPECT_EQ(boxes(*session)[0].caption, u"Export Data from Demo Application");
  EXPECT_EQ(boxes(*session)[0].style, kMbOk | kMbIconInformation);

  // The same file again: the user declines to overwrite it.
  ASSERT_TRUE(session->type(u"A1", u"3"));
  dialogs.fileAnswers.push_back(u"/out/mine.dat");
  session->windows().queueMessageBoxAnswer(kIdNo);
  EXPECT_FALSE(exchange.exportData(false, u""));
  EXPECT_FALSE(exchange.lastExportSucceeded());
  ASSERT_EQ(boxes(*session).size(), 2u);
  EXPECT_EQ(boxes(*session)[1].text,
            u"File '/out/mine.dat' already exists.\nWould you like to overwrite it?");
  EXPECT_EQ(boxes(*session)[1].caption, u"Warning");
  EXPECT_EQ(boxes(*session)[1].style, kMbYesNo | kMbIconWarning);
  EXPECT_TRUE(recordsOf(*session, u"/out/mine.dat").empty());

  // The export path the launcher gave comes first; a cancelled dialog exports nothing.
  session->runtime().channelState().exportDataPath = u"/data/last.exe";
  EXPECT_FALSE(exchange.exportData(false, u""));
  EXPECT_EQ(dialogs.fileRequests.back().initialPath, u"/data/last.dat");
  EXPECT_EQ(boxes(*session).size(), 2u);
}

TEST_F(DataExchangeTest, ExportedDataImportsIntoAFreshApplicationAndRecalculates) {
  auto first = start();
  ASSERT_TRUE(first->type(u"A1", u"3"));
  ASSERT_TRUE(first->type(u"B1", u"hello"));
  ASSERT_TRUE(service(*first).exportData(false, u"/x/data.dat"));
  std::string bytes;
  ASSERT_TRUE(files(*first).readAll(u"/x/data.dat", &bytes));

  auto second = start();
  ASSERT_TRUE(files(*second).writeAll(u"/x/data.dat", bytes));
  second->runtime().dataExchange().importData(u"/x/data.dat");
  EXPECT_EQ(shown(*second, u"A1"), "3");
  EXPECT_EQ(shown(*second, u"A3"), "15");
  EXPECT_EQ(shown(*second, u"A4"), "16");
  EXPECT_EQ(shown(*second, u"B1"), "hello");
  EXPECT_TRUE(boxes(*second).empty());
  const auto& program = second->program().settings();
  EXPECT_EQ(program.calculation, -4105);
  EXPECT_TRUE(program.enableEvents);
  EXPECT_TRUE(program.screenUpdating);
  EXPECT_TRUE(program.userControl);
  EXPECT_FALSE(second->runtime().calculation().importing);
  // Imported values are the user's data: they export again.
  EXPECT_TRUE(service(*second).exportData(false, u"/x/again.dat"));
  EXPECT_EQ(recordsOf(*second, u"/x/again.dat").size(), 2u);
}

TEST_F(DataExchangeTest, ImportOverFormulasDecidesWhetherAFormulaCellTakesTheValue) {
  struct Case {
    bool overFormulas;
    const char* a3;
    const char* a4;
  };
  for (const Case& c : {Case{false, "20", "21"}, Case{true, "100", "101"}}) {
    SCOPED_TRACE(c.overFormulas);
    auto session = start(Options{c.overFormulas, {}});
    // The record for the formula cell A3 comes first: the records after it still read right.
    writeRecords(*session, u"/x/f.dat", applicationId(*session),
                 {record(2, 0, Value::number(100)), record(0, 0, Value::number(4)),
                  record(0, 1, Value::text(u"after"))});
    session->runtime().dataExchange().importData(u"/x/f.dat");
    EXPECT_EQ(shown(*session, u"A1"), "4");
    EXPECT_EQ(shown(*session, u"B1"), "after");
    EXPECT_EQ(shown(*session, u"A3"), c.a3);
    EXPECT_EQ(shown(*session, u"A4"), c.a4);
    EXPECT_TRUE(boxes(*session).empty());
  }
}

TEST_F(DataExchangeTest, ALargeSheetIsWrittenInOneAssignmentAroundItsFormulas) {
  auto session = start();
  // One more than the bulk threshold, down column C, plus the input A1; the bounding range
  // covers the formula cells A3 and A4, which keep their formulas.
  std::vector<DataRecord> records;
  for (uint32_t row = 0; row <= kBulkWriteThreshold; ++row) {
    records.push_back(record(row, 2, Value::number(double(row))));
  }
  records.push_back(record(0, 0, Value::number(4)));
  writeRecords(*session, u"/x/big.dat", applicationId(*session), records);
  session->runtime().dataExchange().importData(u"/x/big.dat");
  EXPECT_EQ(shown(*session, u"C1"), "0");
  EXPECT_EQ(shown(*session, u"C10001"), "10000");
  EXPECT_EQ(shown(*session, u"A1"), "4");
  EXPECT_EQ(shown(*session, u"A3"), "20");
  EXPECT_EQ(shown(*session, u"A4"), "21");
  EXPECT_EQ(shown(*session, u"B1"), "7");
  EXPECT_TRUE(boxes(*session).empty());
}

TEST_F(DataExchangeTest, ImportedCellsAreColouredAsChosen) {
  struct Case {
    std::optional<SystemColour> background;
    std::optional<SystemColour> font;
  };
  for (const Case& c : {Case{std::nullopt, 0x0000FF}, Case{0xCCFFCC, 0x663399}}) {
    auto session = start();
    std::string section;
    appendDataRecord(record(0, 0, Value::number(4)), &section);
    DataFileHeader header;
    ASSERT_TRUE(service(*session).applyImport(section, header, c.background, c.font));
    EXPECT_EQ(shown(*session, u"A3"), "20");
    const CellData& a1 =
        session->program().workbookState(u"Application.xlsx")->data.sheets[0].cells[{0, 0}];
    EXPECT_EQ(a1.interiorColor, c.background);
    EXPECT_EQ(a1.fontColor, c.font);
  }
}

TEST_F(DataExchangeTest, InteractiveImportAsksAboutDataOfAnotherApplication) {
  auto session = start();
  writeRecords(*session, u"/x/other.dat", applicationId(*session) + 1,
               {record(0, 0, Value::number(6))});
  // The user picks a font colour and types a path ending in ".exe"; the data file beside it is
  // read.
  dialogs.colourAnswer = 0x0000FF;
  dialogs.importScript = [](ImportDialogController& dialog) {
    dialog.chooseColour(false, WindowHandle::kNoWindow);
    return dialog.import(u"/x/other.exe", WindowHandle::kNoWindow) ? 1 : 2;
  };
  const std::u16string question =
      u"This data was created from another application.\nImport it may cause of incorrect data "
      u"setting or failure.\nImport anyway?";

  session->windows().queueMessageBoxAnswer(kIdNo);
  session->runtime().dataExchange().importData(u"");
  EXPECT_EQ(shown(*session, u"A1"), "2");
  ASSERT_EQ(boxes(*session).size(), 1u);
  EXPECT_EQ(boxes(*session)[0].text, question);
  EXPECT_EQ(boxes(*session)[0].style, kMbYesNo | kMbIconWarning);

  session->windows().queueMessageBoxAnswer(kIdYes);
  session->runtime().dataExchange().importData(u"");
  EXPECT_EQ(shown(*session, u"A1"), "6");
  EXPECT_EQ(shown(*session, u"A3"), "30");
  const CellData& a1 =
      session->program().workbookState(u"Application.xlsx")->data.sheets[0].cells[{0, 0}];
  EXPECT_EQ(a1.fontColor, 0x0000FFu);
  EXPECT_EQ(a1.interiorColor, std::nullopt);
  ASSERT_EQ(boxes(*session).size(), 3u);
  EXPECT_EQ(boxes(*session)[2].text, u"Import of data completed successfully.");
  EXPECT_EQ(boxes(*session)[2].caption, u"Import Data for Demo Application");
  EXPECT_EQ(boxes(*session)[2].style, kMbOk | kMbIconInformation);
  EXPECT_TRUE(session->program().settings().userControl);

  // While the program takes no commands, nothing is shown at all.
  static_cast<ReadyMenus*>(session->runtime().menuManager())->ready = false;
  session->runtime().dataExchange().importData(u"");
  EXPECT_EQ(dialogs.importDialogs, 2);
}

TEST_F(DataExchangeTest, ImportFailuresAreReportedAndChangeNothing) {
  auto session = start();
  Files& disk = files(*session);
  ASSERT_TRUE(disk.writeAll(u"/x/short.dat", std::string(32, 'K')));
  // A valid file whose record section ends inside its second record.
  DataFileHeader header;
  header.applicationId = applicationId(*session);
  std::string section;
  appendDataRecord(record(0, 0, Value::number(9)), &section);
  appendDataRecord(record(0, 1, Value::number(8)), &section);
  section.resize(section.size() - 3);
  std::string failure;
  ASSERT_TRUE(writeDataFile(disk, u"/x/cut.dat", header, section, &failure)) << failure;
  // The user's own calculation mode survives the import.
  session->setManualCalculation(true);

  struct Case {
    std::u16string path;
    std::u16string message;
  };
  const Case cases[] = {
      {u"/x/none.dat", u"Cannot open file '/x/none.dat'."},
      {u"/x/short.dat", u"Data file '/x/short.dat' is not a valid file format or corrupted."},
      {u"/x/cut.dat", u"Data file '/x/cut.dat' is not a valid file format or corrupted."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.path));
    session->runtime().dataExchange().importData(c.path);
    ASSERT_FALSE(boxes(*session).empty());
    EXPECT_EQ(boxes(*session).back().text, c.message);
    EXPECT_EQ(boxes(*session).back().caption, u"Warning");
    EXPECT_EQ(boxes(*session).back().style & 0xF0u, kMbIconWarning);
  }
  EXPECT_EQ(boxes(*session).size(), 3u);
  EXPECT_EQ(shown(*session, u"A1"), "2");
  const auto& program = session->program().settings();
  EXPECT_EQ(program.calculation, -4135);
  EXPECT_TRUE(program.enableEvents);
  EXPECT_TRUE(program.userControl);
  EXPECT_FALSE(session->runtime().calculation().importing);
}

TEST_F(DataExchangeTest, ProtectedSheetsTakeTheImportAndAreProtectedAgain) {
  ProtectionTable table;
  table.sheetWords = {0x20 | 0x10};
  table.sheetPasswords = {"pw"};
  auto session = start(Options{false, writeProtectionList(table, 0x02010000)});
  SheetData& sheet = session->program().workbookState(u"Application.xlsx")->data.sheets[0];
  ASSERT_TRUE(sheet.protection.contents);
  session->setManualCalculation(true);

  writeRecords(*session, u"/x/p.dat", applicationId(*session), {record(0, 0, Value::number(4))});
  session->runtime().dataExchange().importData(u"/x/p.dat");
  EXPECT_EQ(shown(*session, u"A1"), "4");
  EXPECT_EQ(shown(*session, u"A3"), "20");
  EXPECT_TRUE(sheet.protection.contents);
  EXPECT_EQ(sheet.protection.password, u"pw");
  EXPECT_EQ(session->program().settings().calculation, -4135);
  EXPECT_TRUE(session->program().settings().screenUpdating);
  EXPECT_TRUE(boxes(*session).empty());
}

TEST_F(DataExchangeTest, StartupImportRunsOnlyWithDataExchangeAndShowsNothing) {
  auto session = start();
  writeRecords(*session, u"/x/start.dat", applicationId(*session),
               {record(0, 0, Value::number(4))});
  session->runtime().channelState().startupDataPath = u"/x/missing.dat";
  session->runtime().dataExchange().importStartupData();
  session->runtime().channelState().startupDataPath = u"/x/start.dat";
  session->runtime().settings().dataExchange = false;
  session->runtime().dataExchange().importStartupData();
  EXPECT_EQ(shown(*session, u"A1"), "2");
  session->runtime().settings().dataExchange = true;
  session->runtime().dataExchange().importStartupData();
  EXPECT_EQ(shown(*session, u"A3"), "20");
  EXPECT_TRUE(boxes(*session).empty());
}

}  // namespace
}  // namespace korvel
