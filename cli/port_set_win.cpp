// The port set's system side on Windows: a wildcard (COM*, COM1?) matches
// the names in the port list, case aside; one port under two spellings
// (com7, \\.\COM7) is one device.
#include <algorithm>
#include <cctype>

#include "cli/port_set.h"
#include "serial/port_list.h"

namespace corvel::cli {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// `*`, `?` and `[...]` as glob(3) reads them, over whole names.
bool Matches(std::string_view pattern, std::string_view name) {
  if (pattern.empty()) return name.empty();
  if (pattern[0] == '*') {
    for (size_t skip = 0; skip <= name.size(); ++skip) {
      if (Matches(pattern.substr(1), name.substr(skip))) return true;
    }
    return false;
  }
  if (name.empty()) return false;
  if (pattern[0] == '[') {
    const size_t close = pattern.find(']', 2);
    if (close != std::string_view::npos) {
      std::string_view set = pattern.substr(1, close - 1);
      const bool negate = !set.empty() && (set[0] == '!' || set[0] == '^');
      if (negate) set.remove_prefix(1);
      bool found = false;
      for (size_t i = 0; i < set.size(); ++i) {
        if (i + 2 < set.size() && set[i + 1] == '-') {
          found = found || (name[0] >= set[i] && name[0] <= set[i + 2]);
          i += 2;
        } else {
          found = found || name[0] == set[i];
        }
      }
      return found != negate && Matches(pattern.substr(close + 1), name.substr(1));
    }
  }
  return (pattern[0] == '?' || pattern[0] == name[0]) && Matches(pattern.substr(1), name.substr(1));
}

std::string Canonical(const std::string& path) {
  std::string name = Upper(path);
  if (name.rfind("\\\\.\\", 0) == 0) name.erase(0, 4);
  return name;
}

}  // namespace

PortSystem PortsInList(std::function<std::vector<std::string>()> listPorts) {
  const auto expand = [listPorts = std::move(listPorts)](const std::string& pattern) {
    const std::string wanted = Canonical(pattern);
    std::vector<std::string> paths;
    for (const std::string& port : listPorts()) {
      if (Matches(wanted, Upper(port))) paths.push_back(port);
    }
    return paths;
  };
  return {expand, Canonical};
}

PortSystem SystemPorts() {
  return PortsInList([] { return serial::ListPorts(); });
}

}  // namespace corvel::cli
