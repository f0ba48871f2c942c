// corvel-dl ports: the serial ports the system has, one device path a line.
#include <cstdio>

#include "cli/commands.h"
#include "serial/port_list.h"

namespace corvel::cli {
namespace {

int RunPorts() {
  for (const std::string& port : serial::ListPorts()) std::printf("%s\n", port.c_str());
  return kExitOk;
}

}  // namespace

void SetupPortsCommand(CLI::App& app, const GlobalOptions& /*global*/, CommandRun& run) {
  CLI::App* command = app.add_subcommand("ports", "List the serial ports, one device path per line");
  command->callback([&run] { run = RunPorts; });
}

}  // namespace corvel::cli
