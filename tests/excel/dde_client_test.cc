// The DDE client: requests with their conversations and advise loops, the number rule of the
// server's texts, and advise data that queues the item's cells and posts a recalculation.
#include "excel/dde_client.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/value_convert.h"
#include "excel/dispatch_ids.h"
#include "excel/excel_connection.h"
#include "hosts/headless/headless_system.h"
#include "hosts/headless/headless_window_system.h"
#include "hosts/headless/memory_files.h"
#include "runtime/host_commands.h"
#include "runtime/runtime.h"
#include "tests/excel/fake_objects.h"

namespace korvel {
namespace {

using testing::FakeObject;

// One server, "PRICES" with topic "Feed", whose items answer from a map.
class FakeDde : public Dde {
 public:
  static constexpr DdeConversation kConversation = 31;

  bool initialize(AdviseCallback callback) override {
    callback_ = std::move(callback);
    initialized_ = true;
    return true;
  }
  void uninitialize() override { initialized_ = false; }
  bool initialized() const override { return initialized_; }
  DdeConversation connect(std::u16string_view service, std::u16string_view topic) override {
    ++connects;
    return serverUp && service == u"PRICES" && topic == u"Feed" ? kConversation : 0;
  }
  bool startAdvise(DdeConversation, std::u16string_view item, uint32_t timeout) override {
    advised.emplace_back(item);
    EXPECT_EQ(timeout, 1000u);
    return true;
  }
  std::optional<std::string> request(DdeConversation conversation, std::u16string_view item,
                                     uint32_t) override {
    auto found = items.find(std::u16string(item));
    if (conversation != kConversation || found == items.end()) return std::nullopt;
    return found->second;
  }
  void send(std::u16string_view item) { callback_(kConversation, item, "1\0"); }

  bool serverUp = true;
  int connects = 0;
  std::vector<std::u16string> advised;
  std::map<std::u16string, std::string> items;

 private:
  AdviseCallback callback_;
  bool initialized_ = false;
};

class DdeClientTest : public ::testing::Test {
 protected:
  DdeClientTest() : system_(&files_) {
    main_ = windows_.createWindow({u"XLMAIN", u"", WindowHandle::kNoWindow, 0});
    platform_.files = &files_;
    platform_.windows = &windows_;
    platform_.system = &system_;
    platform_.dde = &dde_;
    runtime_ = std::make_unique<Runtime>(platform_);
    runtime_->setMainWindow(main_);
    connection_ = std::make_unique<ExcelConnection>(*runtime_);
    application_ = std::make_shared<FakeObject>("application");
    application_->properties[dispid::kEnableEvents] = Variant::boolean(true);
    application_->properties[dispid::kCalculation] = Variant::i4(kCalculationAutomatic);
    connection_->application() = ExcelObject(application_);
    EXPECT_TRUE(connection_->ddeClient().initialize());

    DdeLink link{u"prices", u"FEED", {}};
    link.items.push_back(DdeItem{u"Gold", {CellRef::at(0, 3, 1), CellRef::at(1, 0, 0)}, {}});
    runtime_->model()->ddeLinks.push_back(link);
  }

  std::vector<CellRef> changed() {
    std::vector<CellRef> addresses;
    for (Cell* cell : runtime_->engine()->changedCells) addresses.push_back(cell->address);
    return addresses;
  }

  MemoryFiles files_;
  HeadlessSystem system_;
  HeadlessWindowSystem windows_;
  FakeDde dde_;
  Platform platform_;
  WindowHandle main_;
  std::unique_ptr<Runtime> runtime_;
  std::unique_ptr<ExcelConnection> connection_;
  std::shared_ptr<FakeObject> application_;
};

TEST(DdeTextValueTest, NumbersBecomeIntegersOrDoublesAndTheRestStaysText) {
  struct Case {
    const char16_t* text;
    ValueKind kind;
    double number;
  } cases[] = {{u"12", ValueKind::kInteger, 12},   {u"1.5", ValueKind::kNumber, 1.5},
               {u"-3", ValueKind::kInteger, -3},   {u"1e10", ValueKind::kNumber, 1e10},
               {u"abc", ValueKind::kShortText, 0}, {u"", ValueKind::kShortText, 0}};
  for (const Case& c : cases) {
    Value value = ddeTextValue(c.text);
    EXPECT_EQ(value.kind(), c.kind) << std::string(c.text, c.text + 3);
    double number = 0;
    if (c.kind != ValueKind::kShortText && toNumber(value, &number)) {
      EXPECT_EQ(number, c.number);
    } else {
      EXPECT_EQ(toText(value), c.text);
    }
  }
}

TEST_F(DdeClientTest, RequestsConnectOnceAndStartEachAdviseLoopOnce) {
  dde_.items[u"Gold"] = std::string("1.5\0junk", 8);
  dde_.items[u"Silver"] = "abc";
  DdeClient& client = connection_->ddeClient();

  std::optional<Value> gold = client.request(u"PRICES", u"Feed", u"Gold");
  ASSERT_TRUE(gold);
  double number = 0;
  ASSERT_TRUE(toNumber(*gold, &number));
  EXPECT_EQ(number, 1.5);
  ASSERT_TRUE(client.request(u"PRICES", u"Feed", u"Gold"));
  std::optional<Value> silver = client.request(u"PRICES", u"Feed", u"Silver");
  ASSERT_TRUE(silver);
  EXPECT_EQ(toText(*silver), u"abc");

  EXPECT_EQ(dde_.connects, 1);
  EXPECT_EQ(dde_.advised, (std::vector<std::u16string>{u"Gold", u"Silver"}));
  // An item the server refuses fails the request.
  EXPECT_FALSE(client.request(u"PRICES", u"Feed", u"Copper"));
}

TEST_F(DdeClientTest, AServerThatDoesNotAnswerIsAskedAgainLater) {
  dde_.items[u"Gold"] = "7";
  dde_.serverUp = false;
  EXPECT_FALSE(connection_->ddeClient().request(u"PRICES", u"Feed", u"Gold"));
  dde_.serverUp = true;
  EXPECT_TRUE(connection_->ddeClient().request(u"PRICES", u"Feed", u"Gold"));
  EXPECT_EQ(dde_.connects, 2);

  // Ending the client ends its conversations; nothing is requested without it.
  connection_->ddeClient().uninitialize();
  EXPECT_FALSE(connection_->ddeClient().initialized());
  EXPECT_FALSE(connection_->ddeClient().request(u"PRICES", u"Feed", u"Gold"));
}

TEST_F(DdeClientTest, AdviseDataQueuesTheItemsCellsAndPostsOneRecalculation) {
  dde_.items[u"Gold"] = "7";
  ASSERT_TRUE(connection_->ddeClient().request(u"PRICES", u"Feed", u"Gold"));

  dde_.send(u"GOLD");

  EXPECT_EQ(changed(), (std::vector<CellRef>{CellRef::at(0, 3, 1), CellRef::at(1, 0, 0)}));
  ASSERT_EQ(windows_.queuedMessages(), 1u);
  // An item no cell reads changes nothing.
  dde_.send(u"Silver");
  EXPECT_EQ(windows_.queuedMessages(), 1u);
}

TEST_F(DdeClientTest, AdviseDataIsIgnoredWhileTheProgramOrTheRuntimeIsBusy) {
  dde_.items[u"Gold"] = "7";
  ASSERT_TRUE(connection_->ddeClient().request(u"PRICES", u"Feed", u"Gold"));
  struct Case {
    const char* what;
    bool editing;
    bool recalculating;
    bool events;
    int32_t calculation;
  } cases[] = {{"editing a cell", true, false, true, kCalculationAutomatic},
               {"recalculating", false, true, true, kCalculationAutomatic},
               {"events off", false, false, false, kCalculationAutomatic},
               {"manual calculation", false, false, true, kCalculationManual}};
  for (const Case& c : cases) {
    EditTracking& tracking = connection_->editTracking();
    tracking = EditTracking();
    if (c.editing) {
      tracking.feed(kWmSetFocus);
      tracking.feed(kWmWindowPosChanging);
    }
    runtime_->calculation().recalculating = c.recalculating;
    application_->properties[dispid::kEnableEvents] = Variant::boolean(c.events);
    application_->properties[dispid::kCalculation] = Variant::i4(c.calculation);

    dde_.send(u"Gold");

    EXPECT_TRUE(changed().empty()) << c.what;
    EXPECT_EQ(windows_.queuedMessages(), 0u) << c.what;
  }
}

}  // namespace
}  // namespace korvel
