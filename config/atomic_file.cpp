// POSIX: open with O_EXCL, fsync, rename. A Windows variant would use
// MoveFileEx with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH.
#include "config/atomic_file.h"
#include "text/translation.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <system_error>

namespace corvel::config {
namespace {

// The texts of this file. Each names the path it is about.
constexpr const char* kCannotWrite = "无法写入文件 ";
constexpr const char* kFolder = "文件夹 ";
constexpr const char* kLinkedTo = " (链接到 ";
constexpr const char* kIsDangling = "是失效的符号链接, 指向 ";
constexpr const char* kIsFolder = "是文件夹";
constexpr const char* kIsDevice = "是设备文件";
constexpr const char* kIsFifo = "是管道 (FIFO)";
constexpr const char* kIsSocket = "是套接字";
constexpr const char* kIsNotRegular = "不是普通文件";

std::string OsText(int error) { return std::generic_category().message(error); }

ErrorKind KindOf(int error) {
  return error == EACCES || error == EPERM || error == EROFS ? ErrorKind::kPermission : ErrorKind::kIo;
}

Error WriteError(const std::string& path, int error) {
  return MakeError(KindOf(error), Tr(kCannotWrite) + path + ": " + OsText(error));
}

Error FolderError(const std::string& path, const std::string& folder, int error) {
  return MakeError(KindOf(error), Tr(kCannotWrite) + path + ": " + Tr(kFolder) + folder + ": " + OsText(error));
}

Error Refused(const OutputFile& file, const std::string& path, const std::string& what) {
  std::string named = path;
  if (file.viaLink) named += Tr(kLinkedTo) + file.target + ")";
  return MakeError(ErrorKind::kBadInput, Tr(kCannotWrite) + named + ": " + what);
}

const char* WhatItIs(mode_t mode) {
  if (S_ISDIR(mode)) return Tr(kIsFolder);
  if (S_ISCHR(mode) || S_ISBLK(mode)) return Tr(kIsDevice);
  if (S_ISFIFO(mode)) return Tr(kIsFifo);
  if (S_ISSOCK(mode)) return Tr(kIsSocket);
  return Tr(kIsNotRegular);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string Absolute(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  std::unique_ptr<char, decltype(&free)> cwd(getcwd(nullptr, 0), &free);
  if (!cwd) return path;
  std::string folder = cwd.get();
  if (folder.back() != '/') folder += '/';
  return folder + (path.rfind("./", 0) == 0 ? path.substr(2) : path);
}

std::string LinkText(const std::string& path) {
  char buffer[PATH_MAX];
  const ssize_t length = readlink(path.c_str(), buffer, sizeof buffer);
  return length < 0 ? std::string() : std::string(buffer, static_cast<size_t>(length));
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

Result<OutputFile> CheckOutputFile(const std::string& path) {
  OutputFile file{Absolute(path), {}, false};
  file.target = file.path;
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0) {
    if (S_ISLNK(info.st_mode)) {
      file.viaLink = true;
      std::unique_ptr<char, decltype(&free)> real(realpath(path.c_str(), nullptr), &free);
      if (!real) {
        if (errno == ENOENT) return Refused(file, path, Tr(kIsDangling) + LinkText(path));
        return WriteError(path, errno);
      }
      file.target = real.get();
      if (stat(file.target.c_str(), &info) != 0) return WriteError(path, errno);
    }
    // Renaming over anything else would put a regular file where a device,
    // a pipe or a folder was (as root, even /dev/full).
    if (!S_ISREG(info.st_mode)) return Refused(file, path, WhatItIs(info.st_mode));
  } else if (errno != ENOENT && errno != ENOTDIR) {
    return WriteError(path, errno);
  }
  // The rename needs a folder it may add entries to.
  const std::string folder = FolderOf(file.target);
  if (stat(folder.c_str(), &info) != 0) return FolderError(path, folder, errno);
  if (!S_ISDIR(info.st_mode)) return FolderError(path, folder, ENOTDIR);
  if (access(folder.c_str(), W_OK | X_OK) != 0) return FolderError(path, folder, errno);
  return file;
}

Result<OutputFile> WriteFileAtomically(const std::string& path, std::string_view bytes) {
  auto checked = CheckOutputFile(path);
  if (!checked) return checked;
  const OutputFile& file = *checked;
  struct stat old {};
  const bool replacing = stat(file.target.c_str(), &old) == 0;

  static std::atomic<unsigned> counter{0};
  const std::string folder = FolderOf(file.target);
  std::string temp;
  int fd = -1;
  // A short name of our own beside the target, so the rename stays atomic and
  // a name near the length limit still leaves room; retried when a stale file
  // from a crashed run holds it.
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = folder + "/.corvel-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".tmp";
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return WriteError(path, errno);
  }
  if (fd < 0) return WriteError(path, EEXIST);

  int error = 0;
  if (replacing) {
    // Giving the file to another owner needs privileges; without them the
    // writer owns it, as any editor's save would leave it.
    if (fchown(fd, old.st_uid, old.st_gid) != 0) {
    }
    if (fchmod(fd, old.st_mode & 07777) != 0) error = errno;
  }
  if (error == 0 && (!WriteAll(fd, bytes) || fsync(fd) != 0)) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(temp.c_str(), file.target.c_str()) != 0) error = errno;
  if (error != 0) {
    unlink(temp.c_str());
    return WriteError(path, error);
  }
  // Make the rename itself durable; a folder that cannot be synced (some
  // file systems refuse) still has the complete file.
  const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd >= 0) {
    fsync(folderFd);
    close(folderFd);
  }
  return checked;
}

}  // namespace corvel::config
