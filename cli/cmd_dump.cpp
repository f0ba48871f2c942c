// corvel-dl dump ADDR LEN -o FILE: a range of flash into a file, binary or,
// for a name ending in .hex, Intel HEX that loads back at the same addresses.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cli/argument_text.h"
#include "cli/chip_session.h"
#include "cli/commands.h"
#include "cli/port_set.h"
#include "config/atomic_file.h"
#include "program/flash_read.h"
#include "program/hex_writer.h"

namespace corvel::cli {

namespace {

struct DumpOptions {
  std::string address, length, output;
};

bool IsHexName(std::string_view path) {
  constexpr std::string_view kExtension = ".hex";
  if (path.size() < kExtension.size()) return false;
  return std::equal(kExtension.begin(), kExtension.end(), path.end() - static_cast<std::ptrdiff_t>(kExtension.size()),
                    [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

int RunDump(const GlobalOptions& global, const DumpOptions& options) {
  // Every chip on a port would write the same file in turn.
  if (global.repeat) {
    std::fprintf(stderr, "%s\n", DumpRepeatMessage().c_str());
    return kExitUsage;
  }
  uint32_t address = 0;
  uint64_t length = 0;
  if (auto refused = ReadDumpRange(options.address, options.length, address, length)) {
    std::fprintf(stderr, "%s\n", refused->c_str());
    return kExitUsage;
  }
  const bool hex = IsHexName(options.output);

  // With several ports each writes its own file; every one is checked before
  // a port opens, so a file that cannot be written costs no chip time.
  bool several = false;
  const auto fileFor = [&several, &options](const std::string& port) {
    return several ? PortFileName(options.output, port) : options.output;
  };
  const auto checkFiles = [&](const std::vector<std::string>& ports) {
    several = ports.size() > 1;
    std::set<std::string> names;
    for (const std::string& port : several ? ports : std::vector<std::string>{std::string()}) {
      const std::string file = fileFor(port);
      if (!names.insert(file).second) {
        std::fprintf(stderr, "%s\n", SameDumpFileMessage(file).c_str());
        return kExitUsage;
      }
      if (auto checked = config::CheckOutputFile(file); !checked) {
        std::fprintf(stderr, "%s\n", checked.error().text.c_str());
        return kExitUsage;
      }
    }
    return kExitOk;
  };

  return RunChipCommand(
      global, "dump",
      [&](ChipSession& session) {
        program::FlashReader reader(session.link);
        session.onInterrupt = [&reader] { reader.Abort(); };
        std::vector<uint8_t> data;
        const program::FlashReadResult read =
            program::DumpFlash(reader, session.log, address, length, data,
                               [&session](int position, uint32_t done, uint32_t total) {
                                 if (session.progress) session.progress(position, done, total);
                               });
        session.onInterrupt = nullptr;
        // Only a whole range becomes a file; a failed read leaves none.
        if (!read.ok()) return kExitChipFailed;
        const std::string text = hex ? program::FormatHexFile(address, data.data(), data.size()) : std::string();
        const std::string_view bytes =
            hex ? std::string_view(text)
                : std::string_view(reinterpret_cast<const char*>(data.data()), data.size());
        const auto written = config::WriteFileAtomically(fileFor(session.record.port), bytes);
        if (!written) {
          session.log.AppendLog(written.error().text);
          return kExitUsage;
        }
        ReportWritten(session, *written);
        return kExitOk;
      },
      checkFiles);
}

}  // namespace

void SetupDumpCommand(CLI::App& app, const GlobalOptions& global, CommandRun& run) {
  auto options = std::make_shared<DumpOptions>();
  CLI::App* dump = app.add_subcommand("dump", "Read LEN bytes of flash from ADDR into a file: binary, or Intel HEX "
                                              "when its name ends in .hex");
  dump->add_option("ADDR", options->address, "Flash address (decimal, or hexadecimal after 0x)")->required();
  dump->add_option("LEN", options->length, "Bytes to read, at least 1 (decimal, or hexadecimal after 0x)")->required();
  dump->add_option("-o,--output", options->output,
                   "File to write; with several ports each writes FILE-PORT (flash.bin -> flash-ttyUSB0.bin)")
      ->required();
  dump->callback([&run, &global, options] {
    run = [&global, options] { return RunDump(global, *options); };
  });
}

}  // namespace corvel::cli
