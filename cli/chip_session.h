// What every chip command shares: open the port (or the in-process simulated
// chip), connect, run the operation, disconnect, and turn the outcome into
// the exit status.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "cli/run_record.h"
#include "config/atomic_file.h"
#include "host/port_host.h"
#include "link/connection.h"
#include "link/link.h"
#include "log/log.h"
#include "sim/pty_server.h"

namespace corvel::cli {

// The log pane of the command line: every line to stdout as it is logged
// (stderr when --json writes to stdout), after the port's prefix when the
// run has several ports. Console text is shown only where a command asks for
// it (monitor).
class StdoutSink : public log::LogSink {
 public:
  explicit StdoutSink(bool showConsoleText = false, std::string prefix = {})
      : showConsoleText_(showConsoleText), prefix_(std::move(prefix)) {}
  void AppendLine(std::string_view line) override;
  void AppendText(std::string_view text) override;
  void Clear() override {}
  void AppendHint(std::string_view hint) override;
  // Text for stderr as it is, each line prefixed.
  void AppendError(std::string_view text);

 private:
  bool showConsoleText_;
  std::string prefix_;
};

// The device the command talks to: the port given with -p, or a simulated
// chip started in this process with --sim.
class Target {
 public:
  // Empty path and a message on stderr when the simulated chip could not start.
  std::string StartSim(const GlobalOptions& global);
  // The one port of a command that takes one (-p, expanded, or --sim); empty
  // path and a message on stderr when there is none or more than one.
  std::string Resolve(const GlobalOptions& global);

 private:
  std::unique_ptr<sim::PtyServer> sim_;
};

struct ChipSession {
  // `prefix` starts each of the port's lines ("ttyUSB0: ") when the run has several.
  explicit ChipSession(std::string prefix = {}) : sink(false, std::move(prefix)) {}

  host::PortHost host;
  StdoutSink sink;
  log::Log log{sink};
  link::Link link{host, log};
  link::Connection connection{link};
  // What Ctrl-C does while the operation runs (the download's abort); the
  // operation's current wait still runs to its end, as a click would.
  std::function<void()> onInterrupt;
  bool interrupted = false;
  // What the run did, for the summary and --json; the operation may add its steps.
  RunRecord record;
  // Why the operation failed where the link's last transaction does not say
  // it ("mismatch": a verify read back other bytes); set by the operation.
  std::optional<std::string> failure;
  // With --repeat: the chips done and failed on this port.
  int chipsDone = 0;
  int chipsFailed = 0;
  // A transfer's progress: the bar with one port, the port's status line with several.
  std::function<void(int position, uint32_t sent, uint32_t total)> progress;
  // A line for the log stream after the disconnect when the command succeeded
  // (read-reg's value, as the window fills its data box after the log).
  std::optional<std::string> resultLine;
};

// The text of a port that did not open: that it did not, then why.
std::string OpenFailureText(const std::string& path, const Error& error);
// Those two lines on stderr.
void ReportOpenFailure(const std::string& path, const Error& error);

// Where a command's output file went, so a script or a user finds it: on
// stderr, since stdout keeps the log ("文件已写入: PATH", or "PATH -> TARGET").
void ReportWritten(ChipSession& session, const config::OutputFile& file);

// `operation` returns kExitOk or kExitChipFailed (or kExitUsage for its own
// bad input). Everything before and after it (the connection lines, the
// disconnect) is done here, on every port at once, each in its own thread
// with its own session; `operation` only reads what it shares. `command`
// names the operation's step in the record. The run exits with the largest
// of the ports' statuses. `checkPorts`, where given, sees the ports' paths
// as given (none for --sim) before anything is opened, so a file named after
// each port can be checked; a status other than kExitOk ends the run with it.
int RunChipCommand(const GlobalOptions& global, const char* command,
                   const std::function<int(ChipSession&)>& operation,
                   const std::function<int(const std::vector<std::string>& ports)>& checkPorts = {});

// A chip command whose operation is one function over the link that returns
// true when every command it sent succeeded.
void AddLinkCommand(CLI::App& app, const GlobalOptions& global, CommandRun& run, const char* name,
                    const char* summary, bool (*operation)(link::Link&));

}  // namespace corvel::cli
