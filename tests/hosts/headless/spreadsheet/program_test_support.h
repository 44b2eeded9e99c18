// A headless spreadsheet program with its windows and add-in callback for tests, late-bound call
// shorthands, and an event sink that records what the program fires.
#ifndef KORVEL_TESTS_HOSTS_HEADLESS_SPREADSHEET_PROGRAM_TEST_SUPPORT_H_
#define KORVEL_TESTS_HOSTS_HEADLESS_SPREADSHEET_PROGRAM_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "excel/dispatch_ids.h"
#include "hosts/headless/headless_addin_callback.h"
#include "hosts/headless/headless_window_system.h"
#include "hosts/headless/spreadsheet/spreadsheet_program.h"

namespace korvel::testing {

// Records every event with its arguments; a handler may answer Cancel.
class RecordingSink : public Dispatch {
 public:
  struct Event {
    int32_t id;
    std::vector<Variant> arguments;
  };
  std::vector<Event> events;
  std::function<void(int32_t id, std::span<Variant> arguments)> handler;

  HResult invoke(int32_t memberId, InvokeKind, std::span<Variant> arguments, Variant*,
                 uint32_t) override {
    events.push_back({memberId, {arguments.begin(), arguments.end()}});
    if (handler) handler(memberId, arguments);
    return kSOk;
  }
  std::vector<int32_t> ids() const {
    std::vector<int32_t> out;
    for (const Event& e : events) out.push_back(e.id);
    return out;
  }
};

class ProgramTest : public ::testing::Test {
 protected:
  // A workbook "Book.xlsx" with sheets "Input" and "Output".
  static WorkbookData twoSheets() {
    WorkbookData data;
    data.fullName = u"C:\\apps\\Book.xlsx";
    data.sheets.resize(2);
    data.sheets[0].name = u"Input";
    data.sheets[1].name = u"Output";
    return data;
  }

  Dispatch& app() { return *program_.application(); }

  static Variant get(Dispatch& object, int32_t id, std::vector<Variant> arguments = {}) {
    Variant result;
    HResult hr = object.invoke(id, InvokeKind::kPropertyGet, arguments, &result);
    EXPECT_EQ(hr, kSOk) << "get 0x" << std::hex << id;
    return result;
  }
  static std::shared_ptr<Dispatch> object(Dispatch& object, int32_t id,
                                          std::vector<Variant> arguments = {}) {
    Variant v = get(object, id, std::move(arguments));
    EXPECT_EQ(v.type(), VarType::kDispatch) << "object 0x" << std::hex << id;
    return v.object();
  }
  static HResult put(Dispatch& object, int32_t id, Variant value,
                     std::vector<Variant> arguments = {}) {
    arguments.push_back(std::move(value));
    return object.invoke(id, InvokeKind::kPropertyPut, arguments, nullptr);
  }
  static HResult call(Dispatch& object, int32_t id, std::vector<Variant> arguments = {},
                      Variant* result = nullptr) {
    return object.invoke(id, InvokeKind::kMethod, arguments, result);
  }

  std::shared_ptr<Dispatch> sheet(const std::u16string& name) {
    auto workbook = object(app(), dispid::kActiveWorkbook);
    auto sheets = object(*workbook, dispid::kSheets);
    return object(*sheets, dispid::kItem, {Variant::text(name)});
  }
  std::shared_ptr<Dispatch> range(const std::u16string& sheetName, const std::u16string& a1) {
    return object(*sheet(sheetName), dispid::kRange, {Variant::text(a1)});
  }

  // Registers a procedure as the runtime does (function text = procedure).
  void registerProcedure(const char* procedure) {
    Xloper module = Xloper::string("plinthstub.dll"), name = Xloper::string(procedure),
           type = Xloper::string("J"), text = Xloper::string(procedure), none = Xloper::string(""),
           macroType = Xloper::string("0");
    const Xloper* arguments[] = {&module, &name, &type, &text, &none, &macroType};
    Xloper result;
    ASSERT_EQ(addin_.excel4(kXlfRegister, &result, arguments), kXlretSuccess);
  }

  HeadlessWindowSystem windows_;
  HeadlessAddinCallback addin_;
  SpreadsheetProgram program_{windows_, &addin_};
};

}  // namespace korvel::testing

#endif  // KORVEL_TESTS_HOSTS_HEADLESS_SPREADSHEET_PROGRAM_TEST_SUPPORT_H_
