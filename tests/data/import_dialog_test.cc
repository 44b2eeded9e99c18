#include "data/import_dialog.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "tests/runtime/runtime_test_support.h"

namespace korvel {
namespace {

class RecordingDialogs : public Dialogs {
 public:
  std::optional<std::u16string> fileAnswer;
  std::optional<SystemColour> colourAnswer;
  std::vector<FileDialogRequest> fileRequests;
  std::vector<std::array<SystemColour, 16>> customColours;

  std::optional<std::u16string> chooseFile(const FileDialogRequest& request) override {
    fileRequests.push_back(request);
    return fileAnswer;
  }
  std::optional<SystemColour> chooseColour(WindowHandle,
                                           const std::array<SystemColour, 16>& custom) override {
    customColours.push_back(custom);
    return colourAnswer;
  }
  int showMessageDialog(WindowHandle, const MessageDialogView&) override { return 1; }
  int showImportDialog(WindowHandle, ImportDialogController&) override { return 2; }
};

class ImportDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The rig builds its runtime without dialogs; the runtime reads its ports from its own copy
    // of the platform.
    const_cast<Platform&>(rig.runtime->platform()).dialogs = &dialogs;
    rig.runtime->settings().applicationName = u"Demo";
  }
  testing::RuntimeRig rig;
  RecordingDialogs dialogs;
};

TEST_F(ImportDialogTest, TitleAndIconComeFromTheApplication) {
  rig.runtime->channelState().applicationIcon = IconHandle(5);
  ImportDataDialog dialog(*rig.runtime);
  EXPECT_EQ(dialog.title(), u"Import Data for Demo Application");
  EXPECT_EQ(dialog.icon(), IconHandle(5));
  rig.runtime->settings().applicationName.clear();
  EXPECT_EQ(dialog.title(), u"Dialog");
}

TEST_F(ImportDialogTest, AnEmptyPathKeepsTheDialogOpenWithAMessage) {
  ImportDataDialog dialog(*rig.runtime);
  const WindowHandle window = WindowHandle(42);
  EXPECT_FALSE(dialog.import(u"", window));
  ASSERT_EQ(rig.windows.messageBoxes().size(), 1u);
  const auto& box = rig.windows.messageBoxes()[0];
  EXPECT_EQ(box.owner, window);
  EXPECT_EQ(box.text, u"Please select a file for import");
  EXPECT_EQ(box.caption, u"Load Data for Demo Application");
  EXPECT_EQ(box.style, kMbOk | kMbIconInformation);
  EXPECT_TRUE(dialog.path().empty());
}

TEST_F(ImportDialogTest, ImportTakesTheEditTextCutToTheBoxAndCancelClearsIt) {
  ImportDataDialog dialog(*rig.runtime);
  std::u16string longPath(600, u'p');
  EXPECT_TRUE(dialog.import(longPath, WindowHandle::kNoWindow));
  EXPECT_EQ(dialog.path(), longPath.substr(0, 511));
  EXPECT_TRUE(dialog.import(u"/x/data.dat", WindowHandle::kNoWindow));
  EXPECT_EQ(dialog.path(), u"/x/data.dat");
  dialog.cancel();
  EXPECT_TRUE(dialog.path().empty());
  EXPECT_TRUE(rig.windows.messageBoxes().empty());
}

TEST_F(ImportDialogTest, BrowseAsksForAnExistingDataFile) {
  ImportDataDialog dialog(*rig.runtime);
  dialogs.fileAnswer = u"/x/chosen.dat";
  EXPECT_EQ(dialog.browse(WindowHandle(9)), u"/x/chosen.dat");
  ASSERT_EQ(dialogs.fileRequests.size(), 1u);
  const FileDialogRequest& request = dialogs.fileRequests[0];
  EXPECT_EQ(request.owner, WindowHandle(9));
  EXPECT_FALSE(request.save);
  EXPECT_EQ(request.title, u"Import Data for Demo Application");
  EXPECT_EQ(request.filterName, u"Data Files");
  EXPECT_EQ(request.filterPattern, u"*.dat");
  EXPECT_TRUE(request.initialPath.empty());
  EXPECT_TRUE(request.fileMustExist);
  EXPECT_TRUE(request.hideReadOnly);
}

TEST_F(ImportDialogTest, ColourButtonsKeepTheChosenColourPerSwatch) {
  ImportDataDialog dialog(*rig.runtime);
  EXPECT_EQ(dialog.swatch(true), std::nullopt);
  EXPECT_EQ(dialog.swatch(false), std::nullopt);

  dialogs.colourAnswer = 0x99CCFF;
  dialog.chooseColour(false, WindowHandle(3));
  EXPECT_EQ(dialog.fontColour(), 0x99CCFFu);
  EXPECT_EQ(dialog.swatch(false), 0x99CCFFu);
  EXPECT_EQ(dialog.backgroundColour(), std::nullopt);
  // A cancelled chooser keeps the default.
  dialogs.colourAnswer = std::nullopt;
  dialog.chooseColour(true, WindowHandle(3));
  EXPECT_EQ(dialog.backgroundColour(), std::nullopt);

  ASSERT_EQ(dialogs.customColours.size(), 2u);
  EXPECT_EQ(dialogs.customColours[0][0], 0xCC99FFu);
  EXPECT_EQ(dialogs.customColours[0][14], 0x663399u);
  EXPECT_EQ(dialogs.customColours[0][15], 0xC0C0C0u);
}

TEST(ImportDialogWithoutDialogsTest, ChoosersAnswerCancelled) {
  testing::RuntimeRig rig;
  ImportDataDialog dialog(*rig.runtime);
  EXPECT_EQ(dialog.browse(WindowHandle::kNoWindow), std::nullopt);
  dialog.chooseColour(true, WindowHandle::kNoWindow);
  EXPECT_EQ(dialog.backgroundColour(), std::nullopt);
}

}  // namespace
}  // namespace korvel
