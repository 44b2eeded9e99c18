// A whole application saved by its user on the headless host: the edits reach the application
// file, and the file starts again with them; Save As makes a second application that the first
// one no longer writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "compiler/workbook_text.h"
#include "engine/locale_settings.h"
#include "hosts/headless/disk_files.h"
#include "hosts/headless/headless_locale.h"
#include "hosts/headless/system_clock.h"
#include "tests/scratch_directory.h"
#include "tools/korvel/application_file.h"
#include "tools/korvel/headless_session.h"
#include "util/text.h"

namespace korvel {
namespace {

class ApplicationSaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    installLocale(&locale_, &clock_);
    directory_ = makeScratchDirectory("korvel-save");
    // The workbooks the launcher unpacks and the runtime moves go to the temporary directory:
    // this test's own, removed with it.
    if (const char* previous = std::getenv("TMPDIR")) previousTemporary_ = previous;
    setenv("TMPDIR", directory_.c_str(), 1);
    files_ = std::make_unique<DiskFiles>();
    Workbook workbook;
    std::vector<std::string> errors;
    ASSERT_TRUE(readWorkbookText("[Sheet1]\nA1: 2\nA2: =A1*10\n", &workbook, &errors));
    ApplicationOptions options;
    options.name = u"Budget";
    options.saveAsExecutable = true;
    std::vector<ResourceEntry> entries;
    std::string error;
    ASSERT_TRUE(buildApplicationResources(workbook, {}, options, *files_, &entries, &error))
        << error;
    path_ = fromUtf8((directory_ / "Budget.kvapp").string());
    ASSERT_TRUE(files_->writeAll(path_, encodeApplicationFile(entries)));
  }
  void TearDown() override {
    resetLocaleSettings();
    if (previousTemporary_) {
      setenv("TMPDIR", previousTemporary_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }

  // Starts the application file in a session of its own and reads two cells.
  void expectStartsWith(const std::u16string& path, std::u16string_view a1,
                        std::u16string_view a2) {
    HeadlessSession session(true);
    std::string error;
    ASSERT_TRUE(session.startApplication(path, {}, &error)) << error;
    EXPECT_EQ(session.display(u"A1"), a1);
    EXPECT_EQ(session.display(u"A2"), a2);
  }

  HeadlessLocale locale_;
  SystemClock clock_;
  std::optional<std::string> previousTemporary_;
  std::filesystem::path directory_;
  std::u16string path_;
  std::unique_ptr<DiskFiles> files_;
};

TEST_F(ApplicationSaveTest, SavedEditsStartAgainFromTheApplicationFile) {
  {
    HeadlessSession session(true);
    std::string error;
    ASSERT_TRUE(session.startApplication(path_, {}, &error)) << error;
    ASSERT_TRUE(session.type(u"A1", u"5"));
    EXPECT_EQ(session.display(u"A2"), u"50");
    ASSERT_TRUE(session.program().saveWorkbook(session.workbookName()));
  }
  expectStartsWith(path_, u"5", u"50");
}

TEST_F(ApplicationSaveTest, SaveAsMakesASecondApplication) {
  std::u16string copy = fromUtf8((directory_ / "Copy").string());
  {
    HeadlessSession session(true);
    std::string error;
    ASSERT_TRUE(session.startApplication(path_, {}, &error)) << error;
    ASSERT_TRUE(session.type(u"A1", u"7"));
    session.runtime().packaging().saveApplicationAs(copy);
    EXPECT_EQ(session.runtime().channelState().applicationPath, copy + u".kvapp");
    // From now on a plain save writes the copy. The program knows the workbook by its new name.
    ASSERT_TRUE(session.program().typeIntoCell(u"Copy.xlsx", u"Sheet1", u"A1", u"8"));
    session.runMessages();
    ASSERT_TRUE(session.program().saveWorkbook(u"Copy.xlsx"));
  }
  expectStartsWith(copy + u".kvapp", u"8", u"80");
  expectStartsWith(path_, u"2", u"20");
}

}  // namespace
}  // namespace korvel
