// Application files on the launcher's side: the version text, the resources a compiled workbook
// becomes, and the checks made when one is opened.
#include "tools/korvel/application_file.h"

#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <string>
#include <vector>

#include "compiler/workbook_text.h"
#include "engine/locale_settings.h"
#include "hosts/headless/memory_files.h"
#include "hosts/headless/spreadsheet/xlsx_workbook.h"
#include "model/envelope.h"
#include "packaging/application_resources.h"

namespace korvel {
namespace {

TEST(ApplicationVersionTest, ReadsUpToThreePartsOfAByteEach) {
  struct Case {
    const char* text;
    uint32_t version;
  } good[] = {{"1", 0x01000000},
              {"1.2", 0x01020000},
              {"1.2.3", 0x01020300},
              {"255.0.7", 0xFF000700},
              {"0", 0}};
  for (const Case& c : good) {
    uint32_t version = 0xDEAD;
    EXPECT_TRUE(parseApplicationVersion(c.text, &version)) << c.text;
    EXPECT_EQ(version, c.version) << c.text;
  }
  for (const char* bad :
       {"", "1.", ".1", "1.2.3.4", "256", "1.-2", "a.b", "1..2", "1 .2", "0400"}) {
    uint32_t version = 0;
    EXPECT_FALSE(parseApplicationVersion(bad, &version)) << bad;
  }
}

class ApplicationFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::string> errors;
    ASSERT_TRUE(
        readWorkbookText("[Sheet1]\nA1: 2\nA2: =A1*10\n[Other]\nB1: \"x\"\n", &workbook, &errors));
    options.name = u"Budget";
    options.version = 0x01020300;
    options.dataExchange = true;
    options.agreement = "Use it well.";
  }
  void TearDown() override { resetLocaleSettings(); }

  // Builds and stores the application at path; the entries stay in entries.
  void build(const std::u16string& path) {
    std::string error;
    ASSERT_TRUE(buildApplicationResources(workbook, {}, options, files, &entries, &error)) << error;
    ASSERT_TRUE(files.writeAll(path, encodeApplicationFile(entries)));
  }
  ResourceEntry* entry(std::u16string_view type, uint32_t id) {
    for (ResourceEntry& e : entries) {
      if (e.type == type && e.id == id) return &e;
    }
    return nullptr;
  }

  Workbook workbook;
  ApplicationOptions options;
  MemoryFiles files;
  std::vector<ResourceEntry> entries;
};

TEST_F(ApplicationFileTest, OpensWithWhatItWasBuiltFrom) {
  build(u"/apps/budget.kvapp");
  ApplicationContents contents;
  std::string error;
  ASSERT_TRUE(readApplication(files, u"/apps/budget.kvapp", &contents, &error)) << error;

  EXPECT_EQ(contents.record.applicationName, u"Budget");
  EXPECT_EQ(contents.record.header.applicationVersion, 0x01020300u);
  EXPECT_EQ(contents.record.header.optionFlags, kFlagDataExchange);
  EXPECT_EQ(contents.agreement, "Use it well.");
  ASSERT_FALSE(contents.model.empty());
  EXPECT_EQ(contents.model.front(), entry(kModelResourceType, kFirstModelResourceId)->bytes);

  // The workbook holds the formula's starting value, not the formula.
  WorkbookData data;
  ASSERT_TRUE(readXlsxWorkbookBytes(contents.workbook, &data, &error)) << error;
  ASSERT_EQ(data.sheets.size(), 2u);
  EXPECT_EQ(data.sheets[1].name, u"Other");
  const CellData& a2 = data.sheets[0].cells.at({1, 0});
  EXPECT_TRUE(a2.formula.empty());
  EXPECT_EQ(a2.value.real(), 20);
}

TEST_F(ApplicationFileTest, RefusesFilesWhosePartsAreMissingOrDoNotBelongTogether) {
  build(u"/apps/budget.kvapp");
  std::vector<ResourceEntry> original = entries;
  // Another application's workbook, with its own tag.
  options.name = u"Other";
  workbook.sheets[0].cells[0].value = Value::number(3);
  build(u"/apps/other.kvapp");
  std::string otherWorkbook = entry(workbookResourceType(), kWorkbookResourceId)->bytes;

  struct Case {
    const char* what;
    std::function<void(std::vector<ResourceEntry>&)> change;
    const char* message;
  } cases[] = {
      {"no settings", [](auto& e) { e.erase(e.begin()); }, "no settings"},
      {"no workbook", [](auto& e) { e.erase(e.begin() + 1); }, "no workbook"},
      {"a damaged workbook", [](auto& e) { e[1].bytes = "ROZ"; }, "damaged"},
      {"a foreign workbook", [&](auto& e) { e[1].bytes = otherWorkbook; }, "another application"},
  };
  for (const Case& c : cases) {
    std::vector<ResourceEntry> changed = original;
    ASSERT_EQ(changed[1].id, kWorkbookResourceId);
    c.change(changed);
    ASSERT_TRUE(files.writeAll(u"/apps/bad.kvapp", encodeApplicationFile(changed)));
    ApplicationContents contents;
    std::string error;
    EXPECT_FALSE(readApplication(files, u"/apps/bad.kvapp", &contents, &error)) << c.what;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
  }
  ASSERT_TRUE(files.writeAll(u"/apps/junk.kvapp", "not an application"));
  ApplicationContents contents;
  std::string error;
  EXPECT_FALSE(readApplication(files, u"/apps/junk.kvapp", &contents, &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(ApplicationFileTest, TheWorkbookCarriesTheSettingsTagRotated) {
  build(u"/apps/budget.kvapp");
  ParsedSettings settings = parseSettings(entry(kSettingsResourceType, kLauncherResourceId)->bytes);
  ASSERT_TRUE(settings.ok);
  uint32_t tag = workbookTag(settings.content);
  EXPECT_NE(tag, 0u);
  std::string content;
  ASSERT_GT(decodeEnvelope(entry(workbookResourceType(), kWorkbookResourceId)->bytes, &content),
            4u);
  uint32_t stored = uint8_t(content[0]) | uint32_t(uint8_t(content[1])) << 8 |
                    uint32_t(uint8_t(content[2])) << 16 | uint32_t(uint8_t(content[3])) << 24;
  EXPECT_EQ(stored, std::rotr(tag, 5));
  EXPECT_EQ(content.substr(4, 2), "PK");
}

}  // namespace
}  // namespace korvel
