// Runs a program of the project (corvel-dl by default, where the test target
// names it in CORVEL_DL_PATH) as a child process with its stdout and stderr on
// pipes, for end-to-end tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace corvel::testing {

// A child process with its stdout and stderr on pipes.
class Tool {
 public:
#ifdef CORVEL_DL_PATH
  explicit Tool(std::vector<std::string> args) : Tool(std::move(args), CORVEL_DL_PATH) {}
#endif
  Tool(std::vector<std::string> args, const char* program) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
    fcntl(out_, F_SETFL, O_NONBLOCK);
  }
  ~Tool() {
    if (pid_ > 0) Wait();
    close(out_);
    close(err_);
  }

  // Reads what stdout has now, waiting up to `timeoutMs` for something.
  void ReadOut(int timeoutMs) {
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return;
    char buffer[4096];
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n > 0) stdout_.append(buffer, static_cast<size_t>(n));
  }

  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    fcntl(out_, F_SETFL, 0);
    char buffer[4096];
    for (ssize_t n; (n = read(out_, buffer, sizeof buffer)) > 0;) stdout_.append(buffer, static_cast<size_t>(n));
    for (ssize_t n; (n = read(err_, buffer, sizeof buffer)) > 0;) stderr_.append(buffer, static_cast<size_t>(n));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Sends `signal` to the child while it runs (Ctrl-C is SIGINT).
  void Signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
  }

  bool started() const { return pid_ > 0; }
  const std::string& out() const { return stdout_; }
  const std::string& err() const { return stderr_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string stdout_;
  std::string stderr_;
};

}  // namespace corvel::testing
