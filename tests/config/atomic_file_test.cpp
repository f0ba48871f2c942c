// The first tests hold on every system; links, FIFOs, modes and owners are
// POSIX's, and device names, read-only files and wide-character names are
// Windows's, each in a part of its own below.
#include "config/atomic_file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <vector>

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

#ifndef _WIN32
  const mode_t mask = umask(0);
  umask(mask);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
#endif
}

TEST_F(WriteFileAtomicallyTest, FailsCleanlyInAMissingFolder) {
  const fs::path missing = folder_ / "missing";
  const std::string path = (missing / "ble_part_config.cfg").string();
  auto result = WriteFileAtomically(path, "data");
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().text.rfind("无法写入文件 " + path + ": 文件夹 " + missing.string() + ": ", 0), 0u)
      << result.error().text;
#ifndef _WIN32
  EXPECT_NE(result.error().text.find("No such file or directory"), std::string::npos) << result.error().text;
#endif
  EXPECT_EQ(EntriesIn(folder_), 0u);
}

TEST_F(WriteFileAtomicallyTest, AFailedRenameLeavesTheOldEntryAndNoTemporaryFile) {
  // A folder in the way: refused before anything is written.
  const fs::path path = folder_ / "ble_access_config.cfg";
  fs::create_directory(path);
  std::ofstream(path / "kept") << "old";
  auto result = WriteFileAtomically(path.string(), "new");
  ASSERT_FALSE(result.ok());
  EXPECT_NE(result.error().text.find(path.string()), std::string::npos);
  EXPECT_EQ(EntriesIn(folder_), 1u);
  EXPECT_EQ(Contents(path / "kept"), "old");
}

#ifndef _WIN32
TEST_F(WriteFileAtomicallyTest, FailsCleanlyWhereNoFileCanBeCreated) {
  // /proc refuses new files whatever the user, root included.
  auto result = WriteFileAtomically("/proc/ble_part_config.cfg", "data");
  ASSERT_FALSE(result.ok());
  EXPECT_NE(result.error().text.find("/proc/ble_part_config.cfg"), std::string::npos);
  EXPECT_FALSE(fs::exists("/proc/ble_part_config.cfg"));
}

// Runs `body` in a child process (for what changes the whole process: its
// user, its limits); the child's exit status is body's result.
int InChild(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool IsLink(const fs::path& path) { return fs::is_symlink(fs::symlink_status(path)); }

TEST_F(WriteFileAtomicallyTest, RefusesWhatIsNoRegularFileAndLeavesItAsItWas) {
  struct Row {
    const char* name;
    std::function<void(const fs::path&)> make;
    const char* what;
  };
  const std::vector<Row> rows = {
      {"dangling", [](const fs::path& p) { fs::create_symlink("gone.cfg", p); }, "是失效的符号链接, 指向 gone.cfg"},
      {"fifo", [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); }, "是管道 (FIFO)"},
      {"folder", [](const fs::path& p) { fs::create_directory(p); }, "是文件夹"},
      {"null", [](const fs::path& p) { fs::create_symlink("/dev/null", p); }, " (链接到 /dev/null): 是设备文件"},
      {"folderlink", [this](const fs::path& p) { fs::create_symlink(folder_, p); }, "是文件夹"},
      {"sock",
       [](const fs::path& p) {
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         ASSERT_LT(p.string().size(), sizeof address.sun_path) << p;
         std::strcpy(address.sun_path, p.c_str());
         const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
         ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
         close(fd);
       },
       "是套接字"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const fs::path path = folder_ / row.name;
    row.make(path);
    const auto before = fs::symlink_status(path).type();
    for (const auto& result : {CheckOutputFile(path.string()), WriteFileAtomically(path.string(), "data")}) {
      ASSERT_FALSE(result.ok());
      EXPECT_EQ(result.error().kind, ErrorKind::kBadInput);
      EXPECT_EQ(result.error().text.rfind("无法写入文件 " + path.string(), 0), 0u) << result.error().text;
      EXPECT_NE(result.error().text.find(row.what), std::string::npos) << result.error().text;
    }
    EXPECT_EQ(fs::symlink_status(path).type(), before);
  }
  EXPECT_EQ(EntriesIn(folder_), rows.size());
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST_F(WriteFileAtomicallyTest, RefusesADeviceNode) {
  if (geteuid() != 0) GTEST_SKIP() << "making a device node needs root (a link to /dev/null is refused in the table)";
  const fs::path path = folder_ / "null";
  if (mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
    GTEST_SKIP() << "this system does not let root make a device node here: " << std::strerror(errno);
  }
  auto result = WriteFileAtomically(path.string(), "data");
  ASSERT_FALSE(result.ok());
  EXPECT_NE(result.error().text.find(path.string() + ": 是设备文件"), std::string::npos) << result.error().text;
  EXPECT_TRUE(fs::is_character_file(path));
  EXPECT_EQ(EntriesIn(folder_), 1u);
}

TEST_F(WriteFileAtomicallyTest, FollowsALinkToItsTargetAndKeepsTheLink) {
  // The target lives elsewhere: the new file must be made beside it, not
  // beside the link, for the rename to stay on one file system.
  const fs::path elsewhere = folder_ / "elsewhere";
  const fs::path here = folder_ / "here";
  fs::create_directories(elsewhere);
  fs::create_directories(here);
  std::ofstream(elsewhere / "board7.cfg") << "old";
  fs::create_symlink(elsewhere / "board7.cfg", here / "second");
  fs::create_symlink("second", here / "first");

  auto result = WriteFileAtomically((here / "first").string(), "new");
  ASSERT_TRUE(result.ok()) << result.error().text;
  EXPECT_EQ(result->path, (here / "first").string());
  EXPECT_EQ(result->target, fs::canonical(elsewhere / "board7.cfg").string());
  EXPECT_TRUE(result->viaLink);
  EXPECT_TRUE(IsLink(here / "first"));
  EXPECT_TRUE(IsLink(here / "second"));
  EXPECT_EQ(Contents(elsewhere / "board7.cfg"), "new");
  EXPECT_EQ(EntriesIn(here), 2u);
  EXPECT_EQ(EntriesIn(elsewhere), 1u);
}

TEST_F(WriteFileAtomicallyTest, AReplacedFileKeepsItsModeAndOwner) {
  const fs::path path = folder_ / "board7.cfg";
  std::ofstream(path) << "old";
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  // As root the owner can be kept too: give the file to somebody else first.
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
  }
  struct stat before {};
  ASSERT_EQ(stat(path.c_str(), &before), 0);

  ASSERT_TRUE(WriteFileAtomically(path.string(), "new").ok());
  struct stat after {};
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_EQ(Contents(path), "new");
  EXPECT_NE(after.st_ino, before.st_ino);  // replaced, not rewritten in place
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
}

TEST_F(WriteFileAtomicallyTest, ANameOfTwoHundredFiftyBytesWorks) {
  // Multi-byte characters too: the limit counts bytes.
  std::string name = "记录";
  name += std::string(250 - name.size() - 4, 'x') + ".cfg";
  ASSERT_EQ(name.size(), 250u);
  const fs::path path = folder_ / name;
  for (const char* contents : {"first", "second"}) {
    auto result = WriteFileAtomically(path.string(), contents);
    ASSERT_TRUE(result.ok()) << result.error().text;
    EXPECT_EQ(Contents(path), contents);
  }
  EXPECT_EQ(EntriesIn(folder_), 1u);
}

TEST_F(WriteFileAtomicallyTest, AReadOnlyFolderIsRefusedBeforeAnythingIsWritten) {
  // Root writes anywhere: the check runs as nobody in a child.
  const fs::path readOnly = folder_ / "ro";
  fs::create_directory(readOnly);
  ASSERT_EQ(chmod(folder_.c_str(), 0755), 0);
  ASSERT_EQ(chmod(readOnly.c_str(), 0555), 0);
  const std::string path = (readOnly / "board7.cfg").string();
  const int status = InChild([&] {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) return 10;
    for (const auto& result : {CheckOutputFile(path), WriteFileAtomically(path, "data")}) {
      if (result.ok()) return 11;
      if (result.error().kind != ErrorKind::kPermission) return 12;
      if (result.error().text != "无法写入文件 " + path + ": 文件夹 " + readOnly.string() + ": Permission denied") {
        std::fprintf(stderr, "%s\n", result.error().text.c_str());
        return 13;
      }
    }
    return 0;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(EntriesIn(readOnly), 0u);
}

TEST_F(WriteFileAtomicallyTest, AWriteThatFailsHalfwayRemovesTheTemporaryFile) {
  // A file size limit makes the write itself fail after the temporary file
  // was made; the old file stays whole.
  const fs::path path = folder_ / "board7.cfg";
  std::ofstream(path) << "old";
  const int status = InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4, 4};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
    auto result = WriteFileAtomically(path.string(), std::string(1000, 'n'));
    if (result.ok()) return 11;
    return result.error().text.find(path.string() + ": File too large") != std::string::npos ? 0 : 12;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Contents(path), "old");
  EXPECT_EQ(EntriesIn(folder_), 1u);
}
#else

TEST_F(WriteFileAtomicallyTest, RefusesAFolderOrADeviceAndLeavesNoTemporaryFile) {
  // Relative names are taken in the test's folder, so that a temporary file
  // left by mistake would be counted there.
  struct InFolder {
    const fs::path before = fs::current_path();
    explicit InFolder(const fs::path& folder) { fs::current_path(folder); }
    ~InFolder() { fs::current_path(before); }
  };
  std::optional<InFolder> inFolder(std::in_place, folder_);
  fs::create_directory("ble_access_config.cfg");
  struct Row {
    std::string path;
    const char* what;
  };
  const std::vector<Row> rows = {
      {"ble_access_config.cfg", "是文件夹"},
      {(folder_ / "ble_access_config.cfg").string(), "是文件夹"},
      {"NUL", "是设备文件"},
      {"nul", "是设备文件"},
      {"COM1", "是设备文件"},
      {"\\\\.\\COM1", "是设备文件"},
      {(folder_ / "NUL").string(), "是设备文件"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    for (const auto& result : {CheckOutputFile(row.path), WriteFileAtomically(row.path, "data")}) {
      ASSERT_FALSE(result.ok());
      EXPECT_EQ(result.error().kind, ErrorKind::kBadInput);
      EXPECT_EQ(result.error().text, "无法写入文件 " + row.path + ": " + row.what);
    }
  }
  inFolder.reset();
  EXPECT_EQ(EntriesIn(folder_), 1u);
  EXPECT_TRUE(fs::is_directory(folder_ / "ble_access_config.cfg"));
}

TEST_F(WriteFileAtomicallyTest, AFileHeldOpenStaysAsItWasAndNoTemporaryFileIsLeft) {
  // Another program reading the file without sharing its deletion (as most
  // do) makes the move fail after the temporary file was written.
  const fs::path path = folder_ / "board7.cfg";
  std::ofstream(path) << "old";
  const HANDLE reader = CreateFileW(path.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  auto result = WriteFileAtomically(path.string(), "new");
  CloseHandle(reader);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().text.rfind("无法写入文件 " + path.string() + ": ", 0), 0u) << result.error().text;
  EXPECT_EQ(Contents(path), "old");
  EXPECT_EQ(EntriesIn(folder_), 1u);
}

// The names in the folder as the wide-character calls list them.
std::vector<std::wstring> WideNamesIn(const fs::path& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW((folder.wstring() + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

TEST_F(WriteFileAtomicallyTest, AChineseNameIsWrittenUnderThatVeryName) {
  // UTF-8 in, as the command line and the records give it.
  const std::string path = folder_.string() + "\\芯片配置.cfg";
  for (const char* contents : {"first", "second"}) {
    auto result = WriteFileAtomically(path, contents);
    ASSERT_TRUE(result.ok()) << result.error().text;
    EXPECT_EQ(result->path, path);
    EXPECT_EQ(WideNamesIn(folder_), std::vector<std::wstring>{L"芯片配置.cfg"});
    EXPECT_EQ(Contents(folder_ / L"芯片配置.cfg"), contents);
  }
}
#endif

}  // namespace
}  // namespace corvel::config
