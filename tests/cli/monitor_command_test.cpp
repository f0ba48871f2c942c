// Runs the real corvel-dl against a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/pty_pair.h"

extern char** environ;

namespace {

using corvel::testing::PtyPair;

// A child process with its stdout and stderr on pipes.
class Tool {
 public:
  explicit Tool(std::vector<std::string> args) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    args.insert(args.begin(), CORVEL_DL_PATH);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, CORVEL_DL_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
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

TEST(MonitorCommandTest, PrintsWhatArrivesAndSendsNothing) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  // Options before and after the command's name are both accepted.
  Tool tool({"monitor", "-p", pty.path(), "--duration", "2", "-b", "230400"});
  ASSERT_TRUE(tool.started());
  // The port discards what came before it opened: send dots until one shows,
  // then the text.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (tool.out().empty() && std::chrono::steady_clock::now() < deadline) {
    ASSERT_TRUE(pty.Write("."));
    tool.ReadOut(20);
  }
  ASSERT_FALSE(tool.out().empty());
  ASSERT_TRUE(pty.Write("boot v1.3\r\nready> "));
  EXPECT_EQ(tool.Wait(), 0);
  const std::string out = tool.out();
  const size_t text = out.find_first_not_of('.');
  ASSERT_NE(text, std::string::npos);
  EXPECT_EQ(out.substr(text), "boot v1.3\r\nready> ");
  EXPECT_FALSE(pty.MasterHasInput());
}

TEST(MonitorCommandTest, MissingPortExitsWithThree) {
  Tool tool({"-p", "/dev/corvel-no-such-port", "monitor", "--duration", "1"});
  ASSERT_TRUE(tool.started());
  EXPECT_EQ(tool.Wait(), 3);
  EXPECT_EQ(tool.err(), "没有发现此串口或被占用\n");
  EXPECT_EQ(tool.out(), "");
}

TEST(PortsCommandTest, ListsExistingDevicePaths) {
  Tool tool({"ports"});
  ASSERT_TRUE(tool.started());
  EXPECT_EQ(tool.Wait(), 0);
  size_t start = 0;
  for (size_t end; (end = tool.out().find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string path = tool.out().substr(start, end - start);
    EXPECT_EQ(access(path.c_str(), F_OK), 0) << path;
  }
  EXPECT_EQ(start, tool.out().size());  // every line ends with a line break
}

}  // namespace
