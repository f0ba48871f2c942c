#include "cli/chip_session.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "cli/json_output.h"
#include "cli/signal_watcher.h"
#include "serial/open_failure.h"
#include "text/number_text.h"

namespace corvel::cli {

void StdoutSink::AppendLine(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void StdoutSink::AppendText(std::string_view text) {
  if (!showConsoleText_) return;
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void StdoutSink::AppendHint(std::string_view hint) {
  std::fwrite(hint.data(), 1, hint.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

std::string Target::Resolve(const GlobalOptions& global) {
  if (!global.sim) {
    if (global.port.empty()) std::fputs("需要 -p PORT (串口设备) 或 --sim\n", stderr);
    return global.port;
  }
  sim::SimOptions options;
  options.initialRate = global.baud;
  sim_ = std::make_unique<sim::PtyServer>();
  auto path = sim_->Start(options);
  if (!path) {
    std::fprintf(stderr, "无法启动模拟芯片: %s\n", path.error().text.c_str());
    return {};
  }
  return *path;
}

void ReportOpenFailure(const std::string& path, const Error& error) {
  std::fprintf(stderr, "没有发现此串口或被占用\n%s\n", serial::DescribeOpenFailure(path, error).c_str());
}

namespace {

int RunOnePort(const GlobalOptions& global, const std::function<int(ChipSession&)>& operation) {
  // Before any other thread starts, so every thread inherits the blocked signals.
  ChipSession session;
  SignalWatcher signals([&session] { session.host.PostInterrupt(); });
  session.log.SetFrameEcho(global.pkt);
  session.host.SetLink(&session.link);
  session.host.SetPortErrorHandler([](const std::string& text) { std::fputs(text.c_str(), stderr); });
  session.host.SetInterruptHandler([&session] {
    if (session.interrupted) {
      // A second Ctrl-C does not wait for the chip any longer.
      session.host.ClosePort();
      std::_Exit(kExitInterrupted);
    }
    session.interrupted = true;
    if (session.connection.stage() == link::ConnectionStage::kBursting) {
      session.connection.StopAttempt();
    } else if (session.onInterrupt) {
      session.onInterrupt();
    }
  });

  Target target;
  const std::string path = target.Resolve(global);
  if (path.empty()) return global.sim ? kExitNoConnection : kExitUsage;
  if (const Result<void> opened = session.host.OpenPort(path, global.baud); !opened.ok()) {
    ReportOpenFailure(path, opened.error());
    return kExitNoConnection;
  }

  const uint32_t password = text::ParseUnsigned(text::NormaliseHexText(global.password), 16);
  const auto syncTimeout = static_cast<uint64_t>(global.syncTimeoutSeconds * 1e6);
  session.connection.StartAttempt(password, global.baud, syncTimeout);

  int status = kExitOk;
  if (session.connection.IsConnected() && !session.interrupted) {
    status = operation(session);
  } else if (!session.interrupted) {
    status = kExitNoConnection;
  }
  if (session.connection.IsConnected() && !session.host.PortLost()) session.connection.Disconnect();
  session.host.ClosePort();

  if (session.host.PortLost()) {
    std::fprintf(stderr, "串口已断开: %s: %s\n", path.c_str(), session.host.LostReason().c_str());
    return kExitNoConnection;
  }
  if (session.interrupted) return kExitInterrupted;
  return status;
}

}  // namespace

// --json for one port, until the runner for several ports records its runs itself.
int RunChipCommand(const GlobalOptions& global, const std::function<int(ChipSession&)>& operation) {
  if (global.jsonPath.empty()) return RunOnePort(global, operation);
  auto json = JsonOutput::Open(global.jsonPath, global.repeat ? JsonOutput::Mode::kLines : JsonOutput::Mode::kDocument,
                               global.commandLine);
  if (!json) {
    std::fprintf(stderr, "%s\n", json.error().text.c_str());
    return kExitUsage;
  }
  if ((*json)->toStdout() && std::fflush(stdout) == 0) dup2(STDERR_FILENO, STDOUT_FILENO);
  RunRecord record;
  int status = RunOnePort(global, [&](ChipSession& session) {
    const int done = operation(session);
    record = session.record;
    return done;
  });
  record.port = global.sim ? "sim" : global.port;
  record.exitStatus = status;
  if (status != kExitOk) {
    record.result = status == kExitChipFailed ? "chip-refused" : status == kExitInterrupted ? "interrupted" : "port";
  }
  (*json)->Add(record);
  if (const Result<void> written = (*json)->Finish(); !written.ok()) {
    std::fprintf(stderr, "%s\n", written.error().text.c_str());
    if (status == kExitOk) status = kExitUsage;
  }
  return status;
}

void AddLinkCommand(CLI::App& app, const GlobalOptions& global, CommandRun& run, const char* name,
                    const char* summary, bool (*operation)(link::Link&)) {
  CLI::App* command = app.add_subcommand(name, summary);
  command->callback([&run, &global, operation] {
    run = [&global, operation] {
      return RunChipCommand(global, [operation](ChipSession& session) {
        return operation(session.link) ? kExitOk : kExitChipFailed;
      });
    };
  });
}

}  // namespace corvel::cli
