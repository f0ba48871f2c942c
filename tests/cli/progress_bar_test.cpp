// The progress bar on a terminal: the real corvel-dl with its stderr on a
// pseudo-terminal, downloading to a simulated chip.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/hex_writer.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_chip.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace corvel::cli {
namespace {

// Runs corvel-dl with stdout on /dev/null and stderr on the pseudo-terminal,
// reading the terminal as it goes (a bar that floods it must not stall the
// run); returns the exit status and everything the terminal showed.
int RunOnTerminal(std::vector<std::string> args, std::string& shown) {
  testing::PtyPair pty;
  EXPECT_TRUE(pty.ok());
  const int terminal = open(pty.path().c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  EXPECT_GE(terminal, 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, terminal, 2);
  args.insert(args.begin(), CORVEL_DL_PATH);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, CORVEL_DL_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(terminal);
  EXPECT_EQ(spawned, 0);
  if (spawned != 0) return -1;

  int status = 0;
  char buffer[4096];
  for (bool running = true; running;) {
    running = waitpid(pid, &status, WNOHANG) == 0;
    pollfd p{pty.master(), POLLIN, 0};
    // After the exit, drain what is left without waiting.
    while (poll(&p, 1, running ? 20 : 0) == 1 && (p.revents & POLLIN) != 0) {
      const ssize_t n = read(pty.master(), buffer, sizeof buffer);
      if (n <= 0) break;
      shown.append(buffer, static_cast<size_t>(n));
    }
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Images of one block pass every percent at once: each still gets one bar,
// ended once.
TEST(ProgressBar, OneBarPerImageHoweverSmall) {
  testing::SimChip chip;
  const testing::TempDir dir;
  const std::string app = dir.Write("tiny.hex", testing::HexText({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  const std::string user = dir.Write("user.cfg", "01 02 03\n");
  struct Row {
    std::vector<std::string> images;
    std::vector<std::string> totals;  // each bar's "sent/total B"
  };
  const std::vector<Row> rows = {
      {{"--user", user}, {"3/3 B"}},
      {{"--app", app, "--user", user}, {"10/10 B", "3/3 B"}},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args = {"-p", chip.path, "download"};
    args.insert(args.end(), row.images.begin(), row.images.end());
    std::string shown;
    ASSERT_EQ(RunOnTerminal(args, shown), 0) << shown;
    const std::vector<std::string> lines = testing::SplitLines(shown);
    ASSERT_EQ(lines.size(), row.totals.size()) << shown;
    for (size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].find("\r["), 0u) << lines[i];
      EXPECT_NE(lines[i].find("] 100% " + row.totals[i]), std::string::npos) << lines[i];
      // Drawn once: a redraw would start with a carriage return again.
      EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), '\r'), 1) << lines[i];
    }
  }
}

}  // namespace
}  // namespace corvel::cli
