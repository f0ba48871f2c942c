// corvel-dl monitor: copies the chip's console text to stdout as it arrives,
// until Ctrl-C or the duration. Sends nothing.
#include <algorithm>
#include <cstdio>
#include <limits>
#include <string_view>

#include "cli/chip_session.h"
#include "cli/commands.h"
#include "cli/signal_watcher.h"
#include "host/port_host.h"
#include "link/link.h"
#include "log/log.h"
#include "text/translation.h"

namespace corvel::cli {
namespace {

// How often the received text is moved to stdout.
constexpr uint64_t kFlushMicros = 60000;

struct MonitorOptions {
  double durationSeconds = 0;
};

int RunMonitor(const GlobalOptions& global, const MonitorOptions& options) {
  host::PortHost host;
  SignalWatcher signals([&host] { host.PostInterrupt(); });
  Target target;
  const std::string path = target.Resolve(global);
  if (path.empty()) return global.sim ? kExitNoConnection : kExitUsage;
  bool interrupted = false;
  host.SetInterruptHandler([&interrupted] { interrupted = true; });
  host.SetPortErrorHandler([](const std::string& text) { std::fputs(text.c_str(), stderr); });

  StdoutSink sink(/*showConsoleText=*/true);
  log::Log log(sink);
  link::Link link(host, log);  // text mode: everything received is console text
  host.SetLink(&link);

  if (const Result<void> opened = host.OpenPort(path, global.baud); !opened.ok()) {
    ReportOpenFailure(path, opened.error());
    return kExitNoConnection;
  }

  const uint64_t start = host.NowMicros();
  const uint64_t end = options.durationSeconds > 0
                           ? start + static_cast<uint64_t>(options.durationSeconds * 1e6)
                           : std::numeric_limits<uint64_t>::max();
  uint64_t nextFlush = start + kFlushMicros;
  while (!interrupted && !host.PortLost()) {
    const uint64_t now = host.NowMicros();
    if (now >= end) break;
    if (now >= nextFlush) {
      log.FlushReceivedText();
      nextFlush = now + kFlushMicros;
    }
    host.WaitUntil(std::min(end, nextFlush));
  }
  host.PumpMessages();  // a chunk read just before the end still goes out
  log.FlushReceivedText();
  host.ClosePort();
  if (host.PortLost()) {
    std::fprintf(stderr, Tr("串口已断开: %s: %s\n"), path.c_str(), host.LostReason().c_str());
    return kExitNoConnection;
  }
  return kExitOk;
}

}  // namespace

void SetupMonitorCommand(CLI::App& app, const GlobalOptions& global, CommandRun& run) {
  auto options = std::make_shared<MonitorOptions>();
  CLI::App* command = app.add_subcommand("monitor", "Print the chip's console text as it arrives (sends nothing)");
  command->add_option("--duration", options->durationSeconds, "Stop after this many seconds (default: until Ctrl-C)")
      ->check(CLI::NonNegativeNumber);
  command->callback([&run, &global, options] { run = [&global, options] { return RunMonitor(global, *options); }; });
}

}  // namespace corvel::cli
