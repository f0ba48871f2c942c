// POSIX: open with O_EXCL, fsync, rename. A Windows variant would use
// MoveFileEx with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH.
#include "config/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

namespace corvel::config {
namespace {

Error WriteError(const std::string& path, int error) {
  const bool denied = error == EACCES || error == EPERM || error == EROFS;
  return MakeError(denied ? ErrorKind::kPermission : ErrorKind::kIo,
                   "无法写入文件 " + path + ": " + std::generic_category().message(error));
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace

Result<void> WriteFileAtomically(const std::string& path, std::string_view bytes) {
  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  // A name nobody else uses: the process id and a counter, retried when a
  // stale file from a crashed run holds it.
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(counter++);
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return WriteError(path, errno);
  }
  if (fd < 0) return WriteError(path, EEXIST);

  int error = 0;
  if (!WriteAll(fd, bytes) || fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    unlink(temp.c_str());
    return WriteError(path, error);
  }
  // Make the rename itself durable; a folder that cannot be synced (some
  // file systems refuse) still has the complete file.
  const int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  return {};
}

}  // namespace corvel::config
