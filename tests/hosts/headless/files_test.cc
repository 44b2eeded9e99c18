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

// The file-writing helper: a target that is no regular file, a folder that does not exist and a
// protected input are refused with the path and the reason, and leave what was there; a link is
// written through; nothing is left beside the target.
TEST(DiskFiles, WritesWholeFilesOrNothingAndSaysWhy) {
  std::filesystem::path dir = makeScratchDirectory("korvel-write");
  DiskFiles files(fromUtf8(dir.string()));
  auto at = [&](const char* name) { return fromUtf8((dir / name).string()); };
  ASSERT_TRUE(files.writeAll(at("input.txt"), "input"));
  std::filesystem::create_directory(dir / "folder");
  std::filesystem::create_symlink("target.kvm", dir / "link.kvm");
  std::filesystem::create_symlink("input.txt", dir / "input-link.txt");
  files.protectInput(at("input.txt"));
  struct Case {
    std::u16string path;
    std::string reason;  // empty: written
  };
  const Case cases[] = {
      {at("folder"), "it is a folder"},
      {u"/dev/null", "it is a device, pipe or socket, not a file"},
      {at("missing/new.kvm"), "the folder " + (dir / "missing").string() + "/ does not exist"},
      {at("input.txt"), "it is the command's own input"},
      {at("input-link.txt"), "it is the command's own input"},
      {at("link.kvm"), ""},
      {at("new.kvm"), ""},
  };
  for (const Case& c : cases) {
    std::string failure;
    bool written = files.writeAll(c.path, "bytes", &failure);
    EXPECT_EQ(written, c.reason.empty()) << toUtf8(c.path);
    if (!c.reason.empty()) EXPECT_EQ(failure, "cannot write " + toUtf8(c.path) + ": " + c.reason);
  }
  std::string bytes;
  ASSERT_TRUE(files.readAll(at("input.txt"), &bytes));
  EXPECT_EQ(bytes, "input");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.kvm"));
  ASSERT_TRUE(files.readAll(at("target.kvm"), &bytes));
  EXPECT_EQ(bytes, "bytes");
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));
  size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    entries += !entry.is_directory();
  EXPECT_EQ(entries, 5u);  // input, two links, the link's target, new
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace korvel
