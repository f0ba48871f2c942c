// corvel-sim: a simulated Corvel boot loader on a pseudo-terminal. Prints the
// device path as its first line, serves until SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "sim/pty_server.h"

namespace {

bool ParseHex32(std::string text, uint32_t& value) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.erase(0, 2);
  if (text.empty() || text.size() > 8 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    return false;
  }
  value = static_cast<uint32_t>(std::stoul(text, nullptr, 16));
  return true;
}

// One line: how many answers, and how late the median, the 99th percentile
// and the latest were written against the line model, in microseconds.
std::string LatenessLine(const corvel::sim::LatenessFigures& f) {
  char line[160];
  std::snprintf(line, sizeof line, "answers=%zu median_us=%.1f p99_us=%.1f max_us=%.1f", f.answers,
                static_cast<double>(f.medianNanos) / 1000, static_cast<double>(f.p99Nanos) / 1000,
                static_cast<double>(f.maxNanos) / 1000);
  return line;
}

bool WriteLateness(const std::string& path, const std::string& line) {
  if (path == "-") {
    std::cerr << "corvel-sim: lateness " << line << '\n';
    return true;
  }
  std::ofstream file(path, std::ios::trunc);
  file << line << '\n';
  return static_cast<bool>(file.flush());
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"corvel-sim: a simulated Corvel boot loader on a pseudo-terminal"};
  app.set_version_flag("--version", "corvel-sim 1.3.0");
  std::string linkPath;
  std::string password;
  std::string stateFile;
  bool noPace = false;
  std::vector<std::string> faultTexts;
  bool verbose = false;
  unsigned handshakeStatus = 0x20;
  bool answer81 = false;
  uint32_t syncAfter = 1;
  uint32_t consolePeriodMs = 1000;
  bool noBanner = false;
  uint32_t baud = 115200;
  uint32_t switchDelayMs = 5;
  uint32_t adapterLatencyMs = 0;
  std::string latenessReport;
  std::string serialText;
  bool newChipOnDisconnect = false;
  app.add_option("--link", linkPath, "Also make PATH a symbolic link to the device");
  app.add_option("--password", password, "Accept only this handshake password (hexadecimal)");
  app.add_option("--state", stateFile, "Load flash, OTP, registers and locks from FILE, save them at exit");
  app.add_flag("--no-pace", noPace, "Answer as fast as possible instead of at the line rate");
  app.add_option("--fault", faultTexts, "Inject a fault (see docs/simulator.md); repeatable")->type_name("FAULT");
  app.add_flag("-v,--verbose", verbose, "Log every frame on stderr");
  app.add_option("--handshake-status", handshakeStatus, "Status of an accepted handshake")
      ->check(CLI::IsMember({0x20u, 0x30u}));
  app.add_flag("--answer-81", answer81, "Answer the 0x81 sent after the handshake");
  app.add_option("--sync-after", syncAfter, "Answer only the N-th wake-up burst (a late reset)")
      ->check(CLI::Range(1u, 1000000u));
  app.add_option("--console-period", consolePeriodMs, "Milliseconds between console lines, 0 for none");
  app.add_flag("--no-banner", noBanner, "Print no banner");
  app.add_option("--baud", baud, "Line rate before the tool sets one")->check(CLI::Range(50u, 4000000u));
  app.add_option("--switch-delay", switchDelayMs,
                 "Milliseconds the chip keeps its old rate after answering a rate switch, losing what arrives")
      ->check(CLI::Range(0u, 60000u));
  app.add_option("--adapter-latency", adapterLatencyMs,
                 "Milliseconds a USB adapter holds bytes short of a full packet (its latency timer)")
      ->check(CLI::Range(0u, 255u));
  app.add_option("--lateness", latenessReport,
                 "At exit, write how late the answers left against the line model (median, 99th percentile) "
                 "to FILE, or to stderr for -")
      ->type_name("FILE");
  app.add_option("--serial", serialText, "The chip's serial number (hexadecimal; default 12345678)");
  app.add_flag("--new-chip-on-disconnect", newChipOnDisconnect,
               "Each disconnect seats the next chip: the serial number counts up by one");
  CLI11_PARSE(app, argc, argv);

  corvel::sim::SimOptions options;
  options.linkPath = linkPath;
  options.stateFile = stateFile;
  options.pace = !noPace;
  options.initialRate = baud;
  options.switchDelayMicros = static_cast<uint64_t>(switchDelayMs) * 1000;
  options.adapterLatencyMicros = static_cast<uint64_t>(adapterLatencyMs) * 1000;
  options.verbose = verbose;
  options.log = [](std::string_view line) { std::cerr << line << '\n'; };
  corvel::sim::ModelOptions& model = options.model;
  if (!password.empty()) {
    uint32_t value = 0;
    if (!ParseHex32(password, value)) {
      std::cerr << "corvel-sim: --password must be up to eight hexadecimal digits\n";
      return 2;
    }
    model.password = value;
  }
  for (const std::string& text : faultTexts) {
    if (corvel::Result<void> parsed = corvel::sim::ParseFault(text, model.faults); !parsed) {
      std::cerr << "corvel-sim: " << parsed.error().text << '\n';
      return 2;
    }
  }
  if (!serialText.empty() && !ParseHex32(serialText, model.serialNumber)) {
    std::cerr << "corvel-sim: --serial must be up to eight hexadecimal digits\n";
    return 2;
  }
  model.newChipOnDisconnect = newChipOnDisconnect;
  model.handshakeStatus = static_cast<uint8_t>(handshakeStatus);
  model.answer81 = answer81;
  model.syncAfterBursts = syncAfter;
  model.consolePeriodMicros = static_cast<uint64_t>(consolePeriodMs) * 1000;
  if (noBanner) model.banner.clear();

  // Signals are taken by sigwait below, never by a handler, in every thread.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  const pthread_t mainThread = pthread_self();
  options.onEnded = [mainThread] { pthread_kill(mainThread, SIGUSR1); };

  corvel::sim::PtyServer server;
  corvel::Result<std::string> path = server.Start(options);
  if (!path) {
    std::cerr << "corvel-sim: " << path.error().text << '\n';
    return 1;
  }
  std::cout << *path << std::endl;

  int signal = 0;
  sigwait(&signals, &signal);
  if (signal == SIGUSR1) std::cerr << "corvel-sim: the simulated adapter has gone\n";
  const corvel::Result<void> stopped = server.Stop();
  if (!latenessReport.empty() && !WriteLateness(latenessReport, LatenessLine(server.Lateness()))) {
    std::cerr << "corvel-sim: cannot write " << latenessReport << '\n';
    return 1;
  }
  if (!stopped) {
    std::cerr << "corvel-sim: " << stopped.error().text << '\n';
    return 1;
  }
  return 0;
}
