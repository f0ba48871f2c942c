// A console has a console mode; _isatty alone also says yes for NUL.
// clang-format off
#include <windows.h>
#include <io.h>
#include <shellapi.h>
// clang-format on

#include "cli/terminal.h"
#include "text/wide_text.h"

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
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8FromWide(wide[i]));
  LocalFree(wide);
  return arguments;
}

void PrepareConsole() {
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
}

}  // namespace corvel::cli
