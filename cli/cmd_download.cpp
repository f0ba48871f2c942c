// corvel-dl download | verify | erase-chip | erase-user: programming, the
// read-back that checks it, and the two erase buttons.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "cli/chip_session.h"
#include "cli/commands.h"
#include "config/record_file.h"
#include "program/chip_erase.h"
#include "program/download.h"
#include "program/verify.h"
#include "text/gbk.h"
#include "text/read_file.h"
#include "text/translation.h"

namespace corvel::cli {

namespace {

struct DownloadOptions {
  std::string part, access, app, stack, boot, user;
  std::optional<uint32_t> speedUp;
  bool verify = false;
};

std::optional<std::string> Given(const std::string& path) {
  return path.empty() ? std::nullopt : std::optional<std::string>(path);
}

// Loading a record file, as the window's load buttons do. A file without its
// marker logs the window's line; any other problem is a message on stderr.
bool LoadRecord(const std::string& path, config::RecordKind kind, std::vector<uint8_t>& record) {
  auto bytes = text::ReadFile(path);
  if (!bytes) {
    std::fprintf(stderr, "%s\n", bytes.error().text.c_str());
    return false;
  }
  auto loaded = config::LoadRecordFile(*bytes, kind);
  if (!loaded) {
    if (config::IsMarkerMissing(loaded.error())) {
      std::printf("%s\n", loaded.error().text.c_str());
    } else {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), loaded.error().text.c_str());
    }
    return false;
  }
  record = std::move(*loaded);
  return true;
}

const char* StepStatusName(program::StepStatus status) {
  switch (status) {
    case program::StepStatus::kOk: return "ok";
    case program::StepStatus::kChipRefused: return "chip-refused";
    case program::StepStatus::kNoAnswer: return "no-answer";
    case program::StepStatus::kInterrupted: return "interrupted";
    case program::StepStatus::kPort: return "port";
    case program::StepStatus::kMismatch: return "mismatch";
  }
  return "chip-refused";
}

// The run's steps and images, for the summary and --json; a verify that read
// back other bytes is the run's result too.
void Record(ChipSession& session, const program::StepReport& step) {
  RunRecord& record = session.record;
  if (step.status == program::StepStatus::kMismatch) session.failure = StepStatusName(step.status);
  record.steps.push_back({step.name, StepStatusName(step.status), step.seconds});
  if (step.image == nullptr) return;
  // The tag as `info` shows an image's name: GBK, zero bytes adding nothing.
  std::string tag;
  for (const uint8_t byte : step.image->tag) {
    if (byte != 0) tag.push_back(static_cast<char>(byte));
  }
  record.images.push_back(
      {step.name, static_cast<uint32_t>(step.image->data.size()), step.crc, text::GbkToUtf8(tag)});
}

// The image rows, as download and verify share them.
program::DownloadChoice ImageChoice(const DownloadOptions& options) {
  program::DownloadChoice choice;
  choice.appPath = Given(options.app);
  choice.stackPath = Given(options.stack);
  choice.bootPath = Given(options.boot);
  choice.userDataPath = Given(options.user);
  return choice;
}

bool NothingTicked(const program::DownloadChoice& choice) {
  if (!choice.NothingTicked()) return false;
  std::fputs(Tr("请勾选下载类型!\n"), stderr);
  return true;
}

// The transfer's progress, to the bar or the port's status line.
program::ProgressFn SessionProgress(ChipSession& session) {
  return [&session](int position, uint32_t sent, uint32_t total) {
    if (session.progress) session.progress(position, sent, total);
  };
}

int RunDownload(const GlobalOptions& global, const DownloadOptions& options) {
  program::DownloadChoice choice = ImageChoice(options);
  choice.speedUpRate = options.speedUp;
  choice.partition = !options.part.empty();
  choice.access = !options.access.empty();
  choice.verify = options.verify;
  if (NothingTicked(choice)) return kExitUsage;
  if (choice.partition && !LoadRecord(options.part, config::RecordKind::kPartition, choice.partitionRecord)) {
    return kExitUsage;
  }
  if (choice.access && !LoadRecord(options.access, config::RecordKind::kAccess, choice.accessRecord)) {
    return kExitUsage;
  }
  // Everything is read and checked before the port is opened.
  auto prepared = program::PrepareDownload(choice);
  if (!prepared) {
    std::fprintf(stderr, "%s\n", prepared.error().text.c_str());
    return kExitUsage;
  }
  return RunChipCommand(global, "download", [&prepared](ChipSession& session) {
    program::Download download(session.link, session.connection);
    session.onInterrupt = [&download] { download.Abort(); };
    download.onStep = [&session](const program::StepReport& step) { Record(session, step); };
    const auto result = download.Run(*prepared, SessionProgress(session));
    session.onInterrupt = nullptr;
    return result == program::DownloadResult::kOk ? kExitOk : kExitChipFailed;
  });
}

// Reads back and compares what the image options give, as a download with
// --verify would after programming them; nothing is written.
int RunVerify(const GlobalOptions& global, const DownloadOptions& options) {
  const program::DownloadChoice choice = ImageChoice(options);
  if (NothingTicked(choice)) return kExitUsage;
  auto prepared = program::PrepareDownload(choice);
  if (!prepared) {
    std::fprintf(stderr, "%s\n", prepared.error().text.c_str());
    return kExitUsage;
  }
  return RunChipCommand(global, "verify", [&prepared](ChipSession& session) {
    program::Verifier verifier(session.link);
    session.onInterrupt = [&verifier] { verifier.Abort(); };
    verifier.onStep = [&session](const program::StepReport& step) { Record(session, step); };
    const program::StepStatus status = verifier.VerifyAll(prepared->images, SessionProgress(session));
    session.onInterrupt = nullptr;
    return status == program::StepStatus::kOk ? kExitOk : kExitChipFailed;
  });
}

void AddImageOptions(CLI::App& command, DownloadOptions& options) {
  command.add_option("--app", options.app, "Application firmware (Intel HEX)");
  command.add_option("--stack", options.stack, "Protocol stack firmware (Intel HEX)");
  command.add_option("--boot", options.boot, "Boot firmware (Intel HEX)");
  command.add_option("--user", options.user, "User data (text of hexadecimal pairs)");
}

}  // namespace

void SetupDownloadCommands(CLI::App& app, const GlobalOptions& global, CommandRun& run) {
  auto options = std::make_shared<DownloadOptions>();
  CLI::App* download = app.add_subcommand("download", "Program what is given, in a fixed order: speed-up, "
                                                      "partition, access, app, stack, boot, user data");
  download->add_option("--part", options->part, "Partition file to write (ble_part_config.cfg format)");
  download->add_option("--access", options->access, "Access file to write (ble_access_config.cfg format)");
  AddImageOptions(*download, *options);
  download->add_option("--speedup", options->speedUp, "Switch the link to this rate first (e.g. 500000)")
      ->check(CLI::PositiveNumber);
  download->add_flag("--verify", options->verify,
                     "Read each image back once programmed and compare it, before the next image");
  download->callback([&run, &global, options] {
    run = [&global, options] { return RunDownload(global, *options); };
  });

  auto verifyOptions = std::make_shared<DownloadOptions>();
  CLI::App* verify = app.add_subcommand("verify", "Read back what is given from the regions the chip's partition "
                                                  "record names and compare, in the order app, stack, boot, user data");
  AddImageOptions(*verify, *verifyOptions);
  verify->callback([&run, &global, verifyOptions] {
    run = [&global, verifyOptions] { return RunVerify(global, *verifyOptions); };
  });

  AddLinkCommand(app, global, run, "erase-chip", "Erase the whole flash", program::EraseChip);
  AddLinkCommand(app, global, run, "erase-user", "Erase the user data area named by the chip's partition record",
                 program::EraseUserArea);
}

}  // namespace corvel::cli
