#include "cli/port_set.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include "text/translation.h"

namespace corvel::cli {

bool IsPortPattern(const std::string& value) { return value.find_first_of("*?[") != std::string::npos; }

Result<std::vector<PortEntry>> ResolvePorts(const std::vector<std::string>& given, const PortSystem& system) {
  std::vector<PortEntry> ports;
  const auto add = [&ports, &system](const std::string& path) {
    std::string canonical = system.canonical(path);
    const bool seen = std::any_of(ports.begin(), ports.end(),
                                  [&canonical](const PortEntry& port) { return port.canonical == canonical; });
    if (!seen) ports.push_back({path, std::move(canonical)});
  };
  for (const std::string& value : given) {
    if (!IsPortPattern(value)) {
      add(value);
      continue;
    }
    const std::vector<std::string> matches = system.expand(value);
    if (matches.empty()) return MakeError(ErrorKind::kBadInput, Tr("没有与 ") + value + Tr(" 匹配的串口"));
    for (const std::string& path : matches) add(path);
  }
  return ports;
}

std::string PortShortName(const std::string& path) {
  // A backslash parts a path as well: \\.\COM7 is COM7.
  constexpr const char* kSeparators = "/\\";
  std::string_view name = path;
  while (name.size() > 1 && name.find_last_of(kSeparators) == name.size() - 1) name.remove_suffix(1);
  const size_t slash = name.find_last_of(kSeparators);
  if (slash != std::string_view::npos && name.size() > 1) name.remove_prefix(slash + 1);
  return std::string(name);
}

std::string PortFileName(const std::string& file, const std::string& portPath) {
  const std::filesystem::path path(file);
  std::filesystem::path named = path.parent_path();
  named /= path.stem().string() + "-" + PortShortName(portPath) + path.extension().string();
  return named.string();
}

}  // namespace corvel::cli
