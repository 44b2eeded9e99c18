#include <gtest/gtest.h>

#include <filesystem>

#include "hosts/headless/disk_files.h"
#include "hosts/headless/memory_files.h"
#include "tests/scratch_directory.h"
#include "util/text.h"

namespace korvel {
namespace {

// Both implementations keep one contract; the disk one runs in a fresh folder of its own.
class FilesContract : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      dir_ = makeScratchDirectory("korvel-files");
      files_ = std::make_unique<DiskFiles>(fromUtf8(dir_.string()));
    } else {
      files_ = std::make_unique<MemoryFiles>();
    }
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  std::u16string path(const char* name) { return files_->temporaryDirectory() + fromUtf8(name); }

  std::filesystem::path dir_;
  std::unique_ptr<Files> files_;
};

TEST_P(FilesContract, CreatesExclusivelyReadsAndRemoves) {
  std::u16string p = path("abcdefghij");
  EXPECT_FALSE(files_->exists(p));
  ASSERT_EQ(files_->createExclusive(p, std::string("x\0y", 3)), Files::Created::kOk);
  EXPECT_EQ(files_->createExclusive(p, "other"), Files::Created::kExists);
  std::string bytes;
  ASSERT_TRUE(files_->readAll(p, &bytes));
  EXPECT_EQ(bytes, std::string("x\0y", 3));
  ASSERT_TRUE(files_->writeAll(p, "new"));
  ASSERT_TRUE(files_->readAll(p, &bytes));
  EXPECT_EQ(bytes, "new");
  EXPECT_TRUE(files_->remove(p));
  EXPECT_FALSE(files_->remove(p));
  EXPECT_FALSE(files_->readAll(p, &bytes));
  EXPECT_TRUE(bytes.empty());
}

INSTANTIATE_TEST_SUITE_P(DiskAndMemory, FilesContract, ::testing::Bool());

TEST(MemoryFiles, FailsOnDemand) {
  MemoryFiles files;
  files.setFailWrites(true);
  EXPECT_EQ(files.createExclusive(u"/tmp/a", "x"), Files::Created::kFailed);
  EXPECT_FALSE(files.writeAll(u"/tmp/a", "x"));
  EXPECT_FALSE(files.exists(u"/tmp/a"));
}

TEST(DiskFiles, ReportsAMissingDirectoryAsFailure) {
  DiskFiles files(u"/nonexistent-korvel-dir");
  EXPECT_EQ(files.createExclusive(files.temporaryDirectory() + u"x", "x"), Files::Created::kFailed);
}

}  // namespace
}  // namespace korvel
