#include "cli/port_set.h"

#include <algorithm>
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
  // Split as text, not joined as paths: the folder stays byte for byte as
  // written (a path join would put Windows's backslash after out/), and a
  // UTF-8 name never passes through Windows's narrow code page.
#ifdef _WIN32
  constexpr const char* kSeparators = "/\\";
#else
  constexpr const char* kSeparators = "/";
#endif
  const size_t slash = file.find_last_of(kSeparators);
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  const std::string_view name = std::string_view(file).substr(start);
  // As std::filesystem tells the extension: none for .flash, . or ..
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || name == "..") dot = name.size();
  return file.substr(0, start) + std::string(name.substr(0, dot)) + "-" + PortShortName(portPath) +
         std::string(name.substr(dot));
}

}  // namespace corvel::cli
