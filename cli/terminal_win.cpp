// A console has a console mode; _isatty alone also says yes for NUL.
// clang-format off
#include <windows.h>
#include <io.h>
#include <shellapi.h>
// clang-format on

#include "cli/terminal.h"

namespace corvel::cli {

bool IsTerminal(FILE* stream) {
  const int fd = _fileno(stream);
  if (fd < 0 || !_isatty(fd)) return false;
  DWORD mode = 0;
  return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &mode) != 0;
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr || count != argc) {
    if (wide != nullptr) LocalFree(wide);
    return {argv, argv + argc};
  }
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(size > 0 ? size - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text.data(), size, nullptr, nullptr);
    arguments.push_back(std::move(text));
  }
  LocalFree(wide);
  return arguments;
}

void PrepareConsole() {
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
}

}  // namespace corvel::cli
