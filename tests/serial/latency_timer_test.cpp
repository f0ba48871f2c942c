#include "serial/latency_timer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/temp_dir.h"

namespace corvel::serial {
namespace {

namespace fs = std::filesystem;

constexpr fs::perms kWritable =
    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;
constexpr fs::perms kReadOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;

// A USB serial adapter ttyUSB0 under `sys`, laid out as the kernel does: the
// class entry and the device are links. `driver` null: no driver link.
// Returns its latency_timer file.
fs::path AddAdapter(const fs::path& sys, const char* driver, const char* timer, fs::perms perms) {
  const fs::path port = sys / "devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0";
  fs::create_directories(port / "tty/ttyUSB0");
  fs::create_directories(sys / "class/tty");
  fs::create_directory_symlink("../../devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0",
                               sys / "class/tty/ttyUSB0");
  fs::create_directory_symlink("../../../ttyUSB0", port / "tty/ttyUSB0/device");
  if (driver != nullptr) {
    fs::create_directories(sys / "bus/usb-serial/drivers" / driver);
    fs::create_directory_symlink(std::string("../../../../../../../bus/usb-serial/drivers/") + driver,
                                 port / "driver");
  }
  std::ofstream(port / "latency_timer") << timer;
  fs::permissions(port / "latency_timer", perms);
  return port / "latency_timer";
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(LatencyTimerTest, LowersAnFtdiTimerWhileOpenAndRestoresIt) {
  struct Row {
    const char* name;
    const char* driver;
    const char* timer;
    fs::perms perms;
    const char* whileOpen;  // the file between Lower and Restore; afterwards it reads `timer` again
  };
  const Row rows[] = {
      {"FTDI at 16 ms", "ftdi_sio", "16\n", kWritable, "1\n\n"},  // written in place, as sysfs takes it
      {"FTDI already at 1 ms", "ftdi_sio", "1\n", kWritable, "1\n"},
      {"FTDI, timer not writable", "ftdi_sio", "16\n", kReadOnly, "16\n"},
      {"FTDI, unreadable value", "ftdi_sio", "x\n", kWritable, "x\n"},
      {"not FTDI", "cp210x", "16\n", kWritable, "16\n"},
      {"no driver", nullptr, "16\n", kWritable, "16\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const testing::TempDir folder;
    const fs::path sys = fs::path(folder.path()) / "sys";
    const fs::path timer = AddAdapter(sys, row.driver, row.timer, row.perms);

    LatencyTimer latency;
    latency.Lower("ttyUSB0", sys.string());
    EXPECT_EQ(ReadFile(timer), row.whileOpen);
    latency.Restore();
    EXPECT_FALSE(latency.lowered());
    EXPECT_EQ(ReadFile(timer), row.timer);
  }
}

TEST(LatencyTimerTest, UnpluggedOrAbsentIsQuiet) {
  const testing::TempDir folder;
  const fs::path sys = fs::path(folder.path()) / "sys";
  const fs::path timer = AddAdapter(sys, "ftdi_sio", "16\n", kWritable);
  {
    LatencyTimer latency;
    latency.Lower("7", sys.string());  // a pseudo-terminal has no class entry
    EXPECT_FALSE(latency.lowered());
    latency.Lower("ttyUSB0", (fs::path(folder.path()) / "no-sys").string());
    EXPECT_FALSE(latency.lowered());

    latency.Lower("ttyUSB0", sys.string());
    ASSERT_TRUE(latency.lowered());
    fs::remove_all(sys / "devices");  // unplugged while open
  }  // restores on destruction, into nothing
  EXPECT_FALSE(fs::exists(timer));

  // Destruction alone restores the timer.
  const fs::path again = AddAdapter(fs::path(folder.path()) / "sys2", "ftdi_sio", "16\n", kWritable);
  {
    LatencyTimer latency;
    latency.Lower("ttyUSB0", (fs::path(folder.path()) / "sys2").string());
    EXPECT_TRUE(latency.lowered());
  }
  EXPECT_EQ(ReadFile(again), "16\n");
}

}  // namespace
}  // namespace corvel::serial
