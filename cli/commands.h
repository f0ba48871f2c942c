// The commands of corvel-dl. Each command lives in its own file with a setup
// function (adds the subcommand and its options to the app) and a run
// function (does the work, returns the exit code).
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <string>

namespace corvel::cli {

// Exit codes shared by the commands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitPortUnavailable = 3;
inline constexpr int kExitPortLost = 4;

// Options that every command may use, given before or after its name.
struct GlobalOptions {
  std::string port;
  uint32_t baud = 115200;
};

// What the chosen subcommand runs after parsing.
using CommandRun = std::function<int()>;

void SetupPortsCommand(CLI::App& app, const GlobalOptions& global, CommandRun& run);
void SetupMonitorCommand(CLI::App& app, const GlobalOptions& global, CommandRun& run);

}  // namespace corvel::cli
