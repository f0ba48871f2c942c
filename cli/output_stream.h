// The system side of a JSON output stream: a stream of its own on stdout, a
// file opened by its UTF-8 name, and writes that survive a reader going away.
#pragma once

#include <cstdio>
#include <string>
#ifndef _WIN32
#include <csignal>
#endif

namespace corvel::cli {

// A duplicate of stdout that stays on the original stdout when fd 1 is
// pointed elsewhere; nullptr with errno set on failure.
FILE* DuplicateStdout();

// Opens `path` for writing, appending or truncating, not inherited by
// children; nullptr with errno set on failure.
FILE* OpenOutputStream(const std::string& path, bool append);

// A reader that has gone away (a closed pipe) is a failed write for the
// caller to report, not the end of the process. Held around each write.
class SigpipeHeld {
 public:
  SigpipeHeld();
  ~SigpipeHeld();
  SigpipeHeld(const SigpipeHeld&) = delete;
  SigpipeHeld& operator=(const SigpipeHeld&) = delete;

#ifndef _WIN32
 private:
  sigset_t pipe_;
  sigset_t previous_;
  bool wasPending_ = false;
#endif
};

}  // namespace corvel::cli
