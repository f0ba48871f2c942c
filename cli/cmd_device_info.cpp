// corvel-dl info | factory | mac: the chip's identity, its factory OTP page
// and its Bluetooth MAC address.
#include "cli/chip_session.h"
#include "cli/commands.h"
#include "program/device_info.h"

namespace corvel::cli {

void SetupDeviceInfoCommands(CLI::App& app, const GlobalOptions& global, CommandRun& run) {
  CLI::App* info =
      app.add_subcommand("info", "Read the chip's serial number, identifier, boot loader version and image records");
  info->callback([&run, &global] {
    run = [&global] {
      return RunChipCommand(global, "info", [](ChipSession& session) {
        program::ChipIdentity identity;
        const bool ok = program::ReadChipInfo(session.link, &identity);
        // What the runner read itself stays where this read nothing.
        if (identity.serial) session.record.serial = identity.serial;
        session.record.chipId = identity.chipId;
        session.record.bootVersion = identity.bootVersion;
        return ok ? kExitOk : kExitChipFailed;
      });
    };
  });
  AddLinkCommand(app, global, run, "factory", "Dump the factory information (OTP page 1)", program::ReadFactoryInfo);
  AddLinkCommand(app, global, run, "mac", "Show the chip's Bluetooth MAC address", program::ReadMac);
}

}  // namespace corvel::cli
