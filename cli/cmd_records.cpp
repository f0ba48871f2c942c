// corvel-dl read-part | read-access: a configuration record from the chip into
// its commented file (in the current folder, or -o FILE).
#include <cstdio>
#include <memory>
#include <string>

#include "cli/chip_session.h"
#include "cli/commands.h"
#include "config/desktop_open.h"
#include "config/record_read.h"

namespace corvel::cli {

namespace {

struct RecordOptions {
  std::string output;
  bool open = false;
};

int RunReadRecord(const GlobalOptions& global, config::RecordKind kind, const RecordOptions& options) {
  const std::string path = options.output.empty()
                               ? std::string(kind == config::RecordKind::kPartition ? config::kPartitionFileName
                                                                                    : config::kAccessFileName)
                               : options.output;
  // A file that cannot be written is known before the chip is read.
  if (auto checked = config::CheckOutputFile(path); !checked) {
    std::fprintf(stderr, "%s\n", checked.error().text.c_str());
    return kExitUsage;
  }
  return RunChipCommand(global, kind == config::RecordKind::kPartition ? "read-part" : "read-access",
                        [&](ChipSession& session) {
    config::OutputFile written;
    switch (config::ReadRecordToFile(session.link, kind, path, &written)) {
      case config::ReadRecordResult::kChipFailed: return kExitChipFailed;
      case config::ReadRecordResult::kFileFailed: return kExitUsage;
      case config::ReadRecordResult::kOk: break;
    }
    ReportWritten(session, written);
    if (options.open) {
      auto opened = config::OpenWithDesktop(path);
      if (!opened) session.sink.AppendError(opened.error().text + "\n");
    }
    return kExitOk;
  });
}

void AddReadCommand(CLI::App& app, const GlobalOptions& global, CommandRun& run, const char* name,
                    const char* summary, config::RecordKind kind) {
  auto options = std::make_shared<RecordOptions>();
  CLI::App* command = app.add_subcommand(name, summary);
  command->add_option("-o,--output", options->output, "File to write (default: in the current folder)");
  command->add_flag("--open", options->open, "Open the written file in the desktop's editor");
  command->callback([&run, &global, kind, options] {
    run = [&global, kind, options] { return RunReadRecord(global, kind, *options); };
  });
}

}  // namespace

void SetupRecordCommands(CLI::App& app, const GlobalOptions& global, CommandRun& run) {
  AddReadCommand(app, global, run, "read-part", "Read the partition record into ble_part_config.cfg",
                 config::RecordKind::kPartition);
  AddReadCommand(app, global, run, "read-access", "Read the access record into ble_access_config.cfg",
                 config::RecordKind::kAccess);
}

}  // namespace corvel::cli
