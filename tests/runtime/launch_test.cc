// Whole start-ups: the launcher stand-in delivers an application to the runtime through the
// headless window system, as the launcher executable and the workbook's opening code would.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler/model_builder.h"
#include "compiler/workbook_text.h"
#include "engine/locale_settings.h"
#include "functions/function_catalogue.h"
#include "model/address.h"
#include "model/envelope.h"
#include "tests/runtime/runtime_test_support.h"
#include "tools/korvel/launcher.h"

namespace korvel {
namespace {

using testing::RuntimeRig;

constexpr char kWorkbook[] =
    "[Sheet1]\n"
    "A1: 2\n"
    "A2: 5\n"
    "A3: =A1*A2\n"
    "A4: =SUM(A1:A3)\n";

// The model of kWorkbook as the launcher carries it, its content cut into `parts` envelopes.
std::vector<std::string> modelParts(Files& files, size_t parts) {
  Workbook book;
  std::vector<std::string> errors;
  CompiledModel model;
  EXPECT_TRUE(readWorkbookText(kWorkbook, &book, &errors));
  EXPECT_TRUE(buildModel(book, &FunctionCatalogue::instance(), model, &errors));
  std::vector<std::string> envelopes;
  std::string error;
  EXPECT_TRUE(modelEnvelopes(model, files, &envelopes, &error)) << error;
  std::string content;
  for (const std::string& e : envelopes) decodeEnvelope(e, &content);
  std::vector<std::string> pieces;
  size_t step = content.size() / parts + 1;
  for (size_t at = 0; at < content.size(); at += step) {
    std::string piece;
    EXPECT_TRUE(encodeEnvelope(content.substr(at, step), &piece));
    pieces.push_back(piece);
  }
  return pieces;
}

class LaunchTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(rig.windows.livePayloads(), 0u);
    EXPECT_EQ(rig.windows.faultyPayloadReleases(), 0);
    resetLocaleSettings();
  }

  RuntimeRig rig;
  Launcher launcher{rig.windows};
};

TEST_F(LaunchTest, AWholeStartUpReachesEverySubsystemInOrder) {
  SettingsRecord record;
  record.header.applicationVersion = 0x02050100;
  record.header.optionFlags = kFlagDataExchange;
  record.applicationName = u"Budget";
  LaunchPackage package;
  package.interfaceLanguage = 0x0407;
  std::string error;
  ASSERT_TRUE(writeSettings(record, &package.settings, &error)) << error;
  package.applicationPath = u"C:\\Apps\\Budget.exe";
  package.startupDataPath = u"C:\\Data\\start.dat";
  package.exportDataPath = u"C:\\Data\\export.dat";
  package.agreementText = "Terms of use";
  package.workbookPath = u"C:\\Temp\\wb1.xls";
  package.runtimeModulePath = u"C:\\Temp\\rt1.dll";
  package.hostText = u"Host";
  package.keywordTexts = u"English;German\r\nTRUE;WAHR\r\n";
  package.model = modelParts(rig.files, 3);
  ASSERT_EQ(package.model.size(), 3u);

  LaunchResult result = launcher.launch(package, 0x1234, u"Auto_Open");
  ASSERT_TRUE(result.ok) << result.error;
  for (const SentCommand& sent : result.sent) {
    int64_t expected = sent.message == HC_SETTINGS ? 0 : 1;
    if (sent.message == HC_LAUNCH_MODE) expected = RuntimeRig::kHostAnswer;
    EXPECT_EQ(sent.answer, expected) << sent.message;
  }
  EXPECT_EQ(result.sent.back().message, HC_START);

  Runtime& runtime = *rig.runtime;
  EXPECT_EQ(runtime.channelState().excelLanguage, 7);
  EXPECT_EQ(runtime.settings().applicationName, u"Budget");
  EXPECT_EQ(runtime.channelState().agreementText, "Terms of use");
  EXPECT_EQ(runtime.channelState().workbookPath, u"C:\\Temp\\wb1.xls");
  EXPECT_EQ(runtime.hostInformation().hostText, u"Host");
  EXPECT_EQ(literalText(kTextTrue), u"WAHR");
  // The three parts and the end marker load the model once.
  EXPECT_EQ(runtime.deliveryStream(), nullptr);
  ASSERT_NE(runtime.model(), nullptr);
  EXPECT_EQ(runtime.model()->cellCount(), 4u);
  ASSERT_NE(runtime.model()->findCell(parseCell(u"A4", 0)), nullptr);
  EXPECT_EQ(rig.log, (std::vector<std::string>{"attach 4660 Auto_Open", "startApplication"}));
  EXPECT_TRUE(rig.windows.messageBoxes().empty());

  // A late part or end marker finds no delivery stream and changes nothing.
  LaunchPackage late;
  late.model = modelParts(rig.files, 1);
  ASSERT_TRUE(launcher.deliver(late).ok);
  EXPECT_EQ(runtime.model()->cellCount(), 4u);
}

TEST_F(LaunchTest, EndMarkerWithoutPartsLeavesTheModelEmpty) {
  EXPECT_EQ(rig.send(HC_MODEL_PART, 0, 0), 1);
  EXPECT_EQ(rig.runtime->deliveryStream(), nullptr);
  EXPECT_EQ(rig.runtime->model()->cellCount(), 0u);
}

TEST_F(LaunchTest, AModelThatDoesNotLoadLeavesTheApplicationRunning) {
  LaunchPackage package;
  package.model = modelParts(rig.files, 2);
  // The second part loses its tail: the loader refuses the stream.
  std::string content;
  decodeEnvelope(package.model[1], &content);
  content.resize(content.size() / 2);
  ASSERT_TRUE(encodeEnvelope(content, &package.model[1]));

  LaunchResult result = launcher.deliver(package);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.sent.back().message, HC_MODEL_PART);
  EXPECT_EQ(result.sent.back().answer, 1);
  EXPECT_EQ(rig.runtime->model()->cellCount(), 0u);
  EXPECT_EQ(rig.runtime->shutDowns(), 0);
  EXPECT_TRUE(rig.windows.messageBoxes().empty());
  // Delivering again is ignored: the stream is gone.
  EXPECT_EQ(rig.runtime->deliveryStream(), nullptr);
}

}  // namespace
}  // namespace korvel
