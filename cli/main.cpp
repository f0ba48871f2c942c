// corvel-dl: the command line over the chip operations.
#include <CLI/CLI.hpp>

#include "cli/commands.h"

int main(int argc, char** argv) {
  using namespace corvel::cli;
  CLI::App app{"corvel-dl: download tool for Corvel BLE chips over a serial port"};
  app.set_version_flag("--version", "corvel-dl 1.3.0");
  app.require_subcommand(1);
  // Global options may also follow the subcommand's name.
  app.fallthrough();

  GlobalOptions global;
  app.add_option("-p,--port", global.port, "Serial device, e.g. /dev/ttyUSB0");
  app.add_option("-b,--baud", global.baud, "Line rate in baud")->capture_default_str();

  CommandRun run;
  SetupPortsCommand(app, global, run);
  SetupMonitorCommand(app, global, run);

  CLI11_PARSE(app, argc, argv);
  return run ? run() : kExitUsage;
}
