// read-part / read-access -o: what cannot be written is refused before the
// port is touched; what is written is named on stderr.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/sim_chip.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_process.h"

namespace corvel::cli {
namespace {

namespace fs = std::filesystem;
using testing::SimChip;
using testing::Tool;

const std::vector<std::string> kReadLines = {"正在连接芯片,请执行复位.....", "芯片连接成功!", "芯片断开连接!"};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The test process's current folder, for the default file name; put back
// when the test ends.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::string& folder) : old_(fs::current_path()) { fs::current_path(folder); }
  ~CurrentFolder() { fs::current_path(old_); }

 private:
  fs::path old_;
};

TEST(RecordOutput, RefusedBeforeConnectingWithNothingOnThePort) {
  struct Row {
    const char* name;
    std::function<std::string(const testing::TempDir&)> make;  // returns the -o argument
    std::string fragment;
  };
  const std::vector<Row> rows = {
      {"dangling link",
       [](const testing::TempDir& d) {
         fs::create_symlink("gone.cfg", d.Path("link.cfg"));
         return d.Path("link.cfg");
       },
       ": 是失效的符号链接, 指向 gone.cfg"},
      {"fifo",
       [](const testing::TempDir& d) {
         EXPECT_EQ(mkfifo(d.Path("fifo.cfg").c_str(), 0644), 0);
         return d.Path("fifo.cfg");
       },
       ": 是管道 (FIFO)"},
      {"folder",
       [](const testing::TempDir& d) {
         fs::create_directory(d.Path("dir.cfg"));
         return d.Path("dir.cfg");
       },
       ": 是文件夹"},
      {"device through a link",
       [](const testing::TempDir& d) {
         fs::create_symlink("/dev/null", d.Path("null.cfg"));
         return d.Path("null.cfg");
       },
       " (链接到 /dev/null): 是设备文件"},
      {"missing folder", [](const testing::TempDir& d) { return d.Path("missing/part.cfg"); },
       ": 文件夹 "},  // the whole line is checked below
  };
  for (const char* command : {"read-part", "read-access"}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(command) + ": " + row.name);
      testing::TempDir dir;
      const std::string output = row.make(dir);
      SimChip chip;
      Tool tool({"-p", chip.path, command, "-o", output});
      EXPECT_EQ(tool.Wait(), 2);
      EXPECT_EQ(tool.out(), "");
      EXPECT_EQ(tool.err().rfind("无法写入文件 " + output, 0), 0u) << tool.err();
      EXPECT_NE(tool.err().find(row.fragment), std::string::npos) << tool.err();
      EXPECT_EQ(chip.BytesReceived(), 0u);
    }
  }
  testing::TempDir dir;
  Tool missing({"--sim", "read-part", "-o", dir.Path("missing/part.cfg")});
  EXPECT_EQ(missing.Wait(), 2);
  EXPECT_EQ(missing.err(), "无法写入文件 " + dir.Path("missing/part.cfg") + ": 文件夹 " + dir.Path("missing") +
                               ": No such file or directory\n");
}

TEST(RecordOutput, AReadOnlyFolderIsRefusedBeforeConnecting) {
  // Root writes anywhere: then the tool runs as nobody.
  std::vector<std::string> args;
  const char* program = CORVEL_DL_PATH;
  if (geteuid() == 0) {
    program = "/usr/bin/setpriv";
    if (access(program, X_OK) != 0) GTEST_SKIP() << "running as root without setpriv to drop privileges";
    args = {"--reuid=65534", "--regid=65534", "--clear-groups", CORVEL_DL_PATH};
  }
  testing::TempDir dir;
  const fs::path readOnly = fs::path(dir.path()) / "ro";
  fs::create_directory(readOnly);
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(readOnly.c_str(), 0555), 0);
  const std::string output = (readOnly / "part.cfg").string();
  SimChip chip;
  args.insert(args.end(), {"-p", chip.path, "read-part", "-o", output});
  Tool tool(args, program);
  EXPECT_EQ(tool.Wait(), 2);
  EXPECT_EQ(tool.out(), "");
  EXPECT_EQ(tool.err(), "无法写入文件 " + output + ": 文件夹 " + readOnly.string() + ": Permission denied\n");
  EXPECT_EQ(chip.BytesReceived(), 0u);
  EXPECT_TRUE(fs::is_empty(readOnly));
}

TEST(RecordOutput, StderrNamesTheWrittenFileAndALinksTarget) {
  struct Row {
    const char* name;
    std::function<std::string(const testing::TempDir&)> make;  // returns the -o argument
    std::function<std::string(const testing::TempDir&)> line;  // the stderr line
    std::function<void(const testing::TempDir&)> check;
  };
  const std::string longName = std::string(246, 'n') + ".cfg";
  const std::vector<Row> rows = {
      {"new file", [](const testing::TempDir& d) { return d.Path("part.cfg"); },
       [](const testing::TempDir& d) { return "文件已写入: " + d.Path("part.cfg"); }, [](const testing::TempDir&) {}},
      {"existing 0640 file",
       [](const testing::TempDir& d) {
         const std::string file = d.Write("part.cfg", "old");
         EXPECT_EQ(chmod(file.c_str(), 0640), 0);
         return file;
       },
       [](const testing::TempDir& d) { return "文件已写入: " + d.Path("part.cfg"); },
       [](const testing::TempDir& d) { EXPECT_EQ(fs::status(d.Path("part.cfg")).permissions(), fs::perms(0640)); }},
      {"link",
       [](const testing::TempDir& d) {
         fs::create_directory(d.Path("boards"));
         d.Write("boards/part.cfg", "old");
         fs::create_symlink("boards/part.cfg", d.Path("part.cfg"));
         return d.Path("part.cfg");
       },
       [](const testing::TempDir& d) { return "文件已写入: " + d.Path("part.cfg") + " -> " + d.Path("boards/part.cfg"); },
       [](const testing::TempDir& d) {
         EXPECT_TRUE(fs::is_symlink(d.Path("part.cfg")));
         EXPECT_EQ(fs::read_symlink(d.Path("part.cfg")), "boards/part.cfg");
         EXPECT_EQ(std::distance(fs::directory_iterator(d.Path("boards")), fs::directory_iterator()), 1);
       }},
      {"250-byte name", [&longName](const testing::TempDir& d) { return d.Path(longName); },
       [&longName](const testing::TempDir& d) { return "文件已写入: " + d.Path(longName); }, [](const testing::TempDir&) {}},
  };
  const std::string expected = ReadAll(std::string(CORVEL_EXAMPLES) + "/ble_part_config.cfg");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testing::TempDir dir;
    const std::string output = row.make(dir);
    SimChip chip;
    Tool tool({"-p", chip.path, "read-part", "-o", output});
    EXPECT_EQ(tool.Wait(), 0) << tool.err();
    EXPECT_EQ(testing::SplitLines(tool.out()), kReadLines);
    EXPECT_EQ(tool.err(), row.line(dir) + "\n");
    EXPECT_EQ(ReadAll(output), expected);
    row.check(dir);
  }
}

TEST(RecordOutput, TheDefaultNameInTheCurrentFolderIsCheckedAndNamedInFull) {
  testing::TempDir dir;
  CurrentFolder here(dir.path());
  fs::create_directory("ble_access_config.cfg");
  {
    SimChip chip;
    Tool refused({"-p", chip.path, "read-access"});
    EXPECT_EQ(refused.Wait(), 2);
    EXPECT_EQ(refused.out(), "");
    EXPECT_EQ(refused.err(), "无法写入文件 ble_access_config.cfg: 是文件夹\n");
    EXPECT_EQ(chip.BytesReceived(), 0u);
  }
  fs::remove("ble_access_config.cfg");
  SimChip chip;
  Tool written({"-p", chip.path, "read-access"});
  EXPECT_EQ(written.Wait(), 0) << written.err();
  EXPECT_EQ(written.err(), "文件已写入: " + dir.Path("ble_access_config.cfg") + "\n");
  EXPECT_EQ(ReadAll(dir.Path("ble_access_config.cfg")),
            ReadAll(std::string(CORVEL_EXAMPLES) + "/ble_access_config.cfg"));
}

}  // namespace
}  // namespace corvel::cli
