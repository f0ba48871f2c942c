// What every chip command shares: open the port (or the in-process simulated
// chip), connect, run the operation, disconnect, and turn the outcome into
// the exit status.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "cli/run_record.h"
#include "host/port_host.h"
#include "link/connection.h"
#include "link/link.h"
#include "log/log.h"
#include "sim/pty_server.h"

namespace corvel::cli {

// The log pane of the command line: every line to stdout as it is logged.
// Console text is shown only where a command asks for it (monitor).
class StdoutSink : public log::LogSink {
 public:
  explicit StdoutSink(bool showConsoleText = false) : showConsoleText_(showConsoleText) {}
  void AppendLine(std::string_view line) override;
  void AppendText(std::string_view text) override;
  void Clear() override {}
  void AppendHint(std::string_view hint) override;

 private:
  bool showConsoleText_;
};

// The device the command talks to: the port given with -p, or a simulated
// chip started in this process with --sim.
class Target {
 public:
  // Empty path and a message on stderr when neither was given or the
  // simulated chip could not start.
  std::string Resolve(const GlobalOptions& global);

 private:
  std::unique_ptr<sim::PtyServer> sim_;
};

struct ChipSession {
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
};

// The two stderr lines of a port that did not open: that it did not, then why.
void ReportOpenFailure(const std::string& path, const Error& error);

// `operation` returns kExitOk or kExitChipFailed (or kExitUsage for its own
// bad input). Everything before and after it (the connection lines, the
// disconnect) is done here.
int RunChipCommand(const GlobalOptions& global, const std::function<int(ChipSession&)>& operation);

// A chip command whose operation is one function over the link that returns
// true when every command it sent succeeded.
void AddLinkCommand(CLI::App& app, const GlobalOptions& global, CommandRun& run, const char* name,
                    const char* summary, bool (*operation)(link::Link&));

}  // namespace corvel::cli
