// Reading an input file on Windows: the name is UTF-8 and opened through the
// wide-character calls; there are no FIFOs, so only a regular file is read.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <system_error>

#include "text/read_file.h"
#include "text/translation.h"
#include "text/wide_text.h"

namespace corvel::text {
namespace {

// The refusal's reason, after "无法读取文件 PATH: ".
constexpr const char* kNotAFile = "不是普通文件或管道";

Error FileError(const std::string& path, int error) {
  const ErrorKind kind = (error == EACCES || error == EPERM) ? ErrorKind::kPermission : ErrorKind::kIo;
  return MakeError(kind, Tr("无法读取文件 ") + path + ": " + std::generic_category().message(error));
}

Error TooLarge(const std::string& path) { return MakeError(ErrorKind::kBadInput, Tr("文件过大 ") + path); }

// NUL, COM1 and the like, in any folder: the full name puts them under \\.\,
// and the C library's stat would call them missing.
bool IsDevice(const std::wstring& name) {
  const DWORD length = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  if (length == 0) return false;
  std::wstring full(length, L'\0');
  full.resize(GetFullPathNameW(name.c_str(), length, full.data(), nullptr));
  return full.compare(0, 4, L"\\\\.\\") == 0;
}

Result<void> CheckType(const std::string& path, unsigned short mode) {
  if ((mode & _S_IFMT) == _S_IFDIR) return FileError(path, EISDIR);
  if ((mode & _S_IFMT) != _S_IFREG) {
    return MakeError(ErrorKind::kBadInput, Tr("无法读取文件 ") + path + ": " + Tr(kNotAFile));
  }
  return {};
}

}  // namespace

Result<std::string> ReadFile(const std::string& path, size_t maxBytes) {
  const std::wstring name = WideFromUtf8(path);
  // Checked by name first, so that a device (a COM port) is never opened.
  if (!path.empty() && IsDevice(name)) {
    return MakeError(ErrorKind::kBadInput, Tr("无法读取文件 ") + path + ": " + Tr(kNotAFile));
  }
  struct _stat64 info {};
  if (path.empty() || _wstat64(name.c_str(), &info) != 0) return FileError(path, path.empty() ? ENOENT : errno);
  if (auto type = CheckType(path, info.st_mode); !type) return type.error();
  const int fd = _wopen(name.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) return FileError(path, errno);
  std::string bytes;
  int error = 0;
  if (_fstat64(fd, &info) != 0) {
    error = errno;
  } else if (auto type = CheckType(path, info.st_mode); !type) {
    _close(fd);
    return type.error();
  } else if (static_cast<unsigned long long>(info.st_size) > maxBytes) {
    _close(fd);
    return TooLarge(path);
  }
  if (error == 0) bytes.reserve(static_cast<size_t>(info.st_size));
  char buffer[65536];
  while (error == 0) {
    const int got = _read(fd, buffer, sizeof buffer);
    if (got < 0) error = errno;
    if (got <= 0) break;
    if (bytes.size() + static_cast<size_t>(got) > maxBytes) {
      _close(fd);
      return TooLarge(path);
    }
    bytes.append(buffer, static_cast<size_t>(got));
  }
  _close(fd);
  if (error != 0) return FileError(path, error);
  return bytes;
}

}  // namespace corvel::text
