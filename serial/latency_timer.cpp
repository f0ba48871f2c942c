#include "serial/latency_timer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <system_error>

namespace corvel::serial {
namespace {

// Attributes are read and written whole, at the start of the file.
bool WriteMillis(int fd, int millis) {
  char text[16];
  const auto [end, error] = std::to_chars(text, text + sizeof text - 1, millis);
  if (error != std::errc()) return false;
  *end = '\n';
  const size_t length = static_cast<size_t>(end - text) + 1;
  return pwrite(fd, text, length, 0) == static_cast<ssize_t>(length);
}

int ReadMillis(int fd) {
  char text[16];
  const ssize_t got = pread(fd, text, sizeof text, 0);
  int millis = -1;
  if (got > 0) std::from_chars(text, text + got, millis);
  return millis;
}

}  // namespace

LatencyTimer::~LatencyTimer() { Restore(); }

void LatencyTimer::Lower(const std::string& ttyName, const std::string& sysRoot) {
  namespace fs = std::filesystem;
  Restore();
  if (ttyName.empty()) return;
  const fs::path device = fs::path(sysRoot) / "class" / "tty" / ttyName / "device";
  std::error_code ec;
  if (fs::read_symlink(device / "driver", ec).filename() != kDriver) return;
  const std::string file = (device / "latency_timer").string();
  // Root may open a file without write permission, but the driver offers the
  // timer read-only where it cannot be changed.
  struct stat info {};
  if (stat(file.c_str(), &info) != 0 || (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return;
  const int fd = open(file.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return;
  const int old = ReadMillis(fd);
  if (old <= kLowestMillis || !WriteMillis(fd, kLowestMillis)) {
    close(fd);
    return;
  }
  fd_ = fd;
  oldMillis_ = old;
}

void LatencyTimer::Restore() {
  if (fd_ < 0) return;
  [[maybe_unused]] const bool restored = WriteMillis(fd_, oldMillis_);
  close(fd_);
  fd_ = -1;
}

}  // namespace corvel::serial
