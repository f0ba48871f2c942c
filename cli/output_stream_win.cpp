// The JSON output's stream on Windows: _dup for the duplicate, the name
// through _wfopen, handles not inherited ("N"). Windows has no SIGPIPE: a
// write to a closed pipe fails and is reported.
#include <io.h>
#include <windows.h>

#include "cli/output_stream.h"

namespace corvel::cli {

FILE* DuplicateStdout() {
  std::fflush(stdout);
  const int fd = _dup(_fileno(stdout));
  FILE* file = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
  if (file == nullptr && fd >= 0) _close(fd);
  return file;
}

FILE* OpenOutputStream(const std::string& path, bool append) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring name(static_cast<size_t>(length > 0 ? length : 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), name.data(), length);
  return _wfopen(name.c_str(), append ? L"abN" : L"wbN");
}

SigpipeHeld::SigpipeHeld() = default;

SigpipeHeld::~SigpipeHeld() = default;

}  // namespace corvel::cli
