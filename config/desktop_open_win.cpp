// Windows: the shell's "open" verb, as a double click in Explorer does.
#include <windows.h>
#include <shellapi.h>

#include "config/desktop_open.h"
#include "text/translation.h"
#include "text/wide_text.h"

namespace corvel::config {

Result<void> OpenWithDesktop(const std::string& path) {
  const std::wstring wide = WideFromUtf8(path);
  // Values above 32 are success; the rest are the old error codes.
  const auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (result <= 32) {
    return MakeError(ErrorKind::kIo, Tr("无法打开 ") + path + ": ShellExecuteW: " + std::to_string(result));
  }
  return {};
}

}  // namespace corvel::config
