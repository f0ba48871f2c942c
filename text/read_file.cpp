#include "text/read_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include "text/translation.h"

namespace corvel::text {
namespace {

// The refusals' reasons, after "无法读取文件 PATH: ".
constexpr const char* kNotAFile = "不是普通文件或管道";
constexpr const char* kNoWriter = "管道没有写入端";

Error FileError(const std::string& path, int error) {
  const ErrorKind kind = (error == EACCES || error == EPERM) ? ErrorKind::kPermission : ErrorKind::kIo;
  return MakeError(kind, Tr("无法读取文件 ") + path + ": " + std::generic_category().message(error));
}

Error Refusal(const std::string& path, const char* reason) {
  return MakeError(ErrorKind::kBadInput, Tr("无法读取文件 ") + path + ": " + reason);
}

Error TooLarge(const std::string& path) { return MakeError(ErrorKind::kBadInput, Tr("文件过大 ") + path); }

// What may be read as an input: a folder is told as before, a device, a
// socket or anything else is no file to read.
Result<void> CheckType(const std::string& path, mode_t mode) {
  if (S_ISDIR(mode)) return FileError(path, EISDIR);
  if (!S_ISREG(mode) && !S_ISFIFO(mode)) return Refusal(path, Tr(kNotAFile));
  return {};
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

Result<std::string> ReadFile(const std::string& path, size_t maxBytes) {
  // Checked by name first, so that a device is never opened: opening a serial
  // port moves its modem lines.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return FileError(path, errno);
  if (auto type = CheckType(path, info.st_mode); !type) return type.error();
  // Without O_NONBLOCK, opening a FIFO waits for a writer, perhaps for ever.
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.get() < 0) return FileError(path, errno);
  // The name may point elsewhere by now; what was opened decides.
  if (::fstat(file.get(), &info) != 0) return FileError(path, errno);
  if (auto type = CheckType(path, info.st_mode); !type) return type.error();
  const bool pipe = S_ISFIFO(info.st_mode);

  std::string bytes;
  // Size known up front for a regular file: refuse early and read without
  // growing the string. Pipes are read as they come.
  if (!pipe) {
    if (info.st_size > 0 && static_cast<unsigned long long>(info.st_size) > maxBytes) return TooLarge(path);
    if (info.st_size > 0) bytes.reserve(static_cast<size_t>(info.st_size));
  }
  // A pipe's first read tells whether the open found a writer: none gives
  // end of file at once, a writer with nothing written yet gives EAGAIN.
  // From then on the reads wait for a slow writer, up to its end of file.
  bool firstPipeRead = pipe;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && !(firstPipeRead && errno == EAGAIN)) return FileError(path, errno);
    if (got == 0 && firstPipeRead) return Refusal(path, Tr(kNoWriter));
    if (got == 0) break;
    if (firstPipeRead) {
      firstPipeRead = false;
      const int flags = ::fcntl(file.get(), F_GETFL);
      if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return FileError(path, errno);
    }
    if (got < 0) continue;
    const auto count = static_cast<size_t>(got);
    if (bytes.size() + count > maxBytes) return TooLarge(path);
    bytes.append(buffer, count);
  }
  return bytes;
}

}  // namespace corvel::text
