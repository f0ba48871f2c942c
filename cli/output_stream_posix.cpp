// The JSON output's stream on POSIX: fcntl for the duplicate, O_CLOEXEC
// through fopen's "e", SIGPIPE held while writing.
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include "cli/output_stream.h"

namespace corvel::cli {

FILE* DuplicateStdout() {
  const int fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  FILE* file = fd >= 0 ? fdopen(fd, "w") : nullptr;
  if (file == nullptr && fd >= 0) close(fd);
  return file;
}

// Lines are appended so that a series of --repeat runs builds one log.
FILE* OpenOutputStream(const std::string& path, bool append) { return std::fopen(path.c_str(), append ? "ae" : "we"); }

SigpipeHeld::SigpipeHeld() {
  sigemptyset(&pipe_);
  sigaddset(&pipe_, SIGPIPE);
  sigset_t pending;
  sigpending(&pending);
  wasPending_ = sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
}

SigpipeHeld::~SigpipeHeld() {
  sigset_t pending;
  sigpending(&pending);
  if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
    const timespec now{0, 0};
    (void)sigtimedwait(&pipe_, nullptr, &now);
  }
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace corvel::cli
