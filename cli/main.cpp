// corvel-dl: the command line over the chip operations.
#include <CLI/CLI.hpp>

int main(int argc, char** argv) {
  CLI::App app{"corvel-dl: download tool for Corvel BLE chips over a serial port"};
  app.set_version_flag("--version", "corvel-dl 1.3.0");
  CLI11_PARSE(app, argc, argv);
  return 0;
}
