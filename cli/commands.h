// The commands of corvel-dl. Each command lives in its own file with a setup
// function (adds the subcommand and its options to the app) and a run
// function (does the work, returns the exit code).
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace corvel::cli {

// The exit status says what happened; scripts rely on these.
inline constexpr int kExitOk = 0;
inline constexpr int kExitChipFailed = 1;    // the chip refused, or did not answer, a command
inline constexpr int kExitUsage = 2;         // bad usage or bad input; nothing was sent
inline constexpr int kExitNoConnection = 3;  // port missing or busy, no sync, handshake refused, port lost
inline constexpr int kExitInterrupted = 130; // Ctrl-C

// Options that every command may use, given before or after its name.
struct GlobalOptions {
  // Each -p as given; a value with a wildcard (*, ?, [) names every port it matches.
  std::vector<std::string> ports;
  bool sim = false;
  uint32_t baud = 115200;
  std::string password = "0xFFFFFFFF";
  bool pkt = false;
  double syncTimeoutSeconds = 20;
  std::string jsonPath;  // --json FILE; "-" is stdout; empty: none
  bool repeat = false;   // --repeat: the next chip on each port, until Ctrl-C
  std::vector<std::string> commandLine;  // argv as given, for the --json record
};

// What the chosen subcommand runs after parsing.
using CommandRun = std::function<int()>;

void SetupPortsCommand(CLI::App& app, const GlobalOptions& global, CommandRun& run);
void SetupMonitorCommand(CLI::App& app, const GlobalOptions& global, CommandRun& run);
void SetupDeviceInfoCommands(CLI::App& app, const GlobalOptions& global, CommandRun& run);
void SetupRecordCommands(CLI::App& app, const GlobalOptions& global, CommandRun& run);
void SetupDownloadCommands(CLI::App& app, const GlobalOptions& global, CommandRun& run);
void SetupDumpCommand(CLI::App& app, const GlobalOptions& global, CommandRun& run);
void SetupExtensionCommands(CLI::App& app, const GlobalOptions& global, CommandRun& run);

}  // namespace corvel::cli
