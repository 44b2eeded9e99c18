#include "runtime/host_channel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/locale_settings.h"
#include "functions/function_catalogue.h"
#include "model/envelope.h"
#include "runtime/text_table.h"
#include "tests/runtime/runtime_test_support.h"

namespace korvel {
namespace {

using testing::RuntimeRig;

std::string utf16Bytes(std::u16string_view text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes.push_back(char(c & 0xFF));
    bytes.push_back(char(c >> 8));
  }
  return bytes;
}

std::string envelope(std::string_view content) {
  std::string out;
  EXPECT_TRUE(encodeEnvelope(content, &out));
  return out;
}

class HostChannelTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Whatever a command did, every launcher block was released, and released once.
    EXPECT_EQ(rig.windows.livePayloads(), 0u);
    EXPECT_EQ(rig.windows.faultyPayloadReleases(), 0);
  }

  // Sends a text command as the launcher does: a block of UTF-16LE, lParam the unit count.
  int64_t sendText(uint32_t command, std::u16string_view text) {
    return rig.send(command, rig.textPayload(text), int64_t(text.size()));
  }
  int64_t sendBytes(uint32_t command, std::string_view bytes) {
    return rig.send(command, rig.payload(bytes), int64_t(bytes.size()));
  }

  RuntimeRig rig;
};

TEST_F(HostChannelTest, MessagesThatAreNoCommandsReachTheHostProgramUnchanged) {
  for (uint32_t message : {1100u, 1200u, 1164u, 1281u, 0x0111u}) {
    rig.hostMessages.clear();
    EXPECT_EQ(rig.send(message, 5, 6), RuntimeRig::kHostAnswer) << message;
    ASSERT_EQ(rig.hostMessages.size(), 1u) << message;
    EXPECT_EQ(rig.hostMessages[0].message, message);
    EXPECT_EQ(rig.hostMessages[0].wParam, 5u);
    EXPECT_EQ(rig.hostMessages[0].lParam, 6);
    EXPECT_FALSE(rig.runtime->hostChannel().dispatch(message, 5, 6).handled) << message;
  }
  EXPECT_TRUE(rig.log.empty());
}

TEST_F(HostChannelTest, LanguageKeepsTheLowByteWhenItIsNotZero) {
  EXPECT_EQ(rig.send(HC_EXCEL_LANGUAGE, 0, 0x0107), 1);
  EXPECT_EQ(rig.runtime->channelState().excelLanguage, 7);
  EXPECT_EQ(rig.runtime->hostChannel().languageName(), u"German");
  EXPECT_EQ(rig.send(HC_EXCEL_LANGUAGE, 0, 0x0100), 1);
  EXPECT_EQ(rig.runtime->channelState().excelLanguage, 7);
  EXPECT_TRUE(rig.hostMessages.empty());
}

TEST_F(HostChannelTest, PathsAreStoredAndTheApplicationDirectoryBecomesCurrent) {
  rig.system.setExecutableIcon(u"C:\\Apps\\Budget.exe", true, true);
  EXPECT_EQ(sendText(HC_APPLICATION_PATH, u"C:\\Apps\\Budget.exe"), 1);
  EXPECT_EQ(sendText(HC_STARTUP_DATA_PATH, u"C:\\Data\\in.dat"), 1);
  EXPECT_EQ(sendText(HC_EXPORT_DATA_PATH, u"C:\\Data\\out.dat"), 1);
  EXPECT_EQ(sendText(HC_WORKBOOK_PATH, u"C:\\Temp\\wb1.xls"), 1);
  EXPECT_EQ(sendText(HC_RUNTIME_MODULE_PATH, u"C:\\Temp\\rt1.dll"), 1);
  const ChannelState& state = rig.runtime->channelState();
  EXPECT_EQ(state.applicationPath, u"C:\\Apps\\Budget.exe");
  EXPECT_EQ(state.applicationDirectory, u"C:\\Apps");
  EXPECT_EQ(rig.system.currentDirectory(), u"C:\\Apps");
  EXPECT_EQ(state.startupDataPath, u"C:\\Data\\in.dat");
  EXPECT_EQ(state.exportDataPath, u"C:\\Data\\out.dat");
  EXPECT_EQ(state.workbookPath, u"C:\\Temp\\wb1.xls");
  EXPECT_EQ(state.runtimeModulePath, u"C:\\Temp\\rt1.dll");
  EXPECT_NE(state.applicationIcon, IconHandle::kNoIcon);
  // The large icon is kept, the small one given back.
  EXPECT_EQ(rig.system.liveIcons(), 1u);

  // An executable without icons keeps the icon there was; a path without a directory keeps the
  // directory there was.
  IconHandle icon = state.applicationIcon;
  EXPECT_EQ(sendText(HC_APPLICATION_PATH, u"Other.exe"), 1);
  EXPECT_EQ(state.applicationIcon, icon);
  EXPECT_EQ(state.applicationDirectory, u"C:\\Apps");
}

TEST_F(HostChannelTest, LengthsBeyondTheBlockAreCutToIt) {
  uint64_t block = rig.textPayload(u"C:\\a.xls");
  EXPECT_EQ(rig.send(HC_WORKBOOK_PATH, block, 1000000), 1);
  EXPECT_EQ(rig.runtime->channelState().workbookPath, u"C:\\a.xls");
  EXPECT_EQ(rig.windows.payloadReleases(block), 1);

  // A negative count reads nothing.
  block = rig.textPayload(u"x");
  EXPECT_EQ(rig.send(HC_WORKBOOK_PATH, block, -5), 1);
  EXPECT_EQ(rig.runtime->channelState().workbookPath, u"");
}

TEST_F(HostChannelTest, AddressZeroDoesNothingAndAnswersAsUsual) {
  for (uint32_t command :
       {HC_ATTACH_APPLICATION, HC_FUNCTION_NAME_TEXTS, HC_KEYWORD_TEXTS, HC_APPLICATION_PATH,
        HC_STARTUP_DATA_PATH, HC_AGREEMENT_TEXT, HC_WORKBOOK_PATH, HC_HOST_TEXT}) {
    EXPECT_EQ(rig.send(command, 0, 10), 1) << command;
  }
  EXPECT_EQ(rig.send(HC_SETTINGS, 0, 10), 0);
  EXPECT_EQ(rig.runtime->channelState().applicationPath, u"");
  EXPECT_FALSE(rig.connection->isAttached);
  EXPECT_EQ(rig.runtime->shutDowns(), 0);
}

TEST_F(HostChannelTest, AgreementTextDecodesEnvelopesAndIgnoresTinyPayloads) {
  EXPECT_EQ(sendBytes(HC_AGREEMENT_TEXT, envelope("{\\rtf1 Terms}")), 1);
  EXPECT_EQ(rig.runtime->channelState().agreementText, "{\\rtf1 Terms}");
  EXPECT_EQ(sendBytes(HC_AGREEMENT_TEXT, "ok"), 1);
  EXPECT_EQ(rig.runtime->channelState().agreementText, "{\\rtf1 Terms}");
  // Bytes that are no envelope are taken as they are.
  EXPECT_EQ(sendBytes(HC_AGREEMENT_TEXT, "plain terms"), 1);
  EXPECT_EQ(rig.runtime->channelState().agreementText, "plain terms");
}

TEST_F(HostChannelTest, SettingsAreAppliedAndTheCopyIsTheRecordAsSent) {
  SettingsRecord record;
  record.header.applicationVersion = 0x01020300;
  record.header.optionFlags = kFlagDataExchange | kFlagSaveAsExecutable;
  record.applicationName = u"Budget";
  record.authorContact = u"help@example.org";
  std::string stored, error;
  ASSERT_TRUE(writeSettings(record, &stored, &error)) << error;

  EXPECT_EQ(sendBytes(HC_SETTINGS, stored), 0);
  const Settings& settings = rig.runtime->settings();
  EXPECT_EQ(settings.applicationName, u"Budget");
  EXPECT_TRUE(settings.dataExchange);
  EXPECT_TRUE(settings.saveAsExecutable);
  EXPECT_EQ(settings.settingsCopy, stored);
  EXPECT_EQ(rig.runtime->applicationInfo().info().version, u"1.2.3");
  EXPECT_EQ(rig.runtime->aboutTemplate().at(u"AUTHOR_CONTACT"), u"help@example.org");

  // A record too short for its header changes no setting; the command still answers 0.
  EXPECT_EQ(sendBytes(HC_SETTINGS, std::string("\x68\x00\x01", 3)), 0);
  EXPECT_EQ(settings.applicationName, u"Budget");
  EXPECT_EQ(rig.runtime->shutDowns(), 0);
}

TEST_F(HostChannelTest, FunctionNamesLoadOnlyForLanguagesOtherThanEnglish) {
  FunctionCatalogue& catalogue = FunctionCatalogue::instance();
  std::string table = envelope(utf16Bytes(u"Number;German\r\n4;SUMME\r\n"));
  for (int language : {9, 40}) {
    rig.send(HC_EXCEL_LANGUAGE, 0, language);
    EXPECT_EQ(sendBytes(HC_FUNCTION_NAME_TEXTS, table), 1);
    EXPECT_EQ(*catalogue.nameOfNumber(4), u"SUM") << language;
  }
  rig.send(HC_EXCEL_LANGUAGE, 0, 7);
  EXPECT_EQ(sendBytes(HC_FUNCTION_NAME_TEXTS, table), 1);
  EXPECT_EQ(*catalogue.nameOfNumber(4), u"SUMME");
  catalogue.loadLocalisedNames(u"German", u"Number;German\r\n4;SUM\r\n");
}

TEST_F(HostChannelTest, KeywordTextsLoadForEveryLanguageButNine) {
  std::string table = envelope(utf16Bytes(u"English;German\r\nTRUE;WAHR\r\n"));
  rig.send(HC_EXCEL_LANGUAGE, 0, 9);
  EXPECT_EQ(sendBytes(HC_KEYWORD_TEXTS, table), 1);
  EXPECT_EQ(literalText(kTextTrue), u"TRUE");
  rig.send(HC_EXCEL_LANGUAGE, 0, 7);
  EXPECT_EQ(sendBytes(HC_KEYWORD_TEXTS, table), 1);
  EXPECT_EQ(literalText(kTextTrue), u"WAHR");
  resetLocaleSettings();
}

TEST_F(HostChannelTest, HostTextAndLaunchMode) {
  std::u16string text = u"Host 16";
  text.push_back(u'\0');
  EXPECT_EQ(rig.send(HC_HOST_TEXT, rig.textPayload(text), 0), 1);
  EXPECT_EQ(rig.runtime->hostInformation().hostText, u"Host 16");
  // A text without its terminator ends with its block.
  EXPECT_EQ(rig.send(HC_HOST_TEXT, rig.textPayload(u"abc"), 0), 1);
  EXPECT_EQ(rig.runtime->hostInformation().hostText, u"abc");

  // The launch mode is kept and the host program sees the message too.
  EXPECT_EQ(rig.send(HC_LAUNCH_MODE, 3, 0), RuntimeRig::kHostAnswer);
  EXPECT_EQ(rig.runtime->channelState().launchMode, 3u);
  ASSERT_EQ(rig.hostMessages.size(), 1u);
  EXPECT_EQ(rig.hostMessages[0].message, HC_LAUNCH_MODE);
}

TEST_F(HostChannelTest, StartMacrosAreNamedByWParamOneAndTwoOnly) {
  std::u16string first = u"Module1.First", second = u"Module1.Second", other = u"Other";
  auto address = [](const std::u16string& s) { return int64_t(uintptr_t(s.c_str())); };
  EXPECT_EQ(rig.send(HC_START_MACRO, 2, address(first)), 1);
  EXPECT_EQ(rig.send(HC_START_MACRO, 1, address(second)), 1);
  EXPECT_EQ(rig.send(HC_START_MACRO, 3, address(other)), 1);
  // Without a text nothing is read.
  EXPECT_EQ(rig.send(HC_START_MACRO, 1, 0), 1);
  EXPECT_EQ(rig.runtime->channelState().firstStartMacro, first);
  EXPECT_EQ(rig.runtime->channelState().secondStartMacro, second);
}

TEST_F(HostChannelTest, InProcessCommandsReachTheConnection) {
  std::u16string macro = u"Auto_Open", control = u"Option 3";
  EXPECT_EQ(rig.send(HC_QUERY_ATTACHED), 0);
  EXPECT_EQ(rig.send(HC_ATTACH_APPLICATION, 0x5000, int64_t(uintptr_t(macro.c_str()))), 1);
  EXPECT_EQ(rig.send(HC_QUERY_ATTACHED), 1);
  EXPECT_EQ(rig.send(HC_CONTROL_CHANGED, uint64_t(uintptr_t(control.c_str())), 0), 1);
  EXPECT_EQ(rig.send(HC_RANGE_CHANGED, 0x6000, 0x7000), 0);
  EXPECT_EQ(rig.log, (std::vector<std::string>{"attach 20480 Auto_Open", "controlChanged Option 3",
                                               "rangeChanged 24576 28672"}));
  EXPECT_TRUE(rig.hostMessages.empty());
}

TEST_F(HostChannelTest, StartSchedulesTheStartMacrosATenthOfASecondLater) {
  EXPECT_EQ(rig.send(HC_START), 1);
  EXPECT_EQ(rig.log, std::vector<std::string>{"startApplication"});

  std::u16string macro = u"Start";
  rig.send(HC_START_MACRO, 2, int64_t(uintptr_t(macro.c_str())));
  rig.log.clear();
  EXPECT_EQ(rig.send(HC_START), 1);
  EXPECT_EQ(rig.log, (std::vector<std::string>{"startApplication", "onTime DummyFunc13"}));
  // 10 Dec 2026 08:30 is serial 46366.354166...
  EXPECT_NEAR(rig.connection->onTimeAt, 46366.0 + 8.5 / 24 + 1.0 / 864000, 1e-9);
}

TEST_F(HostChannelTest, NoticeFromACommandShowsAWarningAndShutsDown) {
  rig.connection->startFailure = "The model needs a newer runtime.";
  EXPECT_EQ(rig.send(HC_START), 1);
  ASSERT_EQ(rig.windows.messageBoxes().size(), 1u);
  const auto& box = rig.windows.messageBoxes()[0];
  EXPECT_EQ(box.owner, WindowHandle::kNoWindow);
  EXPECT_EQ(box.text, u"The model needs a newer runtime.");
  EXPECT_EQ(box.caption, tableText(TextEntry::kNoticeCaption));
  EXPECT_EQ(box.style & 0xF0, kMbIconWarning);
  EXPECT_EQ(rig.runtime->shutDowns(), 1);
  EXPECT_EQ(rig.runtime->model(), nullptr);
}

TEST_F(HostChannelTest, DeferredActions) {
  struct Case {
    uint64_t action;
    int64_t argument;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {DEFER_RUN_START_MACROS, 0, {"runStartMacros"}},
      {DEFER_RECALCULATE, 1, {"recalculate full"}},
      {DEFER_RECALCULATE, 0, {"recalculate changed"}},
      {DEFER_REGISTER_UNDO, 0, {}},  // nothing to undo
      {99, 0, {}},
  };
  for (const Case& c : cases) {
    rig.log.clear();
    EXPECT_EQ(rig.send(HC_DEFERRED, c.action, c.argument), kDeferredAnswer) << c.action;
    EXPECT_EQ(rig.log, c.log) << c.action;
  }
  EXPECT_FALSE(rig.runtime->calculation().undoRegistered);

  rig.runtime->calculation().undoList.push_back(UndoEntry{});
  rig.log.clear();
  EXPECT_EQ(rig.send(HC_DEFERRED, DEFER_REGISTER_UNDO, 0), kDeferredAnswer);
  EXPECT_TRUE(rig.runtime->calculation().undoRegistered);
  ASSERT_EQ(rig.log.size(), 1u);
  EXPECT_EQ(rig.log[0],
            "onUndo " + testing::RecordingConnection::narrow(tableText(TextEntry::kUndoCaption)) +
                " DummyFunc4");
  EXPECT_TRUE(rig.hostMessages.empty());
}

TEST_F(HostChannelTest, RecalculationRequestDuringACycleGoesToTheHostProgram) {
  rig.runtime->calculation().recalculating = true;
  EXPECT_EQ(rig.send(HC_DEFERRED, DEFER_RECALCULATE, 1), RuntimeRig::kHostAnswer);
  EXPECT_TRUE(rig.log.empty());
  ASSERT_EQ(rig.hostMessages.size(), 1u);
  // Other actions still run.
  EXPECT_EQ(rig.send(HC_DEFERRED, DEFER_RUN_START_MACROS, 0), kDeferredAnswer);
}

TEST_F(HostChannelTest, QuitShutsDownAndEndsTheProcess) {
  rig.send(HC_ATTACH_APPLICATION, 0x5000, 0);
  sendText(HC_APPLICATION_PATH, u"C:\\Apps\\Budget.exe");
  rig.log.clear();
  EXPECT_EQ(rig.send(HC_DEFERRED, DEFER_QUIT, 0), kDeferredAnswer);
  EXPECT_EQ(rig.runtime->shutDowns(), 1);
  EXPECT_EQ(rig.system.exitCode(), 0);
  EXPECT_EQ(rig.log, std::vector<std::string>{"disconnect closed"});
  EXPECT_EQ(rig.system.detachedProcesses().size(), 1u);
}

TEST_F(HostChannelTest, CloseCommandLetsTheWorkbookEventsThrough) {
  rig.send(HC_ATTACH_APPLICATION, 0x5000, 0);
  rig.connection->events = false;
  EXPECT_EQ(rig.send(kWmSysCommand, kScClose, 0), RuntimeRig::kHostAnswer);
  EXPECT_EQ(rig.connection->events, true);

  rig.runtime->settings().saveAsExecutable = true;
  rig.connection->events = false;
  rig.send(kWmSysCommand, kScClose, 0);
  EXPECT_EQ(rig.connection->events, false);
}

}  // namespace
}  // namespace korvel
