#include "serial/port_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/temp_dir.h"

namespace corvel::serial {
namespace {

namespace fs = std::filesystem;

class PortListTest : public ::testing::Test {
 protected:
  // A tty in the fake sysfs; `device` gives it hardware, `type` is the uart
  // type file of the 8250 ports, `node` a node in the fake /dev.
  void AddTty(const std::string& name, bool device, const char* type, bool node) {
    const fs::path dir = root / "sys/class/tty" / name;
    fs::create_directories(dir);
    if (device) fs::create_directories(dir / "device");
    if (type != nullptr) std::ofstream(dir / "type") << type << "\n";
    if (node) {
      fs::create_directories(root / "dev");
      std::ofstream(root / "dev" / name).put('\0');
    }
  }
  std::vector<std::string> List() { return ListPorts((root / "sys").string(), (root / "dev").string()); }
  std::string Dev(const std::string& name) { return (root / "dev" / name).string(); }

  const testing::TempDir folder;
  const fs::path root{folder.path()};
};

TEST_F(PortListTest, ListsTtysWithHardwareSorted) {
  AddTty("ttyUSB1", true, nullptr, true);
  AddTty("ttyACM0", true, nullptr, true);
  AddTty("ttyUSB0", true, nullptr, true);
  AddTty("ttyS0", true, "4", true);       // a 16550A
  AddTty("ttyS1", true, "0", true);       // no UART fitted
  AddTty("tty1", false, nullptr, true);   // a virtual console
  AddTty("ttyAMA0", true, nullptr, false);  // no node here
  EXPECT_EQ(List(), (std::vector<std::string>{Dev("ttyACM0"), Dev("ttyS0"), Dev("ttyUSB0"), Dev("ttyUSB1")}));
}

TEST_F(PortListTest, NoTreeGivesAnEmptyList) { EXPECT_TRUE(List().empty()); }

}  // namespace
}  // namespace corvel::serial
