// corvel-dl: the command line over the chip operations.
#include <CLI/CLI.hpp>

#include "cli/commands.h"

int main(int argc, char** argv) {
  using namespace corvel::cli;
  CLI::App app{"corvel-dl: download tool for Corvel BLE chips over a serial port.\n"
               "stdout carries the tool's log lines; the exit status says what happened:\n"
               "0 done, 1 the chip refused or did not answer, 2 bad usage or input (nothing sent),\n"
               "3 could not connect (port, sync, handshake, port lost), 130 Ctrl-C."};
  app.set_version_flag("--version", "corvel-dl 1.3.0");
  app.require_subcommand(1);
  // Global options may also follow the subcommand's name.
  app.fallthrough();

  GlobalOptions global;
  app.add_option("-p,--port", global.port, "Serial device, e.g. /dev/ttyUSB0");
  app.add_flag("--sim", global.sim, "Use a simulated chip in this process instead of a port");
  app.add_option("-b,--baud", global.baud, "Line rate in baud")->capture_default_str()->check(CLI::PositiveNumber);
  app.add_option("--password", global.password, "User password, hexadecimal")->capture_default_str();
  app.add_flag("--pkt", global.pkt, "Echo every frame sent and received (TX:/RX: lines)");
  app.add_option("--sync-timeout", global.syncTimeoutSeconds, "Seconds to wait for the chip's sync answer (0: for ever)")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);

  CommandRun run;
  SetupPortsCommand(app, global, run);
  SetupMonitorCommand(app, global, run);
  SetupDeviceInfoCommands(app, global, run);
  SetupRecordCommands(app, global, run);
  SetupDownloadCommands(app, global, run);
  SetupExtensionCommands(app, global, run);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // --help and --version end here too, successfully.
    return app.exit(error) == 0 ? kExitOk : kExitUsage;
  }
  return run ? run() : kExitUsage;
}
