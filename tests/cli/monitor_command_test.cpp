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

#include "serial/open_failure.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_chip.h"
#include "tests/support/tool_process.h"

extern char** environ;

namespace {

using corvel::testing::PtyPair;
using corvel::testing::Tool;


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
  // The second line in GBK, as firmware built for the original code page prints it.
  ASSERT_TRUE(pty.Write("boot v1.3\r\n\xD0\xBE\xC6\xAC ready> "));
  EXPECT_EQ(tool.Wait(), 0);
  const std::string out = tool.out();
  const size_t text = out.find_first_not_of('.');
  ASSERT_NE(text, std::string::npos);
  EXPECT_EQ(out.substr(text), "boot v1.3\r\n芯片 ready> ");
  EXPECT_FALSE(pty.MasterHasInput());
}

TEST(MonitorCommandTest, MissingPortExitsWithThree) {
  Tool tool({"-p", "/dev/corvel-no-such-port", "monitor", "--duration", "1"});
  ASSERT_TRUE(tool.started());
  EXPECT_EQ(tool.Wait(), 3);
  // The cause line lists this machine's ports, so it is made as the tool makes it.
  const corvel::Error missing{corvel::ErrorKind::kNotFound, ""};
  EXPECT_EQ(tool.err(), "没有发现此串口或被占用\n" +
                            corvel::serial::DescribeOpenFailure("/dev/corvel-no-such-port", missing) + "\n");
  EXPECT_NE(tool.err().find("没有找到串口 /dev/corvel-no-such-port, "), std::string::npos);
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

// This machine's own ports: the long form is the short one with fields after
// each path (the fields themselves are checked on a prepared tree in
// tests/serial/port_list_test.cpp).
TEST(PortsCommandTest, LongFormAddsFieldsAfterEachPath) {
  Tool shortForm({"ports"});
  ASSERT_EQ(shortForm.Wait(), 0);
  const std::vector<std::string> paths = corvel::testing::SplitLines(shortForm.out());
  for (const char* flag : {"-l", "--long"}) {
    SCOPED_TRACE(flag);
    Tool longForm({"ports", flag});
    ASSERT_EQ(longForm.Wait(), 0);
    EXPECT_EQ(longForm.err(), "");
    const std::vector<std::string> lines = corvel::testing::SplitLines(longForm.out());
    ASSERT_EQ(lines.size(), paths.size());
    for (size_t i = 0; i < lines.size(); ++i) {
      EXPECT_TRUE(lines[i] == paths[i] || lines[i].rfind(paths[i] + " ", 0) == 0) << lines[i];
    }
  }
}

}  // namespace
