// corvel-dl info | factory | mac: the chip's identity, its factory OTP page
// and its Bluetooth MAC address.
#include "cli/chip_session.h"
#include "cli/commands.h"
#include "link/device_info.h"

namespace corvel::cli {

void SetupDeviceInfoCommands(CLI::App& app, const GlobalOptions& global, CommandRun& run) {
  struct Entry {
    const char* name;
    const char* summary;
    bool (*operation)(link::Link&);
  };
  static constexpr Entry kEntries[] = {
      {"info", "Read the chip's serial number, identifier, boot loader version and image records",
       link::ReadChipInfo},
      {"factory", "Dump the factory information (OTP page 1)", link::ReadFactoryInfo},
      {"mac", "Show the chip's Bluetooth MAC address", link::ReadMac},
  };
  for (const Entry& entry : kEntries) {
    CLI::App* command = app.add_subcommand(entry.name, entry.summary);
    command->callback([&run, &global, &entry] {
      run = [&global, &entry] {
        return RunChipCommand(global, [&entry](ChipSession& session) {
          return entry.operation(session.link) ? kExitOk : kExitChipFailed;
        });
      };
    });
  }
}

}  // namespace corvel::cli
