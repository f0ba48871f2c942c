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
  std::vector<PortDetails> Details() { return ListPortDetails((root / "sys").string(), (root / "dev").string()); }
  std::string Dev(const std::string& name) { return (root / "dev" / name).string(); }

  // A relative link, as sysfs and udev make them.
  static void Link(const fs::path& link, const fs::path& target) {
    fs::create_directories(link.parent_path());
    if (!fs::exists(target)) fs::create_directories(target);
    fs::create_symlink(fs::relative(target, link.parent_path()), link);
  }
  static void Attribute(const fs::path& dir, const char* name, const char* text) {
    if (text != nullptr) std::ofstream(dir / name) << text << "\n";
  }
  void Node(const std::string& name) {
    fs::create_directories(root / "dev");
    std::ofstream(root / "dev" / name).put('\0');
  }

  // A tty of a USB device on bus path `busPath` (1-2): a usb-serial port
  // below the interface (ttyUSBn), or the interface itself (ttyACMn).
  struct Usb {
    const char* tty;
    const char* busPath;
    const char* driver;
    const char* vendor;
    const char* product;
    const char* manufacturerText;  // null: the device has none
    const char* productText;
    const char* serialText;
  };
  void AddUsb(const Usb& usb) {
    const fs::path device = root / "sys/devices/pci0000:00/0000:00:14.0/usb1" / usb.busPath;
    const fs::path interface = device / (std::string(usb.busPath) + ":1.0");
    const bool acm = std::string(usb.tty).rfind("ttyACM", 0) == 0;
    const fs::path port = acm ? interface : interface / usb.tty;
    const fs::path tty = port / "tty" / usb.tty;
    Link(root / "sys/class/tty" / usb.tty, tty);
    Link(tty / "device", port);
    Link(port / "driver", root / (acm ? "sys/bus/usb/drivers" : "sys/bus/usb-serial/drivers") / usb.driver);
    Attribute(interface, "bInterfaceNumber", "00");
    Attribute(device, "idVendor", usb.vendor);
    Attribute(device, "idProduct", usb.product);
    Attribute(device, "manufacturer", usb.manufacturerText);
    Attribute(device, "product", usb.productText);
    Attribute(device, "serial", usb.serialText);
    Node(usb.tty);
  }

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

TEST_F(PortListTest, NoTreeGivesAnEmptyList) {
  EXPECT_TRUE(List().empty());
  EXPECT_TRUE(Details().empty());
}

TEST_F(PortListTest, DetailsOfUsbAndPlatformPorts) {
  AddUsb({"ttyUSB0", "1-2", "cp210x", "10c4", "ea60", "Silicon Labs", "CP2102 USB to UART Bridge Controller", "0001"});
  AddUsb({"ttyUSB1", "1-3", "ftdi_sio", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI"});
  const std::string ftdiId = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
  Link(root / "dev/serial/by-id" / ftdiId, root / "dev/ttyUSB1");
  AddUsb({"ttyACM0", "1-4", "cdc_acm", "1a86", "55d3", nullptr, "USB Single Serial", nullptr});
  const fs::path uart = root / "sys/devices/platform/serial8250";
  Link(root / "sys/class/tty/ttyS0", uart / "tty/ttyS0");
  Link(uart / "tty/ttyS0/device", uart);
  Link(uart / "driver", root / "sys/bus/platform/drivers/serial8250");
  Attribute(uart / "tty/ttyS0", "type", "4");
  Node("ttyS0");
  // Newer kernels: the serial core's port and controller devices below the UART.
  const fs::path pnp = root / "sys/devices/pnp0/00:01";
  const fs::path corePort = pnp / "00:01:0/00:01:0.0";
  Link(root / "sys/class/tty/ttyS1", corePort / "tty/ttyS1");
  Link(corePort / "tty/ttyS1/device", corePort);
  for (const fs::path& core : {corePort, corePort.parent_path()}) {
    Link(core / "subsystem", root / "sys/bus/serial-base");
    Link(core / "driver", root / "sys/bus/serial-base/drivers" / (core == corePort ? "port" : "ctrl"));
  }
  Link(pnp / "driver", root / "sys/bus/pnp/drivers/serial");
  Attribute(corePort / "tty/ttyS1", "type", "4");
  Node("ttyS1");

  const std::vector<std::string> lines = {
      Dev("ttyACM0") + " usb=1a86:55d3 product=\"USB Single Serial\" interface=0 driver=cdc_acm",
      Dev("ttyS0") + " driver=serial8250",
      Dev("ttyS1") + " driver=serial",
      Dev("ttyUSB0") +
          " usb=10c4:ea60 manufacturer=\"Silicon Labs\" product=\"CP2102 USB to UART Bridge Controller\""
          " serial=\"0001\" interface=0 driver=cp210x",
      Dev("ttyUSB1") + " usb=0403:6001 manufacturer=\"FTDI\" product=\"FT232R USB UART\" serial=\"A50285BI\""
                       " interface=0 driver=ftdi_sio by-id=" + (root / "dev/serial/by-id" / ftdiId).string(),
  };
  const std::vector<PortDetails> details = Details();
  std::vector<std::string> described;
  for (const PortDetails& port : details) described.push_back(DescribePort(port));
  EXPECT_EQ(described, lines);
  EXPECT_EQ(List(),
            (std::vector<std::string>{Dev("ttyACM0"), Dev("ttyS0"), Dev("ttyS1"), Dev("ttyUSB0"), Dev("ttyUSB1")}));
  ASSERT_EQ(details.size(), 5u);
  EXPECT_EQ(details[4].product, "FT232R USB UART");
  EXPECT_FALSE(details[1].usb);
  EXPECT_EQ(details[1].interfaceNumber, -1);
}

TEST(DescribePortTest, DeviceTextsStayOnOneQuotedLine) {
  struct Row {
    const char* name;
    std::string product;
    std::string line;
  };
  const Row rows[] = {
      {"plain", "UART", "/dev/ttyUSB0 product=\"UART\""},
      {"quote and backslash", "A \"B\" C\\", "/dev/ttyUSB0 product=\"A \\\"B\\\" C\\\\\""},
      {"line end and control", "A\nB\x7f", "/dev/ttyUSB0 product=\"A\\x0aB\\x7f\""},
      {"UTF-8 kept", "串口", "/dev/ttyUSB0 product=\"串口\""},
      {"empty left out", "", "/dev/ttyUSB0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    PortDetails port;
    port.path = "/dev/ttyUSB0";
    port.product = row.product;
    EXPECT_EQ(DescribePort(port), row.line);
  }
}

}  // namespace
}  // namespace corvel::serial
