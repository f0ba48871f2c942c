#include "cli/chip_session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "cli/console_output.h"
#include "cli/json_output.h"
#include "cli/port_set.h"
#include "cli/progress_bar.h"
#include "cli/run_summary.h"
#include "cli/signal_watcher.h"
#include "cli/terminal.h"
#include "cli/status_lines.h"
#include "program/device_info.h"
#include "serial/open_failure.h"
#include "serial/port_list.h"
#include "text/number_text.h"
#include "text/translation.h"

namespace corvel::cli {

namespace {

constexpr const char* kNoPortText = "需要 -p PORT (串口设备) 或 --sim\n";
constexpr const char* kOnePortOnlyText = "此命令只能用于一个串口\n";
constexpr const char* kSameChipText = "同一芯片仍在座上, 请换下一块芯片";

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string UtcNow() {
  // The calendar of <chrono>, not gmtime_r, which not every system's C library has.
  const auto now = std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now());
  const auto day = std::chrono::floor<std::chrono::days>(now);
  const std::chrono::year_month_day date{day};
  const std::chrono::hh_mm_ss time{now - day};
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
  return text;
}

// The ports -p names, wildcards expanded; none, with the reason on stderr,
// when there is no -p or a pattern matches nothing.
std::optional<std::vector<PortEntry>> GivenPorts(const GlobalOptions& global, const PortSystem& system) {
  if (global.ports.empty()) {
    std::fputs(Tr(kNoPortText), stderr);
    return std::nullopt;
  }
  auto ports = ResolvePorts(global.ports, system);
  if (!ports) {
    std::fprintf(stderr, "%s\n", ports.error().text.c_str());
    return std::nullopt;
  }
  return std::move(*ports);
}

// Why a command the chip was asked failed, from how the link's last failed
// transaction failed.
const char* ChipFailureKind(const link::Link& link) {
  return link.lastFailure() == link::TransactionFailure::kNoAnswer ? "no-answer" : "chip-refused";
}

// The USB adapters the system knows, for the ports' records.
std::optional<UsbRecord> UsbFor(const std::vector<serial::PortDetails>& details, const PortSystem& system,
                                const std::string& canonical) {
  for (const serial::PortDetails& port : details) {
    if (!port.usb || system.canonical(port.path) != canonical) continue;
    return UsbRecord{port.vendorId, port.productId, port.manufacturer, port.product, port.serialNumber};
  }
  return std::nullopt;
}

// What every port's run shares: read-only while the ports run.
struct PortRunShared {
  const GlobalOptions& global;
  const char* command;
  const std::function<int(ChipSession&)>& operation;
  bool readSerial;
  StatusLines* status;
  JsonOutput* json;
};

class StepClock {
 public:
  explicit StepClock(RunRecord& record) : record_(record) {}
  // Pushes the step now and returns its place, so the status can follow.
  size_t Start(const char* name) {
    start_ = Clock::now();
    record_.steps.push_back({name, "ok", 0});
    return record_.steps.size() - 1;
  }
  void End(size_t step, const std::string& status) {
    record_.steps[step].status = status;
    record_.steps[step].seconds = SecondsSince(start_);
  }

 private:
  RunRecord& record_;
  Clock::time_point start_;
};

// A chip left seated (the same one, or one that failed) is not tried again at
// once, which would hammer it with bursts; a second lets the operator swap it.
constexpr uint64_t kNextAttemptPauseMicros = 1000000;

void PauseBeforeNextAttempt(ChipSession& session) {
  const uint64_t until = session.host.NowMicros() + kNextAttemptPauseMicros;
  while (!session.interrupted && !session.host.PortLost() && session.host.NowMicros() < until) {
    session.host.PumpMessages();
    session.host.WaitUntil(until);
  }
}

// A station's stage carries the port's counters.
std::string StationStage(const ChipSession& session, std::string stage) {
  if (session.chipsDone + session.chipsFailed == 0) return stage;
  return stage + " (" + std::to_string(session.chipsDone) + " done, " + std::to_string(session.chipsFailed) +
         " failed)";
}

void SetStage(const PortRunShared& shared, size_t index, std::string stage) {
  if (shared.status != nullptr) shared.status->SetStage(index, std::move(stage));
}

// One port's whole run; returns the exit status a single-port run would have.
int RunPort(const PortRunShared& shared, ChipSession& session, const std::string& path, size_t index) {
  const GlobalOptions& global = shared.global;
  RunRecord& record = session.record;
  record.port = path;
  record.order = static_cast<int>(index);
  record.startTime = UtcNow();
  Clock::time_point started = Clock::now();
  StepClock steps(record);

  ProgressBar bar;
  if (shared.status != nullptr) {
    session.progress = [&shared, index](int, uint32_t sent, uint32_t total) {
      shared.status->SetProgress(index, shared.command, sent, total);
    };
  } else if (shared.json == nullptr || !shared.json->toStdout()) {
    session.progress = [&bar](int position, uint32_t sent, uint32_t total) { bar.Update(position, sent, total); };
  }

  session.log.SetFrameEcho(global.pkt);
  session.host.SetLink(&session.link);
  session.host.SetPortErrorHandler([&session](const std::string& text) { session.sink.AppendError(text); });
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
  bool handshook = false;
  session.connection.onStageChanged = [&handshook](link::ConnectionStage stage) {
    if (stage == link::ConnectionStage::kHandshaking) handshook = true;
  };

  const auto finish = [&](int status, const std::string& result) {
    record.exitStatus = status;
    record.result = result;
    record.seconds = SecondsSince(started);
    SetStage(shared, index, status == kExitOk ? Tr(kStageDone) : std::string(Tr(kStageFailed)) + ": " + result);
    return status;
  };

  SetStage(shared, index, Tr(kStageOpening));
  size_t step = steps.Start("open");
  if (const Result<void> opened = session.host.OpenPort(path, global.baud); !opened.ok()) {
    session.sink.AppendError(OpenFailureText(path, opened.error()));
    steps.End(step, "port");
    return finish(kExitNoConnection, "port");
  }
  steps.End(step, "ok");

  const uint32_t password = text::ParseUnsigned(text::NormaliseHexText(global.password), 16);
  // A station waits for the next chip as long as it takes.
  const auto syncTimeout = global.repeat ? 0 : static_cast<uint64_t>(global.syncTimeoutSeconds * 1e6);
  int status = kExitOk;
  std::string result = "ok";
  std::optional<uint32_t> lastSerial;
  bool saidSameChip = false;
  RunRecord nextChip = record;  // the port, its adapter and place; no steps yet
  nextChip.steps.clear();
  for (;;) {
    SetStage(shared, index, StationStage(session, Tr(kStageConnecting)));
    step = steps.Start("connect");
    session.connection.StartAttempt(password, global.baud, syncTimeout);

    status = kExitOk;
    result = "ok";
    bool sameChip = false;
    bool operationRan = false;
    if (session.connection.IsConnected() && !session.interrupted) {
      steps.End(step, "ok");
      if (shared.readSerial) {
        step = steps.Start("serial");
        record.serial = program::ReadSerialNumber(session.link);
        steps.End(step, record.serial ? "ok" : ChipFailureKind(session.link));
      }
      sameChip = global.repeat && record.serial && record.serial == lastSerial;
      if (!sameChip) {
        SetStage(shared, index, StationStage(session, shared.command));
        step = steps.Start(shared.command);
        session.link.ForgetFailure();
        operationRan = true;
        session.failure.reset();
        status = shared.operation(session);
        if (status == kExitUsage) result = "input";
        if (status == kExitChipFailed) result = session.failure.value_or(ChipFailureKind(session.link));
        if (session.host.PortLost()) result = "port-lost";
        if (session.interrupted) result = "interrupted";
        steps.End(step, result);
      }
    } else {
      status = kExitNoConnection;
      result = session.interrupted ? "interrupted"
               : session.host.PortLost() ? "port-lost"
               : handshook ? "refused"
                           : "no-sync";
      steps.End(step, result);
    }
    if (session.connection.IsConnected() && !session.host.PortLost()) {
      step = steps.Start("disconnect");
      session.connection.Disconnect();
      steps.End(step, "ok");
    }
    if (!global.repeat) break;

    // A station records every chip it worked on, one stopped half-way
    // included; a wait that Ctrl-C or a lost port ended is no chip at all.
    const bool waitedInVain = !operationRan && (session.interrupted || session.host.PortLost());
    if (sameChip) {
      // The chip just done is still seated: said once, then the bursts go on.
      if (!saidSameChip) session.log.AppendLog(Tr(kSameChipText));
      saidSameChip = true;
    } else if (!waitedInVain) {
      saidSameChip = false;
      lastSerial = record.serial;
      record.exitStatus = session.interrupted ? kExitInterrupted : session.host.PortLost() ? kExitNoConnection : status;
      record.result = result;
      record.seconds = SecondsSince(started);
      (record.exitStatus == kExitOk ? session.chipsDone : session.chipsFailed) += 1;
      if (shared.json != nullptr) shared.json->Add(record);
    }
    if (session.interrupted || session.host.PortLost()) break;
    // The next chip's record starts afresh; the port's own fields stay.
    record = nextChip;
    record.startTime = UtcNow();
    started = Clock::now();
    handshook = false;
    if (sameChip || status != kExitOk) PauseBeforeNextAttempt(session);
  }
  session.host.ClosePort();

  if (session.host.PortLost()) {
    session.sink.AppendError(Tr("串口已断开: ") + path + ": " + session.host.LostReason() + "\n");
    return finish(kExitNoConnection, "port-lost");
  }
  if (session.interrupted) return finish(kExitInterrupted, "interrupted");
  if (status == kExitOk && session.resultLine) session.sink.AppendLine(*session.resultLine);
  return finish(status, result);
}

}  // namespace

void StdoutSink::AppendLine(std::string_view line) { ConsoleOutput::Get().LogLine(prefix_, line); }

void StdoutSink::AppendText(std::string_view text) {
  if (showConsoleText_) ConsoleOutput::Get().LogText(text);
}

void StdoutSink::AppendHint(std::string_view hint) {
  ConsoleOutput::Get().Error(prefix_, prefix_.empty() ? std::string(hint) + "\n" : std::string(hint));
}

void StdoutSink::AppendError(std::string_view text) { ConsoleOutput::Get().Error(prefix_, text); }

std::string Target::StartSim(const GlobalOptions& global) {
  sim::SimOptions options;
  options.initialRate = global.baud;
  sim_ = std::make_unique<sim::PtyServer>();
  auto path = sim_->Start(options);
  if (!path) {
    std::fprintf(stderr, Tr("无法启动模拟芯片: %s\n"), path.error().text.c_str());
    return {};
  }
  return *path;
}

std::string Target::Resolve(const GlobalOptions& global) {
  if (global.sim) return StartSim(global);
  auto ports = GivenPorts(global, SystemPorts());
  if (!ports) return {};
  if (ports->size() > 1) {
    std::fputs(Tr(kOnePortOnlyText), stderr);
    return {};
  }
  return ports->front().path;
}

std::string OpenFailureText(const std::string& path, const Error& error) {
  return Tr("没有发现此串口或被占用\n") + serial::DescribeOpenFailure(path, error) + "\n";
}

void ReportOpenFailure(const std::string& path, const Error& error) {
  ConsoleOutput::Get().Error({}, OpenFailureText(path, error));
}

void ReportWritten(ChipSession& session, const config::OutputFile& file) {
  if (file.viaLink) {
    session.sink.AppendError(Tr("文件已写入: ") + file.path + " -> " + file.target + "\n");
  } else {
    session.sink.AppendError(Tr("文件已写入: ") + file.path + "\n");
  }
}

int RunChipCommand(const GlobalOptions& global, const char* command,
                   const std::function<int(ChipSession&)>& operation,
                   const std::function<int(const std::vector<std::string>& ports)>& checkPorts) {
  const PortSystem system = SystemPorts();
  std::vector<PortEntry> ports;
  if (!global.sim) {
    auto given = GivenPorts(global, system);
    if (!given) return kExitUsage;
    ports = std::move(*given);
  }
  if (checkPorts) {
    std::vector<std::string> paths;
    for (const PortEntry& port : ports) paths.push_back(port.path);
    if (const int checked = checkPorts(paths); checked != kExitOk) return checked;
  }
  const size_t count = global.sim ? 1 : ports.size();
  const bool several = count > 1;

  std::unique_ptr<JsonOutput> json;
  if (!global.jsonPath.empty()) {
    auto opened = JsonOutput::Open(global.jsonPath, global.repeat ? JsonOutput::Mode::kLines
                                                                  : JsonOutput::Mode::kDocument,
                                   global.commandLine);
    if (!opened) {
      std::fprintf(stderr, "--json %s: %s\n", global.jsonPath.c_str(), opened.error().text.c_str());
      return kExitUsage;
    }
    json = std::move(*opened);
  }
  ConsoleOutput& console = ConsoleOutput::Get();
  if (json && json->toStdout()) console.SetLogStream(stderr);

  std::vector<std::unique_ptr<ChipSession>> sessions;
  for (size_t i = 0; i < count; ++i) {
    sessions.push_back(std::make_unique<ChipSession>(several ? PortShortName(ports[i].path) + ": " : ""));
  }
  // Before any other thread starts, so every thread inherits the blocked signals.
  SignalWatcher signals([&sessions] {
    for (const auto& session : sessions) session->host.PostInterrupt();
  });

  Target target;
  if (global.sim) {
    const std::string path = target.StartSim(global);
    if (path.empty()) return kExitNoConnection;
    ports.push_back({path, path});
  }
  // The adapters are looked up only where a record is read: a plain run does what it always did.
  const bool recorded = several || json != nullptr || global.repeat;
  if (recorded && !global.sim) {
    const std::vector<serial::PortDetails> details = serial::ListPortDetails();
    for (size_t i = 0; i < count; ++i) sessions[i]->record.usb = UsbFor(details, system, ports[i].canonical);
  }

  std::unique_ptr<StatusLines> status;
  if (several && IsTerminal(stderr)) {
    std::vector<std::string> names;
    for (const PortEntry& port : ports) names.push_back(PortShortName(port.path));
    status = std::make_unique<StatusLines>(stderr, console.mutex(), std::move(names));
    console.SetStatusLines(status.get());
  }

  const PortRunShared shared{global, command, operation, recorded || global.repeat, status.get(), json.get()};
  std::vector<int> statuses(count, kExitOk);
  const auto runOne = [&](size_t i) {
    statuses[i] = RunPort(shared, *sessions[i], ports[i].path, i);
    // A station adds each chip's record as the chip is done.
    if (json && !global.repeat) json->Add(sessions[i]->record);
  };
  if (several) {
    std::vector<std::thread> threads;
    for (size_t i = 0; i < count; ++i) threads.emplace_back(runOne, i);
    for (std::thread& thread : threads) thread.join();
  } else {
    runOne(0);
  }

  if (status) {
    status->Stop();
    console.SetStatusLines(nullptr);
  }
  int exitStatus = *std::max_element(statuses.begin(), statuses.end());
  // A station's summary is its counters: the last record is only the chip it was waiting for.
  if (several && !global.repeat) {
    std::vector<RunRecord> records;
    for (const auto& session : sessions) records.push_back(session->record);
    console.Error({}, FormatSummary(records));
  }
  if (global.repeat) {
    std::string counts;
    for (size_t i = 0; i < count; ++i) {
      counts += PortShortName(ports[i].path) + ": " + std::to_string(sessions[i]->chipsDone) + " done, " +
                std::to_string(sessions[i]->chipsFailed) + " failed\n";
    }
    console.Error({}, counts);
  }
  if (json) {
    if (const Result<void> finished = json->Finish(); !finished.ok()) {
      std::fprintf(stderr, "--json %s: %s\n", global.jsonPath.c_str(), finished.error().text.c_str());
      exitStatus = std::max(exitStatus, kExitUsage);
    }
  }
  return exitStatus;
}

void AddLinkCommand(CLI::App& app, const GlobalOptions& global, CommandRun& run, const char* name,
                    const char* summary, bool (*operation)(link::Link&)) {
  CLI::App* command = app.add_subcommand(name, summary);
  command->callback([&run, &global, name, operation] {
    run = [&global, name, operation] {
      return RunChipCommand(global, name, [operation](ChipSession& session) {
        return operation(session.link) ? kExitOk : kExitChipFailed;
      });
    };
  });
}

}  // namespace corvel::cli
