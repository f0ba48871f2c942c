// corvel-dl's extension commands (full-erase, read-flash, otp-lock, ...): one
// per option of the extension area's table, its boxes as arguments. They
// share one run function, as the options share one execute button.

#include <array>
#include <cctype>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "cli/argument_text.h"
#include "cli/chip_session.h"
#include "cli/commands.h"
#include "cli/terminal.h"
#include "text/translation.h"
#include "tools/extension_options.h"
#include "tools/extension_ops.h"
#include "tools/load_file.h"

namespace corvel::cli {
namespace {

using tools::ExtensionBox;
using tools::ExtensionOutcome;

// The boxes' texts as the arguments gave them; a box the command does not
// take stays empty, as an untouched box would.
struct ExtensionArgs {
  std::array<std::string, std::size(tools::kExtensionBoxes)> boxes;
  bool yes = false;

  std::string& operator[](ExtensionBox box) { return boxes[static_cast<size_t>(box)]; }
  const std::string& operator[](ExtensionBox box) const { return boxes[static_cast<size_t>(box)]; }
};

// Pages 1 to 3 are the page list's items 0 to 2; anything else is no selection.
int PageIndex(const std::string& page) {
  if (page == "1" || page == "2" || page == "3") return page[0] - '1';
  return -1;
}

bool CanAsk() { return IsTerminal(stdin) && IsTerminal(stderr); }

// The lock's question, on the terminal. Only an explicit yes locks.
bool AskLock(bool yes) {
  if (yes) return true;
  std::fprintf(stderr, "%s [y/N] ", Tr(tools::kLockQuestion));
  std::fflush(stderr);
  char answer[16] = {};
  if (std::fgets(answer, sizeof answer, stdin) == nullptr) return false;
  std::string word;
  for (const char* p = answer; *p != '\0' && *p != '\n' && *p != '\r'; ++p) {
    word.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(*p))));
  }
  return word == "y" || word == "yes";
}

int ExitFor(ExtensionOutcome outcome) {
  switch (outcome) {
    case ExtensionOutcome::kDone: return kExitOk;
    case ExtensionOutcome::kRefused: return kExitUsage;
    case ExtensionOutcome::kFailed:
    case ExtensionOutcome::kCancelled: return kExitChipFailed;
  }
  return kExitChipFailed;
}

int RunExtension(const GlobalOptions& global, const tools::ExtensionOptionEntry& entry, ExtensionArgs args) {
  // Each argument read whole; the shared checks below still run first, so
  // their lines stay what they were, and a refusal here comes after them.
  std::optional<std::string> refused;
  for (const tools::ExtensionBoxEntry& box : tools::kExtensionBoxes) {
    if (!entry.boxes.Has(box.box)) continue;
    std::optional<std::string> error = CheckBoxArgument(box.box, args[box.box]);
    if (error && !refused) refused = std::move(error);
  }

  tools::ExtensionInputs inputs;
  inputs.option = static_cast<int>(entry.option);
  inputs.addressText = args[ExtensionBox::kAddress];
  inputs.lengthText = args[ExtensionBox::kLength];
  inputs.dataText = args[ExtensionBox::kData];
  inputs.pageIndex = PageIndex(args[ExtensionBox::kPage]);
  if (entry.boxes.Has(ExtensionBox::kLoadFile)) {
    auto loaded = tools::ReadLoadFile(args[ExtensionBox::kLoadFile]);
    if (!loaded) {
      std::fprintf(stderr, "%s\n", loaded.error().text.c_str());
      return kExitUsage;
    }
    inputs.loaded = std::move(*loaded);
  }

  // Every check, and the lock's question, before the port is touched: a
  // refused input sends nothing at all.
  StdoutSink sink;
  log::Log log(sink);
  if (const ExtensionOutcome checked = tools::CheckExtensionInputs(inputs, log); checked != ExtensionOutcome::kDone) {
    return ExitFor(checked);
  }
  if (refused) {
    std::fprintf(stderr, "%s\n", refused->c_str());
    return kExitUsage;
  }
  if (entry.confirms) {
    // A lock nobody can confirm is a usage error, not a Cancel: scripts must
    // say --yes.
    bool needsYes = false;
    const auto ask = [&args, &needsYes] {
      needsYes = !args.yes && !CanAsk();
      return !needsYes && AskLock(args.yes);
    };
    const ExtensionOutcome confirmed = tools::CheckExtensionInputs(inputs, log, ask);
    if (needsYes) {
      std::fprintf(stderr, "%s\n", LockNeedsYesMessage().c_str());
      return kExitUsage;
    }
    if (confirmed != ExtensionOutcome::kDone) return ExitFor(confirmed);
  }

  return RunChipCommand(global, entry.command, [&inputs](ChipSession& session) {
    // The confirmation was asked above.
    const auto result = tools::RunExtensionOperation(session.link, inputs, [] { return true; });
    // read-reg: what the window puts into the data box, after every log line.
    session.resultLine = result.dataText;
    return ExitFor(result.outcome);
  });
}

}  // namespace

void SetupExtensionCommands(CLI::App& app, const GlobalOptions& global, CommandRun& run) {
  for (const tools::ExtensionOptionEntry& entry : tools::ExtensionOptions()) {
    auto args = std::make_shared<ExtensionArgs>();
    CLI::App* command = app.add_subcommand(entry.command, entry.summary);
    for (const tools::ExtensionBoxEntry& box : tools::kExtensionBoxes) {
      if (entry.boxes.Has(box.box)) command->add_option(box.argument, (*args)[box.box], box.help)->required();
    }
    if (entry.confirms) command->add_flag("-y,--yes", args->yes, "Lock without asking");
    command->callback([&run, &global, &entry, args] {
      run = [&global, &entry, args] { return RunExtension(global, entry, *args); };
    });
  }
}

}  // namespace corvel::cli
