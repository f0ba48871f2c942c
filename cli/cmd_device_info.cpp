// corvel-dl info | factory | mac: the chip's identity, its factory OTP page
// and its Bluetooth MAC address.
#include "cli/chip_session.h"
#include "cli/commands.h"
#include "program/device_info.h"

namespace corvel::cli {

void SetupDeviceInfoCommands(CLI::App& app, const GlobalOptions& global, CommandRun& run) {
  AddLinkCommand(app, global, run, "info",
                 "Read the chip's serial number, identifier, boot loader version and image records",
                 program::ReadChipInfo);
  AddLinkCommand(app, global, run, "factory", "Dump the factory information (OTP page 1)", program::ReadFactoryInfo);
  AddLinkCommand(app, global, run, "mac", "Show the chip's Bluetooth MAC address", program::ReadMac);
}

}  // namespace corvel::cli
