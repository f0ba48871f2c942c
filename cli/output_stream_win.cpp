// The JSON output's stream on Windows: _dup for the duplicate, the name
// through _wfopen, handles not inherited ("N"). Windows has no SIGPIPE: a
// write to a closed pipe fails and is reported.
#include <io.h>
#include <windows.h>

#include "cli/output_stream.h"
#include "text/wide_text.h"

namespace corvel::cli {

FILE* DuplicateStdout() {
  std::fflush(stdout);
  const int fd = _dup(_fileno(stdout));
  FILE* file = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
  if (file == nullptr && fd >= 0) _close(fd);
  return file;
}

FILE* OpenOutputStream(const std::string& path, bool append) {
  return _wfopen(WideFromUtf8(path).c_str(), append ? L"abN" : L"wbN");
}

SigpipeHeld::SigpipeHeld() = default;

SigpipeHeld::~SigpipeHeld() = default;

}  // namespace corvel::cli
