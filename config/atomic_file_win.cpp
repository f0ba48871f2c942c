// Windows: a new file beside the target (CREATE_NEW), FlushFileBuffers, then
// MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH. Names
// are UTF-8 and go through the wide-character calls.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "config/atomic_file.h"
#include "text/translation.h"
#include "text/wide_text.h"

namespace corvel::config {
namespace {

// The texts of this file (as on POSIX). Each names the path it is about.
constexpr const char* kCannotWrite = "无法写入文件 ";
constexpr const char* kFolder = "文件夹 ";
constexpr const char* kIsFolder = "是文件夹";
constexpr const char* kIsDevice = "是设备文件";

ErrorKind KindOf(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT ? ErrorKind::kPermission : ErrorKind::kIo;
}

Error WriteError(const std::string& path, DWORD error) {
  return MakeError(KindOf(error), Tr(kCannotWrite) + path + ": " + SystemErrorText(error));
}

Error FolderError(const std::string& path, const std::string& folder, DWORD error) {
  return MakeError(KindOf(error), Tr(kCannotWrite) + path + ": " + Tr(kFolder) + folder + ": " + SystemErrorText(error));
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  // "C:\" stays the drive's root.
  if (slash == 0 || (slash == 2 && path[1] == ':')) return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

std::string Absolute(const std::string& path) {
  const std::wstring name = WideFromUtf8(path);
  const DWORD length = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  if (length == 0) return path;
  std::wstring full(length, L'\0');
  const DWORD written = GetFullPathNameW(name.c_str(), length, full.data(), nullptr);
  full.resize(written);
  return Utf8FromWide(full);
}

}  // namespace

Result<OutputFile> CheckOutputFile(const std::string& path) {
  OutputFile file{Absolute(path), {}, false};
  file.target = file.path;
  // NUL, COM1 and the like, in any folder, are devices: the full name puts
  // them under \\.\, where the attributes call fails rather than saying so.
  if (file.target.rfind("\\\\.\\", 0) == 0) {
    return MakeError(ErrorKind::kBadInput, Tr(kCannotWrite) + path + ": " + Tr(kIsDevice));
  }
  const DWORD attributes = GetFileAttributesW(WideFromUtf8(file.target).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      return MakeError(ErrorKind::kBadInput, Tr(kCannotWrite) + path + ": " + Tr(kIsFolder));
    }
    if (attributes & FILE_ATTRIBUTE_DEVICE) {
      return MakeError(ErrorKind::kBadInput, Tr(kCannotWrite) + path + ": " + Tr(kIsDevice));
    }
  } else if (const DWORD error = GetLastError(); error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
    return WriteError(path, error);
  }
  const std::string folder = FolderOf(file.target);
  const DWORD folderAttributes = GetFileAttributesW(WideFromUtf8(folder).c_str());
  if (folderAttributes == INVALID_FILE_ATTRIBUTES) return FolderError(path, folder, GetLastError());
  if (!(folderAttributes & FILE_ATTRIBUTE_DIRECTORY)) return FolderError(path, folder, ERROR_DIRECTORY);
  return file;
}

Result<OutputFile> WriteFileAtomically(const std::string& path, std::string_view bytes) {
  auto checked = CheckOutputFile(path);
  if (!checked) return checked;
  const OutputFile& file = *checked;
  static std::atomic<unsigned> counter{0};
  const std::string folder = FolderOf(file.target);
  std::wstring temp;
  HANDLE handle = INVALID_HANDLE_VALUE;
  // A short name of our own beside the target, so the move stays on one
  // volume; retried when a stale file from a crashed run holds it.
  for (int attempt = 0; attempt < 100 && handle == INVALID_HANDLE_VALUE; ++attempt) {
    temp = WideFromUtf8(folder + "\\.corvel-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++) +
                ".tmp");
    handle = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return WriteError(path, GetLastError());
  }
  if (handle == INVALID_HANDLE_VALUE) return WriteError(path, ERROR_FILE_EXISTS);

  DWORD error = 0;
  while (error == 0 && !bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
    if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr)) error = GetLastError();
    bytes.remove_prefix(written);
  }
  if (error == 0 && !FlushFileBuffers(handle)) error = GetLastError();
  CloseHandle(handle);
  if (error == 0 &&
      !MoveFileExW(temp.c_str(), WideFromUtf8(file.target).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
  }
  if (error != 0) {
    DeleteFileW(temp.c_str());
    return WriteError(path, error);
  }
  return checked;
}

}  // namespace corvel::config
