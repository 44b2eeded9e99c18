// Saving a running application into its application file, in place and as a copy, against fake
// program objects, files in memory and the headless host's resource container.
#include "packaging/application_packaging.h"

#include <gtest/gtest.h>

#include <bit>
#include <memory>
#include <string>
#include <vector>

#include "excel/dispatch_ids.h"
#include "excel/excel_connection.h"
#include "hosts/headless/headless_dialogs.h"
#include "hosts/headless/headless_resources.h"
#include "hosts/headless/headless_system.h"
#include "hosts/headless/headless_window_system.h"
#include "hosts/headless/memory_files.h"
#include "hosts/headless/system_clock.h"
#include "model/chunk_stream.h"
#include "model/envelope.h"
#include "model/model_stream.h"
#include "packaging/application_resources.h"
#include "runtime/runtime.h"
#include "runtime/text_table.h"
#include "tests/excel/fake_objects.h"
#include "util/text.h"

namespace korvel {
namespace {

using testing::FakeObject;

constexpr uint32_t kTag = 0x12345678;
constexpr char16_t kApplicationPath[] = u"/apps/Budget.kvapp";
constexpr char16_t kWorkbookPath[] = u"/tmp/Budget.xlsx";

std::string envelope(std::string_view content) {
  std::string out;
  EXPECT_TRUE(encodeEnvelope(content, &out));
  return out;
}

std::string decoded(std::string_view stored) {
  std::string out;
  decodeEnvelope(stored, &out);
  return out;
}

std::string narrow(std::u16string_view text) { return toUtf8(text); }

// A model writer that cuts the model into the given chunks.
ApplicationPackaging::ModelWriter chunksOf(std::vector<std::string> contents) {
  return [contents](ChunkStream& out) {
    for (const std::string& content : contents) out.appendChunk(content);
  };
}

class PackagingTest : public ::testing::Test {
 protected:
  PackagingTest()
      : system_(&files_), clock_(LocalTime{2026, 12, 10, 9, 0, 0, 0}), resources_(files_) {
    main_ = windows_.createWindow({u"XLMAIN", u"", WindowHandle::kNoWindow, 0});
    platform_.files = &files_;
    platform_.windows = &windows_;
    platform_.system = &system_;
    platform_.clock = &clock_;
    platform_.resources = &resources_;
    platform_.dialogs = &dialogs_;
    runtime_ = std::make_unique<Runtime>(platform_);
    runtime_->setMainWindow(main_);
    connection_ = std::make_unique<ExcelConnection>(*runtime_);

    application_ = std::make_shared<FakeObject>("application");
    workbook_ = std::make_shared<FakeObject>("workbook");
    auto& app = application_->properties;
    app[dispid::kEnableEvents] = Variant::boolean(true);
    app[dispid::kScreenUpdating] = Variant::boolean(true);
    app[dispid::kDisplayAlerts] = Variant::boolean(true);
    workbook_->properties[dispid::kFullName] = Variant::text(kWorkbookPath);
    workbook_->properties[dispid::kFileFormat] = Variant::i4(51);
    // Save writes the current values into the workbook's file; SaveAs adds the extension of the
    // format to a name without one, as the program does.
    workbook_->methods[dispid::kSave] = [this](std::span<Variant>, Variant*) {
      files_.writeAll(fullName(), workbookBytes);
      return kSOk;
    };
    workbook_->methods[dispid::kSaveAs] = [this](std::span<Variant> arguments, Variant*) {
      std::u16string name = arguments[0].text();
      if (name.find(u'.', name.find_last_of(u'/') + 1) == std::u16string::npos) name += u".xlsx";
      workbook_->properties[dispid::kFullName] = Variant::text(name);
      files_.writeAll(name, workbookBytes);
      return kSOk;
    };
    connection_->application() = ExcelObject(application_);
    connection_->workbook() = ExcelObject(workbook_);

    runtime_->settings().applicationName = u"Budget";
    runtime_->settings().settingsCopy = std::string(8, '\0') + "\x78\x56\x34\x12";
    runtime_->channelState().applicationPath = kApplicationPath;
    runtime_->channelState().workbookPath = kWorkbookPath;
    files_.writeAll(kWorkbookPath, "launched workbook");
    original_ = {{kSettingsResourceType, 1, kResourceLanguageEnglish, "settings record"},
                 {workbookResourceType(), kWorkbookResourceId, kResourceLanguageEnglish,
                  envelope("old workbook")},
                 {kModelResourceType, kFirstModelResourceId, kResourceLanguageEnglish,
                  envelope("old model")}};
    files_.writeAll(kApplicationPath, encodeApplicationFile(original_));

    packaging_ = std::make_unique<ApplicationPackaging>(*runtime_, *connection_);
    packaging_->setModelWriter(chunksOf({"model one"}));
  }

  std::u16string fullName() { return workbook_->properties[dispid::kFullName].text(); }

  std::vector<ResourceEntry> entriesOf(const std::u16string& path) {
    std::vector<ResourceEntry> entries;
    std::string error;
    EXPECT_TRUE(readApplicationFile(files_, path, &entries, &error)) << error;
    return entries;
  }

  // The workbook resource's content: the stored tag, then the workbook file's bytes.
  void expectWorkbookResource(const std::u16string& path, const std::string& bytes) {
    std::vector<ResourceEntry> entries = entriesOf(path);
    const ResourceEntry* workbook = findResource(entries, u"KVWORKBOOK", kWorkbookResourceId);
    ASSERT_NE(workbook, nullptr);
    EXPECT_EQ(workbook->language, kResourceLanguageEnglish);
    uint32_t rotated = std::rotr(kTag, 5);
    std::string tag;
    for (int i = 0; i < 4; ++i) tag.push_back(char((rotated >> (8 * i)) & 0xFF));
    EXPECT_EQ(decoded(workbook->bytes), tag + bytes);
  }

  int boxes() const { return int(windows_.messageBoxes().size()); }

  MemoryFiles files_;
  HeadlessSystem system_;
  FixedClock clock_;
  HeadlessResources resources_;
  HeadlessWindowSystem windows_;
  HeadlessDialogs dialogs_;
  Platform platform_;
  WindowHandle main_;
  std::unique_ptr<Runtime> runtime_;
  std::unique_ptr<ExcelConnection> connection_;
  std::shared_ptr<FakeObject> application_;
  std::shared_ptr<FakeObject> workbook_;
  std::unique_ptr<ApplicationPackaging> packaging_;
  std::vector<ResourceEntry> original_;
  std::string workbookBytes = "workbook with the user's values";
};

TEST_F(PackagingTest, SaveInPlaceWritesWorkbookAndEveryModelChunkKeepingOtherResources) {
  packaging_->setModelWriter(chunksOf({"first", "second", "third"}));
  ASSERT_TRUE(packaging_->saveInPlace());

  EXPECT_EQ(workbook_->count("call 0x11B"), 1);
  expectWorkbookResource(kApplicationPath, workbookBytes);
  std::vector<ResourceEntry> entries = entriesOf(kApplicationPath);
  EXPECT_NE(findResource(entries, kSettingsResourceType, 1), nullptr);
  const char* expected[] = {"first", "second", "third"};
  for (uint32_t i = 0; i < 3; ++i) {
    const ResourceEntry* chunk = findResource(entries, u"EXTRSC", 1200 + i);
    ASSERT_NE(chunk, nullptr) << i;
    EXPECT_EQ(decoded(chunk->bytes), expected[i]);
  }
  EXPECT_EQ(findResource(entries, u"EXTRSC", 1203), nullptr);
  // The program's settings are back, and no copy or spill file stays behind.
  for (int32_t member : {dispid::kEnableEvents, dispid::kScreenUpdating, dispid::kDisplayAlerts}) {
    EXPECT_TRUE(application_->properties[member].boolean()) << member;
  }
  for (const auto& [path, bytes] : files_.files()) {
    if (path.rfind(u"/tmp/", 0) == 0) {
      EXPECT_EQ(path, kWorkbookPath);
    }
  }
  EXPECT_EQ(boxes(), 0);
}

TEST_F(PackagingTest, ChunksOfALargerModelSavedBeforeAreRemoved) {
  packaging_->setModelWriter(chunksOf({"a", "b", "c", "d"}));
  ASSERT_TRUE(packaging_->saveInPlace());
  packaging_->setModelWriter(chunksOf({"smaller"}));
  ASSERT_TRUE(packaging_->saveInPlace());

  std::vector<ResourceEntry> entries = entriesOf(kApplicationPath);
  const ResourceEntry* first = findResource(entries, u"EXTRSC", 1200);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(decoded(first->bytes), "smaller");
  for (uint32_t id = 1201; id <= 1203; ++id) {
    EXPECT_EQ(findResource(entries, u"EXTRSC", id), nullptr) << id;
  }
  EXPECT_NE(findResource(entries, kSettingsResourceType, 1), nullptr);
}

TEST_F(PackagingTest, RealModelWriterStoresTheStreamItWrites) {
  packaging_->setModelWriter({});
  ASSERT_TRUE(packaging_->saveInPlace());
  ChunkStream expected(files_);
  writeModel(*runtime_->model(), expected);
  expected.flush();
  std::vector<ResourceEntry> entries = entriesOf(kApplicationPath);
  for (uint32_t i = 0; i < expected.chunkCount(); ++i) {
    const ResourceEntry* chunk = findResource(entries, u"EXTRSC", 1200 + i);
    ASSERT_NE(chunk, nullptr);
    EXPECT_EQ(decoded(chunk->bytes), decoded(expected.chunk(i).storedEnvelope()));
  }
}

TEST_F(PackagingTest, OlderFormatTurnsCompatibilityCheckOffAndFailedSaveStillStores) {
  workbook_->properties[dispid::kFileFormat] = Variant::i4(kFileFormatExcel8);
  workbook_->failing.insert(dispid::kSave);
  ASSERT_TRUE(packaging_->saveInPlace());

  ASSERT_EQ(workbook_->count("put 0x9E0"), 1);
  EXPECT_FALSE(workbook_->properties[dispid::kCheckCompatibility].boolean());
  // The file as it was before the failed save goes into the application.
  expectWorkbookResource(kApplicationPath, "launched workbook");
  for (int32_t member : {dispid::kEnableEvents, dispid::kScreenUpdating, dispid::kDisplayAlerts}) {
    EXPECT_TRUE(application_->properties[member].boolean()) << member;
  }
}

TEST_F(PackagingTest, ModelNeedingAnIdAboveTheLastIsRefusedWithNothingWritten) {
  struct Case {
    size_t chunks;
    bool stored;
  };
  for (Case c : {Case{201, true}, Case{202, false}}) {
    SCOPED_TRACE(c.chunks);
    files_.writeAll(kApplicationPath, encodeApplicationFile(original_));
    std::string before;
    files_.readAll(kApplicationPath, &before);
    int boxesBefore = boxes();
    packaging_->setModelWriter(chunksOf(std::vector<std::string>(c.chunks, "chunk")));

    EXPECT_EQ(packaging_->store(), c.stored);
    std::vector<ResourceEntry> entries = entriesOf(kApplicationPath);
    if (c.stored) {
      EXPECT_NE(findResource(entries, u"EXTRSC", 1400), nullptr);
      EXPECT_EQ(boxes(), boxesBefore);
    } else {
      std::string after;
      files_.readAll(kApplicationPath, &after);
      EXPECT_EQ(after, before);
      ASSERT_EQ(boxes(), boxesBefore + 1);
      EXPECT_EQ(windows_.messageBoxes().back().caption, u"Application Budget");
    }
  }
}

TEST_F(PackagingTest, LockedFileIsWaitedForThenWrittenRegardless) {
  struct Case {
    int lockedFor;
    int sleeps;
  };
  for (Case c : {Case{0, 0}, Case{3, 3}, Case{-1, 1000}}) {
    SCOPED_TRACE(c.lockedFor);
    FixedClock clock(LocalTime{});
    platform_.clock = &clock;
    packaging_ = nullptr;
    connection_ = nullptr;
    runtime_ = nullptr;
    runtime_ = std::make_unique<Runtime>(platform_);
    connection_ = std::make_unique<ExcelConnection>(*runtime_);
    runtime_->channelState().applicationPath = kApplicationPath;
    runtime_->channelState().workbookPath = kWorkbookPath;
    ApplicationPackaging packaging(*runtime_, *connection_);
    packaging.setModelWriter(chunksOf({"m"}));
    files_.lock(kApplicationPath, c.lockedFor);

    EXPECT_TRUE(packaging.store());
    EXPECT_EQ(clock.sleeps(), c.sleeps);
    files_.lock(kApplicationPath, 0);
  }
}

TEST_F(PackagingTest, SaveAsAppendsTheApplicationExtensionAndMovesTheApplication) {
  struct Case {
    std::u16string applicationPath;
    std::u16string requested;
    std::u16string target;
    std::u16string workbook;  // as the program names it
    bool replaces = false;    // the target exists and the user agrees to replace it
  };
  const Case cases[] = {
      {u"/apps/Budget.kvapp", u"/out/New", u"/out/New.kvapp", u"/tmp/New.xlsx"},
      {u"/apps/Budget.kvapp", u"/out/Other.KVAPP", u"/out/Other.KVAPP", u"/tmp/Other.xlsx"},
      {u"/apps/Budget.kvapp", u"/out/Tool.exe", u"/out/Tool.exe.kvapp", u"/tmp/Tool.exe"},
      {u"C:\\Apps\\Budget.exe", u"C:\\Apps\\New", u"C:\\Apps\\New.exe", u"/tmp/New.xlsx"},
      {u"/apps/Budget.kvapp", u"/out/Old", u"/out/Old.kvapp", u"/tmp/Old.xlsx", true},
  };
  // Large enough that the copy takes several blocks.
  original_.push_back({u"PADDING", 7, kResourceLanguageEnglish, std::string(4500000, 'p')});
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.target));
    files_.writeAll(c.applicationPath, encodeApplicationFile(original_));
    files_.writeAll(kWorkbookPath, "launched workbook");
    workbook_->properties[dispid::kFullName] = Variant::text(kWorkbookPath);
    runtime_->channelState().applicationPath = c.applicationPath;
    if (c.replaces) {
      files_.writeAll(c.target, "a file of the same name");
      windows_.queueMessageBoxAnswer(kIdYes);
    }

    ASSERT_TRUE(packaging_->saveAs(c.requested));
    EXPECT_EQ(runtime_->channelState().applicationPath, c.target);
    std::vector<ResourceEntry> entries = entriesOf(c.target);
    const ResourceEntry* padding = findResource(entries, u"PADDING", 7);
    ASSERT_NE(padding, nullptr);
    EXPECT_EQ(padding->bytes, original_.back().bytes);
    expectWorkbookResource(c.target, workbookBytes);
    // The running application's file is left as it was.
    EXPECT_EQ(entriesOf(c.applicationPath), original_);
    // The workbook moved to the temporary directory under the new name; the old file is gone.
    EXPECT_EQ(runtime_->channelState().workbookPath, c.workbook);
    EXPECT_FALSE(files_.exists(kWorkbookPath));
    files_.remove(runtime_->channelState().workbookPath);
  }
  EXPECT_EQ(runtime_->channelState().applicationDirectory, u"/out");
  EXPECT_EQ(boxes(), 1);
  EXPECT_TRUE(application_->properties[dispid::kEnableEvents].boolean());
  EXPECT_TRUE(application_->properties[dispid::kDisplayAlerts].boolean());
}

TEST_F(PackagingTest, SaveAsPicksAWorkbookNameNoFileTakes) {
  struct Case {
    std::vector<std::u16string> existing;
    std::u16string workbook;
  };
  const Case cases[] = {
      {{}, u"/tmp/Sales"},
      {{u"/tmp/Sales", u"/tmp/Sales.xls"}, u"/tmp/Sales(1)"},
      {{u"/tmp/Sales.xlsx", u"/tmp/Sales(1).xls"}, u"/tmp/Sales(2)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.workbook));
    for (const std::u16string& path : c.existing) files_.writeAll(path, "taken");
    files_.remove(u"/out/Sales.kvapp");
    runtime_->channelState().applicationPath = kApplicationPath;
    workbook_->properties[dispid::kFullName] = Variant::text(kWorkbookPath);
    files_.writeAll(kWorkbookPath, "launched workbook");

    ASSERT_TRUE(packaging_->saveAs(u"/out/Sales"));
    EXPECT_EQ(runtime_->channelState().workbookPath, c.workbook + u".xlsx");
    for (const std::u16string& path : c.existing) EXPECT_EQ(files_.files().at(path), "taken");
    for (const std::u16string& path : c.existing) files_.remove(path);
    files_.remove(c.workbook + u".xlsx");
  }
}

TEST_F(PackagingTest, SaveAsOntoTheRunningFileAsksThenSavesWithoutCopying) {
  // No: nothing happens.
  windows_.queueMessageBoxAnswer(kIdNo);
  EXPECT_FALSE(packaging_->saveAs(u"/apps/Budget"));
  ASSERT_EQ(boxes(), 1);
  EXPECT_EQ(windows_.messageBoxes()[0].text,
            u"The file '/apps/Budget.kvapp' already exists. Do you want to replace the existing "
            u"file?");
  EXPECT_EQ(windows_.messageBoxes()[0].caption, u"Application Budget");
  EXPECT_EQ(windows_.messageBoxes()[0].style, kMbYesNo | kMbIconWarning);
  EXPECT_EQ(entriesOf(kApplicationPath), original_);
  EXPECT_EQ(workbook_->count("call 0x11C"), 0);

  // Yes: the workbook is saved as the temporary directory + the application's name; the program
  // names it as it was, so the file is kept, and the running file gets the resources.
  windows_.queueMessageBoxAnswer(kIdYes);
  ASSERT_TRUE(packaging_->saveAs(u"/apps/Budget"));
  ASSERT_EQ(workbook_->count("call 0x11C"), 1);
  size_t saveAs = 0;
  while (workbook_->calls[saveAs] != "call 0x11C") ++saveAs;
  ASSERT_EQ(workbook_->callArguments[saveAs].size(), 2u);
  EXPECT_EQ(workbook_->callArguments[saveAs][0].text(), u"/tmp/Budget");
  EXPECT_EQ(workbook_->callArguments[saveAs][1].integer(), 51);
  EXPECT_TRUE(files_.exists(kWorkbookPath));
  EXPECT_EQ(runtime_->channelState().applicationPath, kApplicationPath);
  expectWorkbookResource(kApplicationPath, workbookBytes);
}

TEST_F(PackagingTest, FailedCopyLeavesTheApplicationWhereItWas) {
  files_.setFailWrites(true);
  EXPECT_FALSE(packaging_->saveAs(u"/out/New"));
  files_.setFailWrites(false);
  EXPECT_EQ(runtime_->channelState().applicationPath, kApplicationPath);
  EXPECT_EQ(runtime_->channelState().workbookPath, kWorkbookPath);
  EXPECT_FALSE(files_.exists(u"/out/New.kvapp"));
  EXPECT_EQ(workbook_->count("call 0x11C"), 0);
}

TEST_F(PackagingTest, ReadOnlyFileWarnsAndOffersSaveAs) {
  files_.setReadOnly(kApplicationPath, true);
  dialogs_.queueFileAnswer(std::nullopt);
  EXPECT_FALSE(packaging_->saveInPlace());

  ASSERT_EQ(boxes(), 1);
  EXPECT_EQ(windows_.messageBoxes()[0].caption, tableText(TextEntry::kReadOnlyCaption));
  EXPECT_NE(windows_.messageBoxes()[0].text.find(kApplicationPath), std::u16string::npos);
  ASSERT_EQ(dialogs_.shown().size(), 1u);
  const FileDialogRequest& request = dialogs_.shown()[0].file;
  EXPECT_TRUE(request.save);
  EXPECT_EQ(request.filterName, u"Executable Files");
  EXPECT_EQ(request.filterPattern, u"*.exe;");
  EXPECT_EQ(request.title, u"Save As");
  EXPECT_EQ(workbook_->count("call 0x11B"), 0);
  EXPECT_EQ(entriesOf(kApplicationPath), original_);

  // Choosing a file there saves the application into it.
  dialogs_.queueFileAnswer(u"/out/Copy");
  EXPECT_FALSE(packaging_->saveInPlace());
  EXPECT_EQ(runtime_->channelState().applicationPath, u"/out/Copy.kvapp");
  expectWorkbookResource(u"/out/Copy.kvapp", workbookBytes);
  EXPECT_EQ(entriesOf(kApplicationPath), original_);
}

}  // namespace
}  // namespace korvel
