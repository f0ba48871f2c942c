#include "serial/open_failure.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "serial/serial_port.h"
#include "tests/serial/port_events_recorder.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace corvel::serial {
namespace {

namespace fs = std::filesystem;
using testing::PortEventsRecorder;
using testing::PtyPair;
using testing::TempDir;

std::string OwnCommand() {
  std::string command;
  std::ifstream comm("/proc/self/comm");
  std::getline(comm, command);
  return command;
}

// What a real open of each path says, with no serial ports on the system.
TEST(OpenFailureTest, EachKindNamesThePathAndTheCause) {
  TempDir folder;
  PtyPair free;
  PtyPair held;
  ASSERT_TRUE(free.ok() && held.ok());
  PortEventsRecorder events;
  SerialPort holder;
  ASSERT_TRUE(holder.OpenPort(events, held.path(), 115200).ok());
  ASSERT_TRUE(fs::create_directory(folder.Path("dir")));
  const std::string file = folder.Write("file", "not a port");
  SystemRoots roots;
  roots.sys = folder.Path("sys");
  roots.dev = folder.Path("dev");

  struct Row {
    const char* name;
    std::string path;
    std::optional<std::string> says;  // none: it opens
  };
  const Row rows[] = {
      {"pty", free.path(), std::nullopt},
      {"missing", "/dev/corvel-no-such-port", "没有找到串口 /dev/corvel-no-such-port, 本机没有串口"},
      {"directory", folder.Path("dir"), folder.Path("dir") + " 是目录, 不是串口"},
      {"regular file", file, file + " 是普通文件, 不是串口"},
      {"not a terminal", "/dev/null", "/dev/null 是设备但不是终端, 不是串口"},
      {"held here", held.path(),
       "串口 " + held.path() + " 正被进程 " + std::to_string(getpid()) + " (" + OwnCommand() + ") 占用, 请先关闭该程序"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SerialPort port;
    const Result<void> opened = port.OpenPort(events, row.path, 115200);
    ASSERT_EQ(opened.ok(), !row.says.has_value());
    if (row.says) {
      EXPECT_EQ(DescribeOpenFailure(row.path, opened.error(), roots), *row.says);
    }
  }
}

// A /proc of our own: pid -> command and the targets of its descriptors.
struct FakeProcess {
  std::string pid;
  std::string command;
  std::vector<std::string> targets;
};

TEST(OpenFailureTest, BusyNamesEveryHolderTheProcTreeShows) {
  TempDir folder;
  const std::string device = folder.Write("ttyUSB0", "");
  const std::string other = folder.Write("other", "");
  fs::create_directory(folder.Path("by-id"));
  fs::create_symlink(device, folder.Path("by-id/usb-adapter"));

  struct Row {
    const char* name;
    std::string path;
    std::vector<FakeProcess> processes;
    std::string says;
  };
  const std::vector<Row> rows = {
      {"nobody visible", device, {{"100", "bash", {other}}},
       "串口 " + device + " 正被其他程序占用, 请先关闭该程序"},
      // In pid order, each once however many descriptors it has; "self" and
      // other names that are no pid are not processes.
      {"several", device,
       {{"200", "screen", {other, device}}, {"31", "minicom", {device, device}}, {"50", "bash", {other}},
        {"self", "bash", {device}}},
       "串口 " + device + " 正被进程 31 (minicom)、200 (screen) 占用, 请先关闭该程序"},
      {"through a link", folder.Path("by-id/usb-adapter"), {{"7", "picocom", {device}}},
       "串口 " + folder.Path("by-id/usb-adapter") + " 正被进程 7 (picocom) 占用, 请先关闭该程序"},
  };
  int tree = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SystemRoots roots;
    roots.proc = folder.Path("proc" + std::to_string(tree++));
    for (const FakeProcess& process : row.processes) {
      const fs::path dir = fs::path(roots.proc) / process.pid;
      fs::create_directories(dir / "fd");
      std::ofstream(dir / "comm") << process.command << "\n";
      int fd = 0;
      for (const std::string& target : process.targets) fs::create_symlink(target, dir / "fd" / std::to_string(fd++));
    }
    EXPECT_EQ(DescribeOpenFailure(row.path, Error{ErrorKind::kBusy, std::strerror(EBUSY)}, roots), row.says);
  }
}

TEST(OpenFailureTest, MissingListsThePortsThatExist) {
  TempDir folder;
  for (const char* name : {"ttyUSB0", "ttyACM0"}) {
    fs::create_directories(fs::path(folder.Path("sys/class/tty")) / name / "device");
    fs::create_directories(folder.Path("dev"));
    std::ofstream(fs::path(folder.Path("dev")) / name).put('\0');
  }
  SystemRoots roots;
  roots.sys = folder.Path("sys");
  roots.dev = folder.Path("dev");
  EXPECT_EQ(DescribeOpenFailure("/dev/ttyUSB9", Error{ErrorKind::kNotFound, std::strerror(ENOENT)}, roots),
            "没有找到串口 /dev/ttyUSB9, 现有串口: " + folder.Path("dev/ttyACM0") + ", " + folder.Path("dev/ttyUSB0"));
}

TEST(OpenFailureTest, WithoutMoreToSayTheSystemTextIsShown) {
  struct Row {
    ErrorKind kind;
    const char* text;
    const char* says;
  };
  const Row rows[] = {
      {ErrorKind::kIo, "Input/output error", "打开串口 /dev/corvel-gone 出错: Input/output error"},
      // Refused, but the node is gone by the time its mode is looked at.
      {ErrorKind::kPermission, "Permission denied", "无权打开串口 /dev/corvel-gone: Permission denied"},
  };
  for (const Row& row : rows) EXPECT_EQ(DescribeOpenFailure("/dev/corvel-gone", Error{row.kind, row.text}), row.says);
}

// A device node only root may open, and one its group may, opened by an
// ordinary user: root opens whatever the mode says, so a child that has
// become user 65534 (nobody) opens it and reports what it would show.
TEST(OpenFailureTest, RefusalSaysHowToGetAccess) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make device nodes and to become another user";
  const group* dialout = getgrnam("dialout");
  if (dialout == nullptr) GTEST_SKIP() << "this system has no dialout group";
  const gid_t dialoutGid = dialout->gr_gid;
  TempDir folder;
  // Searchable by anyone, so only the node's own mode refuses the child.
  ASSERT_EQ(chmod(folder.path().c_str(), 0755), 0);
  struct stat null {};
  ASSERT_EQ(stat("/dev/null", &null), 0);
  const std::string device = folder.Path("ttyUSB0");
  if (mknod(device.c_str(), S_IFCHR | 0600, null.st_rdev) != 0) {
    GTEST_SKIP() << "cannot make a device node here: " << std::strerror(errno);
  }
  // nobody in the member list, as `usermod -aG` leaves it before a new login.
  const std::string joined = folder.Write("group", "dialout:x:" + std::to_string(dialoutGid) + ":root,nobody\n");
  ASSERT_EQ(chmod(joined.c_str(), 0644), 0);

  struct Row {
    const char* name;
    mode_t mode;
    gid_t gid;
    std::string groupFile;
    std::string says;
  };
  const Row rows[] = {
      {"root only", 0600, 0, "",
       "无权打开串口 " + device +
           " (属主 root, 权限 0600): 请把 udev/70-corvel.rules 复制到 /etc/udev/rules.d/ "
           "(安装包已放在 /lib/udev/rules.d/70-corvel.rules), 然后重新插入设备"},
      {"its group may", 0660, dialoutGid, "",
       "无权打开串口 " + device + ": 设备属于 dialout 组, 请执行 sudo usermod -aG dialout $USER 后重新登录"},
      {"joined, not logged in again", 0660, dialoutGid, joined,
       "无权打开串口 " + device + ": 用户已在 dialout 组中, 但本次登录尚未生效, 请重新登录"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(chown(device.c_str(), 0, row.gid), 0);
    ASSERT_EQ(chmod(device.c_str(), row.mode), 0);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(pipeFds[0]);
      if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
      SerialPort port;
      PortEventsRecorder events;
      const Result<void> opened = port.OpenPort(events, device, 115200);
      if (opened.ok()) _exit(4);
      if (opened.error().kind != ErrorKind::kPermission) _exit(5);
      SystemRoots roots;
      roots.groupFile = row.groupFile;
      const std::string says = DescribeOpenFailure(device, opened.error(), roots);
      _exit(write(pipeFds[1], says.data(), says.size()) == static_cast<ssize_t>(says.size()) ? 0 : 6);
    }
    close(pipeFds[1]);
    std::string said;
    char buffer[512];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    // 3: could not become nobody; 4: opened; 5: another kind; 6: the pipe.
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(said, row.says);
  }
}

}  // namespace
}  // namespace corvel::serial
