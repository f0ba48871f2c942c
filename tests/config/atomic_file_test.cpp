#include "config/atomic_file.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/temp_dir.h"

namespace corvel::config {
namespace {

namespace fs = std::filesystem;

class WriteFileAtomicallyTest : public ::testing::Test {
 protected:
  static std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  size_t EntriesIn(const fs::path& folder) const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
  }

  testing::TempDir dir_;
  const fs::path folder_ = dir_.path();
};

TEST_F(WriteFileAtomicallyTest, CreatesAndReplacesLeavingNoTemporaryFile) {
  const fs::path path = folder_ / "ble_part_config.cfg";
  ASSERT_TRUE(WriteFileAtomically(path.string(), std::string("first\r\n\0x", 9)).ok());
  EXPECT_EQ(Contents(path), std::string("first\r\n\0x", 9));

  ASSERT_TRUE(WriteFileAtomically(path.string(), "second").ok());
  EXPECT_EQ(Contents(path), "second");
  EXPECT_EQ(EntriesIn(folder_), 1u);

  const mode_t mask = umask(0);
  umask(mask);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
}

TEST_F(WriteFileAtomicallyTest, FailsCleanlyInAMissingFolder) {
  const std::string path = (folder_ / "missing" / "ble_part_config.cfg").string();
  auto result = WriteFileAtomically(path, "data");
  ASSERT_FALSE(result.ok());
  EXPECT_NE(result.error().text.find(path), std::string::npos) << result.error().text;
  EXPECT_NE(result.error().text.find("No such file or directory"), std::string::npos) << result.error().text;
  EXPECT_EQ(EntriesIn(folder_), 0u);
}

TEST_F(WriteFileAtomicallyTest, FailsCleanlyWhereNoFileCanBeCreated) {
  // /proc refuses new files whatever the user, root included.
  auto result = WriteFileAtomically("/proc/ble_part_config.cfg", "data");
  ASSERT_FALSE(result.ok());
  EXPECT_NE(result.error().text.find("/proc/ble_part_config.cfg"), std::string::npos);
  EXPECT_FALSE(fs::exists("/proc/ble_part_config.cfg"));
}

TEST_F(WriteFileAtomicallyTest, AFailedRenameLeavesTheOldEntryAndNoTemporaryFile) {
  // A folder in the way: the temporary file is written, the rename fails.
  const fs::path path = folder_ / "ble_access_config.cfg";
  fs::create_directory(path);
  std::ofstream(path / "kept") << "old";
  auto result = WriteFileAtomically(path.string(), "new");
  ASSERT_FALSE(result.ok());
  EXPECT_NE(result.error().text.find(path.string()), std::string::npos);
  EXPECT_EQ(EntriesIn(folder_), 1u);
  EXPECT_EQ(Contents(path / "kept"), "old");
}

}  // namespace
}  // namespace corvel::config
