// The corvel-sim executable: device path first on stdout, a host can connect,
// SIGTERM ends it cleanly and writes the lateness report.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>

#include "tests/sim/sim_test_util.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace corvel::sim {
namespace {

using namespace corvel::sim::testing;

TEST(CorvelSim, PrintsTheDeviceAndServesAHandshake) {
  corvel::testing::TempDir dir;
  const std::string link = dir.Path("ttyCORVEL");
  const std::string lateness = dir.Path("lateness.txt");
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::vector<std::string> args = {CORVEL_SIM_EXE, "--link", link, "--password", "5A6B7C8D", "--lateness", lateness};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, CORVEL_SIM_EXE, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);

  FILE* stdoutOfSim = fdopen(out[0], "r");
  char line[256] = {};
  ASSERT_NE(fgets(line, sizeof line, stdoutOfSim), nullptr);
  std::string path(line);
  ASSERT_FALSE(path.empty());
  ASSERT_EQ(path.back(), '\n');
  path.pop_back();
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(path, target);

  {
    PtyHost host(path);
    ASSERT_TRUE(host.Sync());
    const std::optional<Answer> wrong = host.Command(0x11, U32Le(0xFFFFFFFF));
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->status, 0x00);
    const std::optional<Answer> right = host.Command(0x11, U32Le(0x5A6B7C8D));
    ASSERT_TRUE(right);
    EXPECT_EQ(right->status, 0x20);
  }

  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NE(lstat(link.c_str(), &st), 0);
  fclose(stdoutOfSim);

  // Its value depends on the machine's load; that it is there and whole does not.
  std::ifstream in(lateness);
  const std::string report((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t answers = 0;
  double median = -1, p99 = -1, max = -1;
  int used = 0;
  ASSERT_EQ(std::sscanf(report.c_str(), "answers=%zu median_us=%lf p99_us=%lf max_us=%lf\n%n", &answers, &median, &p99,
                        &max, &used),
            4)
      << report;
  EXPECT_EQ(static_cast<size_t>(used), report.size()) << report;
  EXPECT_GE(median, 0.0);
  EXPECT_LE(median, p99);
  EXPECT_LE(p99, max);
  EXPECT_GE(answers, 3u) << "the sync answer and both handshakes";
}

}  // namespace
}  // namespace corvel::sim
