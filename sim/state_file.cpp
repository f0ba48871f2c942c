#include "sim/state_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace corvel::sim {

namespace {

Error FileError(const std::string& what, const std::string& path) {
  const ErrorKind kind = errno == EACCES || errno == EPERM ? ErrorKind::kPermission : ErrorKind::kIo;
  return MakeError(kind, what + " " + path + ": " + std::strerror(errno));
}

}  // namespace

Result<ChipMemory> LoadStateFile(const std::string& path, bool& exists) {
  exists = false;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return ChipMemory::Factory(0);
    return FileError("cannot open state file", path);
  }
  exists = true;
  std::vector<uint8_t> bytes;
  uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const Error error = FileError("cannot read state file", path);
      close(fd);
      return error;
    }
    if (n == 0) break;
    // Bounded: a state file is a little over the flash size.
    if (bytes.size() > 2 * kFlashSize) break;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  close(fd);
  Result<ChipMemory> memory = ChipMemory::Deserialize(bytes.data(), bytes.size());
  if (!memory) return MakeError(ErrorKind::kBadInput, "state file " + path + ": " + memory.error().text);
  return memory;
}

Result<void> SaveStateFile(const std::string& path, const ChipMemory& memory) {
  const std::vector<uint8_t> bytes = memory.Serialize();
  std::string temp = path + ".XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return FileError("cannot create a temporary file beside", path);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const Error error = FileError("cannot write", temp);
      close(fd);
      unlink(temp.c_str());
      return error;
    }
    done += static_cast<size_t>(n);
  }
  const bool synced = fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (!synced || !closed) {
    const Error error = FileError("cannot write", temp);
    unlink(temp.c_str());
    return error;
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    const Error error = FileError("cannot replace", path);
    unlink(temp.c_str());
    return error;
  }
  return {};
}

}  // namespace corvel::sim
