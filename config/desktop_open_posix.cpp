#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "config/desktop_open.h"
#include "text/translation.h"

extern char** environ;

namespace corvel::config {

Result<void> OpenWithDesktop(const std::string& path) {
  std::string program = "xdg-open";
  char* argv[] = {program.data(), const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ);
  if (error != 0) {
    return MakeError(ErrorKind::kIo, Tr("无法打开 ") + path + ": xdg-open: " + std::strerror(error));
  }
  // Some openers stay until the editor closes: reap it on the side, so the
  // window is not held up and no zombie stays behind.
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return {};
}

}  // namespace corvel::config
