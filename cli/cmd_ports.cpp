// corvel-dl ports: the serial ports the system has, one device path a line;
// with --long, the path followed by what the system knows of the adapter.
#include <cstdio>
#include <memory>

#include "cli/commands.h"
#include "serial/port_list.h"

namespace corvel::cli {
namespace {

int RunPorts(bool longForm) {
  for (const serial::PortDetails& port : serial::ListPortDetails()) {
    std::printf("%s\n", longForm ? serial::DescribePort(port).c_str() : port.path.c_str());
  }
  return kExitOk;
}

}  // namespace

void SetupPortsCommand(CLI::App& app, const GlobalOptions& /*global*/, CommandRun& run) {
  CLI::App* command = app.add_subcommand("ports", "List the serial ports, one device path per line");
  auto longForm = std::make_shared<bool>(false);
  command->add_flag("-l,--long", *longForm, "Add the adapter's identity (USB ids, names, driver, by-id link)");
  command->callback([&run, longForm] { run = [longForm] { return RunPorts(*longForm); }; });
}

}  // namespace corvel::cli
