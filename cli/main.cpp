// corvel-dl: the command line over the chip operations.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/argument_text.h"
#include "cli/commands.h"
#include "cli/terminal.h"
#include "text/translation.h"

namespace {

using namespace corvel::cli;

// One example per command, shown at the end of its help.
struct CommandExample {
  const char* command;
  const char* example;
};

constexpr CommandExample kExamples[] = {
    {"ports", "corvel-dl ports -l"},
    {"monitor", "corvel-dl -p /dev/ttyUSB0 monitor --duration 10"},
    {"info", "corvel-dl -p /dev/ttyUSB0 info"},
    {"factory", "corvel-dl -p /dev/ttyUSB0 factory"},
    {"mac", "corvel-dl -p /dev/ttyUSB0 mac"},
    {"read-part", "corvel-dl -p /dev/ttyUSB0 read-part -o ble_part_config.cfg"},
    {"read-access", "corvel-dl -p /dev/ttyUSB0 read-access -o ble_access_config.cfg"},
    {"download", "corvel-dl -p /dev/ttyUSB0 download --speedup 500000 --app app.hex"},
    {"verify", "corvel-dl -p /dev/ttyUSB0 verify --app app.hex"},
    {"dump", "corvel-dl -p /dev/ttyUSB0 dump 0x16000 204800 -o app_read.hex"},
    {"erase-chip", "corvel-dl -p /dev/ttyUSB0 erase-chip"},
    {"erase-user", "corvel-dl -p /dev/ttyUSB0 erase-user"},
    {"full-erase", "corvel-dl -p /dev/ttyUSB0 full-erase"},
    {"page-erase", "corvel-dl -p /dev/ttyUSB0 page-erase 0x60000 512"},
    {"sector-erase", "corvel-dl -p /dev/ttyUSB0 sector-erase 0x60000 4096"},
    {"read-flash", "corvel-dl -p /dev/ttyUSB0 read-flash 0x60000 16"},
    {"write-flash", "corvel-dl -p /dev/ttyUSB0 write-flash 0x60000 data.cfg"},
    {"read-reg", "corvel-dl -p /dev/ttyUSB0 read-reg 0x40000010"},
    {"write-reg", "corvel-dl -p /dev/ttyUSB0 write-reg 0x40000010 0x1"},
    {"otp-read", "corvel-dl -p /dev/ttyUSB0 otp-read 2 0x10 16"},
    {"otp-write", "corvel-dl -p /dev/ttyUSB0 otp-write 2 0x10 data.cfg"},
    {"otp-lock", "corvel-dl -p /dev/ttyUSB0 otp-lock 2 --yes"},
    {"otp-erase", "corvel-dl -p /dev/ttyUSB0 otp-erase 2"},
};

// A subcommand's help lists only its own options; the global ones work after
// its name too, so its footer repeats them, with the example.
void AddHelpFooters(CLI::App& app) {
  const std::vector<const CLI::Option*> globals = std::as_const(app).get_options(
      [&app](const CLI::Option* option) { return option != app.get_help_ptr(); });
  std::string options = CLI::Formatter().make_group("Global options (before or after the command)", false, globals);
  // The footer has its own blank line before it.
  if (!options.empty() && options.front() == '\n') options.erase(0, 1);
  for (CLI::App* command : app.get_subcommands({})) {
    std::string footer = options;
    for (const CommandExample& row : kExamples) {
      if (command->get_name() == row.command) footer += "\nExample:\n  " + std::string(row.example) + "\n";
    }
    command->footer(footer);
  }
}

// CLI11's number checks print their range with hundreds of digits; these
// name what the option takes instead.
void PlainNumberChecks(CLI::App& app) {
  auto replace = [](CLI::Option* option, const char* description, std::string (*message)(const std::string&)) {
    for (int i = 0;; ++i) {
      CLI::Validator* check = nullptr;
      try {
        check = option->get_validator(i);
      } catch (const CLI::OptionNotFound&) {
        return;
      }
      if (check->get_description() != description) continue;
      CLI::Validator plain = *check;
      check->operation([plain, message](std::string& text) {
        return plain(text).empty() ? std::string() : message(text);
      });
    }
  };
  for (CLI::App* command : app.get_subcommands({})) {
    for (CLI::Option* option : command->get_options()) {
      replace(option, "POSITIVE", PositiveNumberError);
      replace(option, "NONNEGATIVE", NonNegativeNumberError);
    }
  }
}

// The first word that stands where the command's name belongs: not an
// option, nor the value of a global option that takes one.
std::string CommandWord(const CLI::App& app, int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.size() < 2 || arg[0] != '-') return std::string(arg);
    if (arg == "--") return i + 1 < argc ? argv[i + 1] : "";
    const bool longName = arg[1] == '-';
    if ((longName && arg.find('=') != std::string_view::npos) || (!longName && arg.size() > 2)) continue;
    const CLI::Option* option = app.get_option_no_throw(std::string(arg));
    if (option != nullptr && option->get_expected_min() > 0) ++i;
  }
  return "";
}

// --lang, else CORVEL_LANG, else Chinese. A wrong --lang is a usage error
// (its check rejects it while parsing); a wrong CORVEL_LANG only warns, so a
// stale environment does not stop a production line.
void ChooseLanguage(const std::string& option) {
  if (!option.empty()) {
    corvel::text::SetLanguage(*corvel::text::ParseLanguage(option));
    return;
  }
  const char* environment = std::getenv("CORVEL_LANG");
  if (environment == nullptr || *environment == '\0') return;
  if (const auto language = corvel::text::ParseLanguage(environment)) {
    corvel::text::SetLanguage(*language);
  } else {
    std::fprintf(stderr, "corvel-dl: CORVEL_LANG=%s is neither zh nor en; using zh\n", environment);
  }
}

int ReportUnknownCommand(const CLI::App& app, int argc, char** argv) {
  const std::string word = CommandWord(app, argc, argv);
  if (word.empty()) return -1;
  std::vector<std::string> names;
  for (const CLI::App* command : app.get_subcommands({})) {
    if (command->get_name() == word) return -1;
    names.push_back(command->get_name());
  }
  std::fputs(UnknownCommandMessage(word, NearestCommand(word, names)).c_str(), stderr);
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  PrepareConsole();
  std::vector<std::string> arguments = Utf8Arguments(argc, argv);
  std::vector<char*> utf8Argv;
  for (std::string& argument : arguments) utf8Argv.push_back(argument.data());
  utf8Argv.push_back(nullptr);
  argv = utf8Argv.data();
  CLI::App app{"corvel-dl: download tool for Corvel BLE chips over a serial port.\n"
               "stdout carries the tool's log lines; the exit status says what happened:\n"
               "0 done, 1 the chip refused or did not answer, 2 bad usage or input (nothing sent),\n"
               "3 could not connect (port, sync, handshake, port lost), 130 Ctrl-C."};
  app.set_version_flag("--version", "corvel-dl " CORVEL_VERSION);
  app.require_subcommand(1);
  // Global options may also follow the subcommand's name.
  app.fallthrough();

  GlobalOptions global;
  global.commandLine.assign(argv, argv + argc);
  // Read as text and checked after parsing, so that an error names the
  // option the way its help does.
  std::string baudText = std::to_string(global.baud);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%g", global.syncTimeoutSeconds);
  std::string syncTimeoutText = seconds;
  app.add_option("-p,--port", global.ports,
                 "Serial device, e.g. /dev/ttyUSB0; give it again for more ports, or a wildcard such as "
                 "'/dev/ttyUSB*'")
      ->type_name("PATH")
      ->allow_extra_args(false);
  app.add_flag("--sim", global.sim, "Use a simulated chip in this process instead of a port");
  app.add_option("-b,--baud", baudText, "Line rate in baud")->capture_default_str()->type_name("RATE");
  app.add_option("--password", global.password, "User password, hexadecimal")->capture_default_str();
  app.add_flag("--pkt", global.pkt, "Echo every frame sent and received (TX:/RX: lines)");
  app.add_option("--sync-timeout", syncTimeoutText,
                 "Seconds to wait for the chip's sync answer, 0 to 86400 (0: for ever)")
      ->capture_default_str()
      ->type_name("SECONDS");
  app.add_option("--json", global.jsonPath, "Write each run's record as JSON to FILE ('-': stdout; the log goes to stderr)")
      ->type_name("FILE");
  app.add_flag("--repeat", global.repeat,
               "A production station: after each chip, wait for the next one on every port, until Ctrl-C");
  std::string language;
  app.add_option("--lang", language, "Language of the messages: zh (the default) or en; also CORVEL_LANG")
      ->check(CLI::IsMember({"zh", "en"}))
      ->type_name("LANG");

  CommandRun run;
  SetupPortsCommand(app, global, run);
  SetupMonitorCommand(app, global, run);
  SetupDeviceInfoCommands(app, global, run);
  SetupRecordCommands(app, global, run);
  SetupDownloadCommands(app, global, run);
  SetupDumpCommand(app, global, run);
  SetupExtensionCommands(app, global, run);
  AddHelpFooters(app);
  PlainNumberChecks(app);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() != 0 && app.get_subcommands().empty()) {
      if (const int status = ReportUnknownCommand(app, argc, argv); status >= 0) return status;
    }
    // --help and --version end here too, successfully.
    return app.exit(error) == 0 ? kExitOk : kExitUsage;
  }
  ChooseLanguage(language);
  for (const std::optional<std::string>& error :
       {ReadBaud(baudText, global.baud), ReadSyncTimeout(syncTimeoutText, global.syncTimeoutSeconds)}) {
    if (error) {
      std::fprintf(stderr, "%s\n", error->c_str());
      return kExitUsage;
    }
  }
  return run ? run() : kExitUsage;
}
