// The cause of an open failure on Linux: the device's owner, group and mode
// for a refusal, the holders in /proc for a busy port, the ports in sysfs for
// a missing one, the file type for a path that is not a terminal.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "serial/open_failure.h"
#include "serial/open_failure_text.h"
#include "serial/port_list.h"
#include "text/translation.h"

namespace corvel::serial {
namespace {

// ---- Permission ----

struct Group {
  std::string name;
  std::vector<std::string> members;
};

std::vector<std::string> SplitMembers(std::string_view list) {
  std::vector<std::string> members;
  while (!list.empty()) {
    const size_t comma = std::min(list.find(','), list.size());
    if (comma > 0) members.emplace_back(list.substr(0, comma));
    list.remove_prefix(std::min(comma + 1, list.size()));
  }
  return members;
}

// A line of the group file: name:password:gid:member,member
std::optional<Group> GroupFromFile(gid_t gid, const std::string& file) {
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    std::string_view fields[4];
    std::string_view rest = line;
    size_t count = 0;
    while (count < 4) {
      const size_t colon = rest.find(':');
      fields[count++] = rest.substr(0, colon);
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
    if (count < 3) continue;
    unsigned long number = 0;
    const std::string_view id = fields[2];
    const auto [end, failed] = std::from_chars(id.data(), id.data() + id.size(), number);
    if (id.empty() || failed != std::errc() || end != id.data() + id.size() || number != gid) continue;
    return Group{std::string(fields[0]), SplitMembers(fields[3])};
  }
  return std::nullopt;
}

// The _r lookups want a buffer; they say ERANGE until it is large enough.
template <class Entry, class Lookup>
bool LookUp(Lookup lookup, Entry& entry, std::vector<char>& buffer) {
  buffer.resize(1024);
  for (;;) {
    Entry* found = nullptr;
    const int error = lookup(&entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    return error == 0 && found != nullptr;
  }
}

std::optional<Group> GroupFromSystem(gid_t gid) {
  group entry{};
  std::vector<char> buffer;
  if (!LookUp(
          [gid](group* g, char* b, size_t n, group** found) { return getgrgid_r(gid, g, b, n, found); }, entry,
          buffer)) {
    return std::nullopt;
  }
  Group out{entry.gr_name, {}};
  for (char** member = entry.gr_mem; member != nullptr && *member != nullptr; ++member) out.members.emplace_back(*member);
  return out;
}

struct User {
  std::string name;
  gid_t group = 0;
};

std::optional<User> LookUpUser(uid_t uid) {
  passwd entry{};
  std::vector<char> buffer;
  if (!LookUp([uid](passwd* p, char* b, size_t n, passwd** found) { return getpwuid_r(uid, p, b, n, found); },
              entry, buffer)) {
    return std::nullopt;
  }
  return User{entry.pw_name, entry.pw_gid};
}

bool ProcessHasGroup(gid_t gid) {
  if (getegid() == gid) return true;
  const int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int got = getgroups(count, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

std::string DescribeRefusal(const std::string& path, const Error& error, const SystemRoots& roots) {
  struct stat node {};
  if (stat(path.c_str(), &node) != 0) return Fill(says::kRefused, {path, error.text});
  // Joining root's group is no advice; a device only root's group may use
  // wants the rule, like one only root may use.
  const bool groupMay = (node.st_mode & S_IRGRP) && (node.st_mode & S_IWGRP) && node.st_gid != 0;
  if (!groupMay) {
    const std::optional<User> owner = LookUpUser(node.st_uid);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(node.st_mode & 07777));
    return Fill(says::kInstallRule, {path, owner ? owner->name : std::to_string(node.st_uid), mode});
  }
  // Already in the group and still refused: an access list, a mount without
  // devices or a security module; the system's text is all there is to say.
  if (ProcessHasGroup(node.st_gid)) return Fill(says::kRefused, {path, error.text});
  const std::optional<Group> group =
      roots.groupFile.empty() ? GroupFromSystem(node.st_gid) : GroupFromFile(node.st_gid, roots.groupFile);
  const std::string name = group ? group->name : std::to_string(node.st_gid);
  // The groups of a login are fixed when it starts: a user added since is in
  // the list but not yet in this process.
  if (const std::optional<User> user = LookUpUser(geteuid()); user && group) {
    const bool member = user->group == node.st_gid ||
                        std::find(group->members.begin(), group->members.end(), user->name) != group->members.end();
    if (member) return Fill(says::kLogInAgain, {path, name});
  }
  return Fill(says::kJoinGroup, {path, name, name});
}

// ---- Busy ----

std::optional<unsigned long> ProcessId(const std::string& name) {
  unsigned long pid = 0;
  const auto [end, failed] = std::from_chars(name.data(), name.data() + name.size(), pid);
  if (name.empty() || failed != std::errc() || end != name.data() + name.size()) return std::nullopt;
  return pid;
}

// Processes with a descriptor on the device, by pid. Only those whose
// descriptors this process may see: another user's are hidden from it.
std::vector<std::string> Holders(const std::string& path, const std::string& proc) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path canonical = fs::canonical(path, ec);
  const std::string real = ec ? path : canonical.string();
  std::vector<std::pair<unsigned long, std::string>> found;
  for (fs::directory_iterator it(proc, ec), end; !ec && it != end; it.increment(ec)) {
    const std::optional<unsigned long> pid = ProcessId(it->path().filename().string());
    if (!pid) continue;
    std::error_code fdError;
    bool holds = false;
    for (fs::directory_iterator fd(it->path() / "fd", fdError); !fdError && fd != end && !holds;
         fd.increment(fdError)) {
      std::error_code linkError;
      const std::string target = fs::read_symlink(fd->path(), linkError).string();
      holds = !linkError && (target == real || target == path);
    }
    if (!holds) continue;
    std::string command;
    std::ifstream comm(it->path() / "comm");
    std::getline(comm, command);
    found.emplace_back(*pid, command);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> holders;
  for (const auto& [pid, command] : found) holders.push_back(Fill(says::kHolder, {std::to_string(pid), command}));
  return holders;
}

// ---- Not a serial device ----

std::string DescribeKind(const std::string& path) {
  struct stat node {};
  if (stat(path.c_str(), &node) != 0) return Fill(says::kNotSerial, {path});
  if (S_ISDIR(node.st_mode)) return Fill(says::kDirectory, {path});
  if (S_ISREG(node.st_mode)) return Fill(says::kRegularFile, {path});
  if (S_ISCHR(node.st_mode) || S_ISBLK(node.st_mode)) return Fill(says::kOtherDevice, {path});
  return Fill(says::kNotSerial, {path});
}

}  // namespace

std::string DescribeOpenFailure(const std::string& path, const Error& error, const SystemRoots& roots) {
  switch (error.kind) {
    case ErrorKind::kPermission:
      return DescribeRefusal(path, error, roots);
    case ErrorKind::kBusy: {
      const std::vector<std::string> holders = Holders(path, roots.proc);
      if (holders.empty()) return Fill(says::kHeldByAnother, {path});
      return Fill(says::kHeldBy, {path, Join(holders, Tr(says::kHolderSeparator))});
    }
    case ErrorKind::kNotFound: {
      const std::vector<std::string> ports = ListPorts(roots.sys, roots.dev);
      if (ports.empty()) return Fill(says::kMissingNoPorts, {path});
      return Fill(says::kMissing, {path, Join(ports, says::kPortSeparator)});
    }
    case ErrorKind::kNotSerialDevice:
      return DescribeKind(path);
    case ErrorKind::kIo:
    case ErrorKind::kBadInput:
      break;
  }
  return Fill(says::kIo, {path, error.text});
}

}  // namespace corvel::serial
