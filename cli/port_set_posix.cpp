// The port set's system calls on POSIX: glob(3) for wildcards, realpath(3)
// to tell one device under two names.
#include <glob.h>
#include <limits.h>
#include <stdlib.h>

#include "cli/port_set.h"

namespace corvel::cli {
namespace {

std::vector<std::string> Expand(const std::string& pattern) {
  std::vector<std::string> paths;
  glob_t found{};
  // glob sorts its matches unless told not to.
  if (glob(pattern.c_str(), 0, nullptr, &found) == 0) {
    for (size_t i = 0; i < found.gl_pathc; ++i) paths.emplace_back(found.gl_pathv[i]);
  }
  globfree(&found);
  return paths;
}

std::string Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

}  // namespace

PortSystem SystemPorts() { return {Expand, Canonical}; }

}  // namespace corvel::cli
