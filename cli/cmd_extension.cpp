// corvel-dl full-erase | page-erase | sector-erase | read-flash | write-flash |
// read-reg | write-reg | otp-read | otp-write | otp-lock | otp-erase: the
// extension area's options, one command each, the boxes as arguments. The
// eleven share one run function, as they share one execute button.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "cli/chip_session.h"
#include "cli/commands.h"
#include "tools/extension_ops.h"
#include "tools/load_file.h"

namespace corvel::cli {
namespace {

using tools::ExtensionOption;
using tools::ExtensionOutcome;

struct ExtensionArgs {
  std::string page, address, length, value, file;
  bool yes = false;
};

// Which boxes a command takes, in argument order: P page, A address,
// L length, V value, F load file.
struct Entry {
  const char* name;
  const char* summary;
  ExtensionOption option;
  const char* arguments;
};

constexpr Entry kEntries[] = {
    {"full-erase", "Erase the whole flash and time it", ExtensionOption::kFullErase, ""},
    {"page-erase", "Erase LEN bytes (a multiple of 256) of flash from ADDR", ExtensionOption::kPageErase, "AL"},
    {"sector-erase", "Erase LEN bytes (a multiple of 4096) of flash from ADDR", ExtensionOption::kSectorErase, "AL"},
    {"read-flash", "Dump LEN (1-256) bytes of flash from ADDR", ExtensionOption::kReadFlash, "AL"},
    {"write-flash", "Write the bytes of a load file (1-256) to flash at ADDR", ExtensionOption::kWriteFlash, "AF"},
    {"read-reg", "Read the 32-bit register at ADDR", ExtensionOption::kReadRegister, "A"},
    {"write-reg", "Write VALUE to the 32-bit register at ADDR", ExtensionOption::kWriteRegister, "AV"},
    {"otp-read", "Dump LEN bytes of OTP page PAGE (1-3) from ADDR (0-0x200)", ExtensionOption::kReadOtp, "PAL"},
    {"otp-write", "Write the bytes of a load file (1-256) to OTP page PAGE at ADDR", ExtensionOption::kWriteOtp, "PAF"},
    {"otp-lock", "Lock OTP page PAGE for ever (asks first)", ExtensionOption::kLockOtp, "P"},
    {"otp-erase", "Erase OTP page PAGE", ExtensionOption::kEraseOtp, "P"},
};

// Pages 1 to 3 are the page list's items 0 to 2; anything else is no selection.
int PageIndex(const std::string& page) {
  if (page == "1" || page == "2" || page == "3") return page[0] - '1';
  return -1;
}

// The lock's question, on the terminal. Only an explicit yes locks; without a
// terminal to ask on (stdin or stderr redirected) the answer is Cancel.
bool AskLock(bool yes) {
  if (yes) return true;
  if (isatty(STDIN_FILENO) == 0 || isatty(STDERR_FILENO) == 0) return false;
  std::fprintf(stderr, "%s [y/N] ", tools::kLockQuestion);
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

int RunExtension(const GlobalOptions& global, const Entry& entry, const ExtensionArgs& args) {
  tools::ExtensionInputs inputs;
  inputs.option = static_cast<int>(entry.option);
  inputs.addressText = args.address;
  inputs.lengthText = args.length;
  inputs.dataText = args.value;
  inputs.pageIndex = PageIndex(args.page);
  if (std::string(entry.arguments).find('F') != std::string::npos) {
    auto loaded = tools::ReadLoadFile(args.file);
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
  tools::ConfirmLock ask;
  if (entry.option == ExtensionOption::kLockOtp) ask = [&args] { return AskLock(args.yes); };
  const ExtensionOutcome checked = tools::CheckExtensionInputs(inputs, log, ask);
  if (checked != ExtensionOutcome::kDone) return ExitFor(checked);

  std::optional<std::string> value;
  const int status = RunChipCommand(global, [&inputs, &value](ChipSession& session) {
    // The lock was confirmed above.
    const auto result = tools::RunExtensionOperation(session.link, inputs, [] { return true; });
    value = result.dataText;
    return ExitFor(result.outcome);
  });
  // read-reg: what the window puts into the data box, after every log line.
  if (status == kExitOk && value) std::printf("%s\n", value->c_str());
  return status;
}

}  // namespace

void SetupExtensionCommands(CLI::App& app, const GlobalOptions& global, CommandRun& run) {
  for (const Entry& entry : kEntries) {
    auto args = std::make_shared<ExtensionArgs>();
    CLI::App* command = app.add_subcommand(entry.name, entry.summary);
    for (const char* a = entry.arguments; *a != '\0'; ++a) {
      switch (*a) {
        case 'P': command->add_option("PAGE", args->page, "OTP page, 1 to 3")->required(); break;
        case 'A': command->add_option("ADDR", args->address, "Address, hexadecimal (1000 or 0x1000)")->required(); break;
        case 'L': command->add_option("LEN", args->length, "Length in bytes, decimal")->required(); break;
        case 'V': command->add_option("VALUE", args->value, "Value, hexadecimal")->required(); break;
        case 'F':
          command->add_option("FILE", args->file, "Load file: hexadecimal pairs, e.g. 01 02 A0 FF")->required();
          break;
        default: break;
      }
    }
    if (entry.option == ExtensionOption::kLockOtp) {
      command->add_flag("-y,--yes", args->yes, "Lock without asking");
    }
    command->callback([&run, &global, &entry, args] {
      run = [&global, &entry, args] { return RunExtension(global, entry, *args); };
    });
  }
}

}  // namespace corvel::cli
