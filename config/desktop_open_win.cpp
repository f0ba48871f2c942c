// Windows: the shell's "open" verb, as a double click in Explorer does.
#include <windows.h>
#include <shellapi.h>

#include "config/desktop_open.h"
#include "text/translation.h"

namespace corvel::config {

Result<void> OpenWithDesktop(const std::string& path) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), wide.data(), length);
  // Values above 32 are success; the rest are the old error codes.
  const auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (result <= 32) {
    return MakeError(ErrorKind::kIo, Tr("无法打开 ") + path + ": ShellExecuteW: " + std::to_string(result));
  }
  return {};
}

}  // namespace corvel::config
