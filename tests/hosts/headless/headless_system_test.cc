#include "hosts/headless/headless_system.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "hosts/headless/disk_files.h"
#include "hosts/headless/memory_files.h"
#include "tests/scratch_directory.h"
#include "util/text.h"

namespace korvel {
namespace {

// The launcher stand-in removes real files: the request runs in a folder of its own.
class LauncherCleanup : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = makeScratchDirectory("korvel-system");
    files_ = std::make_unique<DiskFiles>(fromUtf8(dir_.string()));
    system_ = std::make_unique<HeadlessSystem>(files_.get());
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::u16string path(const char* name) { return files_->temporaryDirectory() + fromUtf8(name); }

  std::filesystem::path dir_;
  std::unique_ptr<DiskFiles> files_;
  std::unique_ptr<HeadlessSystem> system_;
};

TEST_F(LauncherCleanup, RecordsTheProcessAndRemovesTheTwoFiles) {
  std::u16string workbook = path("book one.xlsm"), module = path("plinthstub.dll");
  std::u16string bystander = path("other.dat");
  for (const auto& p : {workbook, module, bystander}) ASSERT_TRUE(files_->writeAll(p, "x"));

  std::vector<std::u16string> arguments{u"-clnx", workbook, u"-clnd", module};
  ASSERT_TRUE(system_->startDetachedProcess(u"C:\\app\\app.exe", arguments));
  ASSERT_EQ(system_->detachedProcesses().size(), 1u);
  EXPECT_EQ(system_->detachedProcesses()[0].executable, u"C:\\app\\app.exe");
  EXPECT_EQ(system_->detachedProcesses()[0].arguments, arguments);
  EXPECT_FALSE(files_->exists(workbook));
  EXPECT_FALSE(files_->exists(module));
  EXPECT_TRUE(files_->exists(bystander));
  // A second request finds nothing left to remove and is still recorded.
  EXPECT_TRUE(system_->startDetachedProcess(u"C:\\app\\app.exe", arguments));
  EXPECT_EQ(system_->detachedProcesses().size(), 2u);
}

TEST_F(LauncherCleanup, OtherCommandLinesAndFailedStartsRemoveNothing) {
  std::u16string workbook = path("book.xlsm"), module = path("plinthstub.dll");
  for (const auto& p : {workbook, module}) ASSERT_TRUE(files_->writeAll(p, "x"));
  const std::vector<std::vector<std::u16string>> others = {
      {u"-clnd", workbook, u"-clnx", module},
      {u"-clnx", workbook},
      {u"-clnx", workbook, u"-clnd", module, u"-more"},
  };
  for (const auto& arguments : others) {
    EXPECT_TRUE(system_->startDetachedProcess(u"app.exe", arguments));
  }
  system_->setFailProcessStart(true);
  EXPECT_FALSE(system_->startDetachedProcess(u"app.exe", {u"-clnx", workbook, u"-clnd", module}));
  EXPECT_EQ(system_->detachedProcesses().size(), others.size());
  EXPECT_TRUE(files_->exists(workbook));
  EXPECT_TRUE(files_->exists(module));
}

TEST(HeadlessSystem, ModulesDirectoriesPathsIconsAndProcessEnd) {
  MemoryFiles files;
  HeadlessSystem system(&files);
  EXPECT_EQ(system.modulePath(u"plinthstub.dll"), u"");
  system.addModule(u"C:\\Temp\\PlinthStub.DLL");
  EXPECT_EQ(system.modulePath(u"plinthstub.dll"), u"C:\\Temp\\PlinthStub.DLL");
  EXPECT_EQ(system.modulePath(u"stub.dll"), u"");

  EXPECT_TRUE(system.setCurrentDirectory(u"C:\\app"));
  EXPECT_FALSE(system.setCurrentDirectory(u""));
  EXPECT_EQ(system.currentDirectory(), u"C:\\app");

  ASSERT_TRUE(files.writeAll(u"/tmp/app.exe", "MZ"));
  EXPECT_EQ(system.shortPath(u"/tmp/app.exe"), u"/tmp/app.exe");
  EXPECT_EQ(system.shortPath(u"/tmp/none.exe"), u"");

  ExecutableIcons none = system.extractIcons(u"/tmp/app.exe");
  EXPECT_EQ(none.large, IconHandle::kNoIcon);
  EXPECT_EQ(none.small, IconHandle::kNoIcon);
  system.setExecutableIcon(u"/tmp/app.exe", false, true);
  ExecutableIcons icons = system.extractIcons(u"/tmp/app.exe");
  EXPECT_EQ(icons.large, IconHandle::kNoIcon);
  EXPECT_NE(icons.small, IconHandle::kNoIcon);
  EXPECT_EQ(system.liveIcons(), 1u);
  system.destroyIcon(icons.small);
  system.destroyIcon(icons.small);
  system.destroyIcon(IconHandle::kNoIcon);
  EXPECT_EQ(system.liveIcons(), 0u);

  EXPECT_FALSE(system.exitCode().has_value());
  system.endProcess(0);
  EXPECT_EQ(system.exitCode(), 0);
}

}  // namespace
}  // namespace korvel
