// The server's answers without sockets: edits and their dependents, what a reply may hold, bad
// requests, sessions kept apart, bounded and expiring, and the data steps of an application file.
#include "tools/korvel/serve/serve_api.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/locale_settings.h"
#include "hosts/headless/disk_files.h"
#include "hosts/headless/headless_locale.h"
#include "hosts/headless/headless_resources.h"
#include "hosts/headless/system_clock.h"
#include "tests/scratch_directory.h"
#include "tools/korvel/application_file.h"
#include "tools/korvel/workbook_input.h"
#include "util/text.h"

namespace korvel {
namespace {

const std::string kPricing = std::string(KORVEL_SOURCE_DIR) + "/examples/pricing.txt";

class ServeApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static HeadlessLocale locale;
    static SystemClock clock;
    installLocale(&locale, &clock);
  }
  void TearDown() override {
    resetLocaleSettings();
    if (!scratch_.empty()) std::filesystem::remove_all(scratch_);
  }

  static ApiReply call(ServeApi& api, const std::string& method, const std::string& path,
                       const std::string& session, const std::string& body = {},
                       const std::string& contentType = "application/json") {
    ApiRequest request;
    request.method = method;
    size_t query = path.find('?');
    request.path = path.substr(0, query);
    if (query != std::string::npos) {
      std::string pair = path.substr(query + 1);
      size_t equals = pair.find('=');
      request.query[pair.substr(0, equals)] = pair.substr(equals + 1);
    }
    request.body = body;
    request.contentType = body.empty() ? "" : contentType;
    request.sessionId = session;
    return api.handle(request);
  }
  // A new session's id.
  static std::string open(ServeApi& api) {
    ApiReply reply = call(api, "GET", "/api/sheets", "");
    EXPECT_EQ(reply.status, 200) << reply.body;
    EXPECT_FALSE(reply.newSessionId.empty());
    return reply.newSessionId;
  }
  // The cell's entry in a reply's list ("cells" or "changed"); null when absent.
  static nlohmann::json find(const ApiReply& reply, const char* list, const std::string& cell) {
    nlohmann::json json = nlohmann::json::parse(reply.body);
    for (const nlohmann::json& entry : json[list]) {
      if (entry["cell"] == cell) return entry;
    }
    return nullptr;
  }
  static nlohmann::json cell(ServeApi& api, const std::string& session, const std::string& name) {
    return find(call(api, "GET", "/api/cells?range=" + name, session), "cells", name);
  }
  static std::unique_ptr<ServeApi> load(ServeConfig config,
                                        ServeApi::Clock clock = ServeApi::Clock()) {
    auto api = std::make_unique<ServeApi>(std::move(config), std::move(clock));
    std::string error;
    EXPECT_TRUE(api->load(&error)) << error;
    return api;
  }
  // Compiles the book (a workbook text, or an .xlsx package that lends its parts) into an
  // application file of the scratch folder, with data exchange and saving; its path.
  std::string compile(const std::string& book, const std::u16string& name) {
    if (scratch_.empty()) scratch_ = makeScratchDirectory("serve-api");
    DiskFiles files;
    std::string bytes;
    EXPECT_TRUE(files.readAll(fromUtf8(book), &bytes));
    bool package = book.ends_with(".xlsx");
    Workbook workbook;
    std::vector<std::string> errors;
    EXPECT_TRUE(readWorkbookFile(book, &workbook, &errors))
        << (errors.empty() ? "" : errors.front());
    ApplicationOptions options;
    options.name = name;
    options.dataExchange = true;
    options.saveAsExecutable = true;
    std::vector<ResourceEntry> entries;
    std::string error;
    EXPECT_TRUE(buildApplicationResources(workbook, package ? bytes : std::string(), options, files,
                                          &entries, &error))
        << error;
    std::string path = (scratch_ / (toUtf8(name) + ".kvapp")).string();
    EXPECT_TRUE(files.writeAll(fromUtf8(path), encodeApplicationFile(entries)));
    return path;
  }
  std::filesystem::path scratch_;

  static ServeConfig pricing() {
    ServeConfig config;
    config.input = kPricing;
    return config;
  }
};

TEST_F(ServeApiTest, AnEditAnswersEveryChangedCellAndNoFormula) {
  auto api = load(pricing());
  std::string session = open(*api);
  EXPECT_EQ(nlohmann::json::parse(call(*api, "GET", "/api/sheets", session).body)["sheets"],
            nlohmann::json::array({"Order"}));
  ApiReply edit = call(*api, "POST", "/api/cells", session, R"({"set": {"Order!C2": 10}})");
  ASSERT_EQ(edit.status, 200) << edit.body;
  EXPECT_TRUE(edit.newSessionId.empty());
  EXPECT_EQ(find(edit, "changed", "Order!D6")["value"], 139.5);
  EXPECT_EQ(find(edit, "changed", "Order!D2")["value"], 125);
  EXPECT_EQ(find(edit, "changed", "Order!C2")["value"], 10);
  EXPECT_TRUE(find(edit, "changed", "Order!D3").is_null()) << "D3 did not change";

  ApiReply all = call(*api, "GET", "/api/cells?range=Order!A1:XFD1048576", session);
  ASSERT_EQ(all.status, 200) << all.body;
  EXPECT_EQ(find(all, "cells", "Order!A2")["text"], "Widget");
  EXPECT_EQ(find(all, "cells", "Order!D2")["locked"], true);
  EXPECT_EQ(find(all, "cells", "Order!C2")["locked"], false);
  for (const ApiReply* reply : {&edit, &all}) {
    for (const char* formula : {"B2*C2", "SUM(", "Discount)", "="}) {
      EXPECT_EQ(reply->body.find(formula), std::string::npos) << formula << " in " << reply->body;
    }
  }

  // A percentage is read as the user's typing is.
  ApiReply percent = call(*api, "POST", "/api/cells", session, R"({"set": {"Order!B5": "15%"}})");
  ASSERT_EQ(percent.status, 200) << percent.body;
  EXPECT_DOUBLE_EQ(find(percent, "changed", "Order!B5")["value"].get<double>(), 0.15);
  EXPECT_DOUBLE_EQ(find(percent, "changed", "Order!D6")["value"].get<double>(), 155 * 0.85);
}

TEST_F(ServeApiTest, AFormattedApplicationShowsItsFormatsWidthsAndProtection) {
  ServeConfig config;
  config.input = compile(std::string(KORVEL_SOURCE_DIR) + "/examples/quote.xlsx", u"Quote");
  auto api = load(config);
  std::string session = open(*api);
  nlohmann::json sheets = nlohmann::json::parse(call(*api, "GET", "/api/sheets", session).body);
  EXPECT_EQ(sheets["layout"][0]["protected"], true);
  EXPECT_EQ(sheets["layout"][0]["widths"]["A"], 14);
  struct Shown {
    const char* cell;
    const char* text;
    bool locked;
  } shown[] = {{"Quote!B2", "2026-12-10", false}, {"Quote!B5", "12.50", true},
               {"Quote!C5", "4", false},          {"Quote!B8", "10%", false},
               {"Quote!D9", "72.00", true},       {"Quote!D10", "2027-01-09", true},
               {"Quote!A5", "Widget", true}};
  for (const Shown& c : shown) {
    nlohmann::json entry = cell(*api, session, c.cell);
    EXPECT_EQ(entry["text"], c.text) << c.cell;
    EXPECT_EQ(entry["locked"], c.locked) << c.cell;
  }
  // Typed as the user types: a percentage and a date keep their cells' formats.
  ApiReply edit = call(*api, "POST", "/api/cells", session,
                       R"({"set": {"Quote!B8": "15%", "Quote!B2": "2026-12-20"}})");
  ASSERT_EQ(edit.status, 200) << edit.body;
  EXPECT_EQ(find(edit, "changed", "Quote!D9")["text"], "68.00");
  EXPECT_EQ(find(edit, "changed", "Quote!D10")["text"], "2027-01-19");
  EXPECT_EQ(call(*api, "POST", "/api/cells", session, R"({"set": {"Quote!A5": "x"}})").status, 403);
}

TEST_F(ServeApiTest, TheWorkbooksFontsFillsBordersAndMergesShowFromTheXlsxAndTheApplication) {
  const std::string book = std::string(KORVEL_SOURCE_DIR) + "/examples/quote.xlsx";
  for (const std::string& input : {book, compile(book, u"Quote")}) {
    SCOPED_TRACE(input);
    ServeConfig config;
    config.input = input;
    auto api = load(config);
    std::string session = open(*api);
    nlohmann::json sheets = nlohmann::json::parse(call(*api, "GET", "/api/sheets", session).body);
    EXPECT_EQ(sheets["layout"][0]["merges"], nlohmann::json::array({"A3:D3"}));
    EXPECT_EQ(sheets["layout"][0]["widths"]["D"], 14);
    const nlohmann::json thin = {{"style", "thin"}, {"color", "#000000"}};
    struct Look {
      const char* cell;
      const char* member;       // a JSON pointer into the cell's entry
      nlohmann::json expected;  // null: the member is absent
    } looks[] = {
        {"Quote!A3", "/font", {{"bold", true}, {"size", 14}, {"color", "#1f4e79"}}},
        {"Quote!A4", "/font", {{"bold", true}}},
        {"Quote!D4", "/fill", "#ddebf7"},
        {"Quote!D4", "/border", {{"bottom", thin}}},
        {"Quote!D9",
         "/border",
         {{"top", thin}, {"bottom", {{"style", "double"}, {"color", "#000000"}}}}},
        {"Quote!D9", "/text", "72.00"},
        {"Quote!A5", "/font", nullptr},
        {"Quote!A5", "/fill", nullptr},
        {"Quote!A5", "/border", nullptr},
    };
    for (const Look& look : looks) {
      nlohmann::json entry = cell(*api, session, look.cell);
      nlohmann::json::json_pointer member(look.member);
      EXPECT_EQ(entry.contains(member) ? entry[member] : nullptr, look.expected)
          << look.cell << look.member << " in " << entry;
    }
    // A changed result keeps its look.
    ApiReply edit = call(*api, "POST", "/api/cells", session, R"({"set": {"Quote!C5": 10}})");
    ASSERT_EQ(edit.status, 200) << edit.body;
    EXPECT_EQ(find(edit, "changed", "Quote!D9")["font"]["bold"], true);
  }
}

TEST_F(ServeApiTest, BadRequestsAreRefusedWithTheReasonAndChangeNothing) {
  ServeConfig config = pricing();
  config.maxBody = 1000;
  auto api = load(config);
  std::string session = open(*api);
  struct Case {
    const char* method;
    const char* path;
    std::string body;
    const char* contentType;
    int status;
    const char* says;
  } cases[] = {
      {"POST", "/api/cells", R"({"set": {"Order!C2": 1}})", "text/plain", 415, "application/json"},
      {"POST", "/api/cells", "{\"set\": ", "application/json", 400, "not JSON"},
      {"POST", "/api/cells", R"({"put": {}})", "application/json", 400, "expected"},
      {"POST", "/api/cells", R"({"set": {"Order!D2": 1}})", "application/json", 403, "locked"},
      {"POST", "/api/cells", R"({"set": {"Order!C2": 10, "Order!D6": 1}})", "application/json", 403,
       "Order!D6"},
      {"POST", "/api/cells", R"({"set": {"Nowhere!A1": 1}})", "application/json", 404, "sheet"},
      {"POST", "/api/cells", R"({"set": {"Order!A1:B2": 1}})", "application/json", 400, "one cell"},
      {"POST", "/api/cells", R"({"set": {"C2": 1}})", "application/json", 400, "one cell"},
      {"POST", "/api/cells", R"({"set": {"Order!C2": "=B2*2"}})", "application/json", 400,
       "formulas"},
      {"POST", "/api/cells", R"({"set": {"Order!C2": [1]}})", "application/json", 400, "expected"},
      {"POST", "/api/cells", std::string(2000, ' '), "application/json", 413, "larger"},
      {"GET", "/api/cells", "", "", 400, "range"},
      {"GET", "/api/cells?range=Order", "", "", 400, "range"},
      {"GET", "/api/cells?range=Elsewhere!A1", "", "", 404, "Elsewhere"},
      {"GET", "/api/formulas", "", "", 404, "no such call"},
      {"DELETE", "/api/cells", "", "", 405, "DELETE"},
      {"GET", "/api/undo", "", "", 405, "GET"},
      {"POST", "/api/undo", "", "", 409, "nothing to undo"},
      {"GET", "/api/export", "", "", 409, "data exchange"},
      {"POST", "/api/import", "x", "application/octet-stream", 409, "data exchange"},
      {"POST", "/api/save", "", "", 403, "--allow-save"},
      {"POST", "/api/manual", R"({"manual": 1})", "application/json", 400, "manual"},
      {"GET", "/secret", "", "", 404, "no such page"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.path + " " + c.body.substr(0, 60));
    ApiReply reply = call(*api, c.method, c.path, session, c.body, c.contentType);
    EXPECT_EQ(reply.status, c.status) << reply.body;
    EXPECT_NE(nlohmann::json::parse(reply.body)["error"].get<std::string>().find(c.says),
              std::string::npos)
        << reply.body;
  }
  // The request that named a locked cell after a good one typed neither.
  EXPECT_EQ(cell(*api, session, "Order!C2")["value"], 4);
  EXPECT_EQ(cell(*api, session, "Order!D6")["value"], 72);
}

TEST_F(ServeApiTest, SessionsKeepTheirOwnStateAndUndo) {
  auto api = load(pricing());
  std::string first = open(*api);
  std::string second = open(*api);
  EXPECT_NE(first, second);
  ASSERT_EQ(call(*api, "POST", "/api/cells", first, R"({"set": {"Order!C2": 10}})").status, 200);
  EXPECT_EQ(cell(*api, first, "Order!D6")["value"], 139.5);
  EXPECT_EQ(cell(*api, second, "Order!D6")["value"], 72);
  // A cookie the server never gave, or of an ended session, starts a session of its own.
  ApiReply stranger = call(*api, "GET", "/api/cells?range=Order!D6", "0123456789abcdef");
  EXPECT_FALSE(stranger.newSessionId.empty());
  EXPECT_EQ(find(stranger, "cells", "Order!D6")["value"], 72);

  ApiReply undo = call(*api, "POST", "/api/undo", first);
  ASSERT_EQ(undo.status, 200) << undo.body;
  EXPECT_EQ(find(undo, "changed", "Order!D6")["value"], 72);
  EXPECT_EQ(find(undo, "changed", "Order!C2")["value"], 4);
}

TEST_F(ServeApiTest, ManualCalculationWaitsForTheCalculateKey) {
  auto api = load(pricing());
  std::string session = open(*api);
  ASSERT_EQ(call(*api, "POST", "/api/manual", session, R"({"manual": true})").status, 200);
  ApiReply edit = call(*api, "POST", "/api/cells", session, R"({"set": {"Order!C2": 10}})");
  ASSERT_EQ(edit.status, 200) << edit.body;
  EXPECT_TRUE(find(edit, "changed", "Order!D6").is_null()) << edit.body;
  ApiReply calculated = call(*api, "POST", "/api/calculate", session);
  ASSERT_EQ(calculated.status, 200) << calculated.body;
  EXPECT_EQ(find(calculated, "changed", "Order!D6")["value"], 139.5);
}

TEST_F(ServeApiTest, SessionsAreBoundedAndEndWhenIdle) {
  auto now = std::chrono::steady_clock::time_point();
  ServeConfig config = pricing();
  config.maxSessions = 2;
  config.idleTimeout = std::chrono::minutes(5);
  auto api = load(config, [&] { return now; });
  std::string first = open(*api);
  now += std::chrono::minutes(3);
  std::string second = open(*api);
  ApiReply full = call(*api, "GET", "/api/sheets", "");
  EXPECT_EQ(full.status, 503) << full.body;
  EXPECT_TRUE(full.newSessionId.empty());

  // The first session ends five idle minutes after its last use; the second lives on.
  now += std::chrono::minutes(2);
  std::string third = open(*api);
  EXPECT_EQ(api->sessionCount(), 2u);
  EXPECT_TRUE(call(*api, "GET", "/api/sheets", second).newSessionId.empty());
  // The ended session's cookie would need a new session, and there is no room for one.
  EXPECT_EQ(call(*api, "GET", "/api/sheets", first).status, 503);
  EXPECT_FALSE(third.empty());
}

TEST_F(ServeApiTest, AnApplicationsDataGoesOutAndComesBackAndItSaves) {
  std::string path = compile(kPricing, u"Pricing");
  ServeConfig config;
  config.input = path;
  config.allowSave = true;
  auto api = load(config);
  std::string author = open(*api);
  ASSERT_EQ(call(*api, "POST", "/api/cells", author, R"({"set": {"Order!C2": 10}})").status, 200);
  ApiReply exported = call(*api, "GET", "/api/export", author);
  ASSERT_EQ(exported.status, 200) << exported.body;
  EXPECT_EQ(exported.contentType, "application/octet-stream");
  EXPECT_EQ(exported.fileName, "Pricing.dat");
  EXPECT_FALSE(exported.body.empty());

  std::string reader = open(*api);
  ApiReply imported =
      call(*api, "POST", "/api/import", reader, exported.body, "application/octet-stream");
  ASSERT_EQ(imported.status, 200) << imported.body;
  EXPECT_EQ(find(imported, "changed", "Order!D6")["value"], 139.5);
  ApiReply damaged =
      call(*api, "POST", "/api/import", reader, "not a data file", "application/octet-stream");
  EXPECT_EQ(damaged.status, 422) << damaged.body;

  ApiReply saved = call(*api, "POST", "/api/save", author);
  ASSERT_EQ(saved.status, 200) << saved.body;
  // The next session starts from the saved state.
  std::string later = open(*api);
  EXPECT_EQ(cell(*api, later, "Order!D6")["value"], 139.5);
}

}  // namespace
}  // namespace korvel
