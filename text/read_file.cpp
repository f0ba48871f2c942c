#include "text/read_file.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

namespace corvel::text {
namespace {

Error FileError(const std::string& path, int error) {
  const ErrorKind kind = (error == EACCES || error == EPERM) ? ErrorKind::kPermission : ErrorKind::kIo;
  return MakeError(kind, "无法读取文件 " + path + ": " + std::generic_category().message(error));
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

Result<std::string> ReadFile(const std::string& path, size_t maxBytes) {
  // fopen opens a folder too; its reads fail only later, its size is made up.
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) return FileError(path, EISDIR);
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return FileError(path, errno);
  std::string bytes;
  // Size known up front for a regular file: refuse early and read without
  // growing the string. Other files (pipes) are read as they come.
  if (std::fseek(file.get(), 0, SEEK_END) == 0) {
    const long size = std::ftell(file.get());
    if (size > 0 && static_cast<unsigned long>(size) > maxBytes) {
      return MakeError(ErrorKind::kBadInput, "文件过大 " + path);
    }
    if (size > 0) bytes.reserve(static_cast<size_t>(size));
  }
  std::rewind(file.get());
  char buffer[65536];
  for (;;) {
    const size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
    if (got > 0) {
      if (bytes.size() + got > maxBytes) {
        return MakeError(ErrorKind::kBadInput, "文件过大 " + path);
      }
      bytes.append(buffer, got);
    }
    if (got < sizeof buffer) {
      if (std::ferror(file.get())) return FileError(path, errno);
      break;
    }
  }
  return bytes;
}

}  // namespace corvel::text
