#include "serial/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <cstring>
#include <thread>

#include "serial/linux_termios2.h"
#include "tests/serial/port_events_recorder.h"
#include "tests/support/pty_pair.h"

namespace corvel::serial {
namespace {

using testing::PortEventsRecorder;
using testing::PtyPair;
using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t length, unsigned seed = 1) {
  Bytes bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
  return bytes;
}

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Takes everything the port holds now.
Bytes TakeAll(SerialPort& port) {
  Bytes got;
  port.Consume([&](const uint8_t* data, size_t n) {
    got.insert(got.end(), data, data + n);
    return n;
  });
  return got;
}

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(pty.ok()); }

  void OpenMonitored(uint32_t baud = 115200) {
    ASSERT_TRUE(port.OpenPort(events, pty.path(), baud));
    ASSERT_TRUE(port.StartMonitor());
  }

  PtyPair pty;
  PortEventsRecorder events;
  SerialPort port;
};

struct ChunkCase {
  size_t writeChunk;  // bytes the far end writes at once
  size_t takeLimit;   // bytes the owner takes per hand-off call
};

class SerialPortChunkTest : public SerialPortTest, public ::testing::WithParamInterface<ChunkCase> {};

TEST_P(SerialPortChunkTest, DeliversEveryByteInOrder) {
  OpenMonitored();
  const Bytes sent = Pattern(48 * 1024, static_cast<unsigned>(GetParam().writeChunk));
  std::thread farEnd([&] {
    for (size_t pos = 0; pos < sent.size(); pos += GetParam().writeChunk) {
      const size_t n = std::min(GetParam().writeChunk, sent.size() - pos);
      ASSERT_TRUE(pty.Write(sent.data() + pos, n));
    }
  });
  Bytes got;
  while (got.size() < sent.size() && events.WaitData(port)) {
    port.Consume([&](const uint8_t* data, size_t n) {
      const size_t take = std::min(n, GetParam().takeLimit);
      got.insert(got.end(), data, data + take);
      return take;
    });
  }
  farEnd.join();
  EXPECT_EQ(got, sent);
  EXPECT_TRUE(events.lost().empty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, SerialPortChunkTest,
                         ::testing::Values(ChunkCase{1, SIZE_MAX}, ChunkCase{3, 2}, ChunkCase{64, 1},
                                           ChunkCase{255, SIZE_MAX}, ChunkCase{1000, 333},
                                           ChunkCase{4096, SIZE_MAX}, ChunkCase{5000, 4095},
                                           ChunkCase{16384, SIZE_MAX}));

TEST_F(SerialPortTest, EveryListedRateAndACustomOneIsSetAndReadBack) {
  // The open rates, the speed-up rates (also doubled after a 230400
  // handshake), and one no table has.
  const uint32_t rates[] = {115200, 230400, 500000, 1000000, 256000, 460800, 512000,
                            600000, 750000, 921600, 1200000, 1843200, 123457};
  for (const uint32_t rate : rates) {
    SCOPED_TRACE(rate);
    SerialPort opened;
    ASSERT_TRUE(opened.OpenPort(events, pty.path(), rate));
    EXPECT_EQ(ReadLineRate(pty.slave()), rate);
    opened.RequestStop();
    opened.WaitStopped();
  }
  OpenMonitored();
  for (const uint32_t rate : rates) {
    SCOPED_TRACE(rate);
    EXPECT_TRUE(port.SetBaudRate(rate).ok());
    EXPECT_EQ(ReadLineRate(pty.slave()), rate);
  }
  EXPECT_TRUE(events.errors().empty());
}

TEST_F(SerialPortTest, RateZeroIsReportedAndNotApplied) {
  ASSERT_TRUE(port.OpenPort(events, pty.path(), 0));  // still counts as open
  EXPECT_TRUE(port.IsOpen());
  const std::string expected =
      "WARNING:  TCSETS2 Failed with the following error: \nInvalid argument\nPort: " + pty.path() + "\n";
  ASSERT_EQ(events.errors(), std::vector<std::string>{expected});
  const uint32_t before = ReadLineRate(pty.slave());
  EXPECT_NE(before, 0u);

  ASSERT_TRUE(port.SetBaudRate(230400).ok());
  const Result<void> zero = port.SetBaudRate(0);
  ASSERT_FALSE(zero.ok());
  EXPECT_EQ(zero.error().text, expected);
  EXPECT_EQ(ReadLineRate(pty.slave()), 230400u);
}

TEST_F(SerialPortTest, OpensARawLine) {
  // A pseudo-terminal keeps 8 data bits and no parity whatever it is told;
  // the framing itself is checked on MakeRawLine.
  ASSERT_TRUE(port.OpenPort(events, pty.path(), 115200, 'N', 8, 2));
  termios tio{};
  ASSERT_EQ(tcgetattr(pty.slave(), &tio), 0);
  EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB), CS8 | CSTOPB);
  EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), CLOCAL | CREAD);
  EXPECT_EQ(tio.c_cflag & (HUPCL | CRTSCTS), 0u);  // closing must not reset the chip
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_EQ(tio.c_cc[VMIN], 0);
  EXPECT_EQ(tio.c_cc[VTIME], 0);
  EXPECT_TRUE(events.errors().empty());

  SerialPort badFraming;
  port.RequestStop();
  ASSERT_TRUE(badFraming.OpenPort(events, pty.path(), 115200, 'X', 8, 1));
  ASSERT_EQ(events.errors().size(), 1u);
  EXPECT_EQ(events.errors()[0],
            "WARNING:  TCSETS2 Failed with the following error: \nInvalid argument\nPort: " + pty.path() + "\n");
}

struct FramingCase {
  char parity;
  int dataBits;
  int stopBits;
  bool valid;
  tcflag_t framing;  // CSIZE, PARENB, PARODD, CMSPAR, CSTOPB
};

TEST(MakeRawLineTest, FramingFromTheParameters) {
  const FramingCase cases[] = {
      {'N', 8, 1, true, CS8},
      {'E', 8, 1, true, CS8 | PARENB},
      {'O', 7, 2, true, CS7 | PARENB | PARODD | CSTOPB},
      {'M', 5, 1, true, CS5 | PARENB | PARODD | CMSPAR},
      {'S', 6, 1, true, CS6 | PARENB | CMSPAR},
      {'X', 8, 1, false, 0},
      {'N', 9, 1, false, 0},
      {'N', 8, 3, false, 0},
  };
  for (const FramingCase& c : cases) {
    SCOPED_TRACE(std::string(1, c.parity) + std::to_string(c.dataBits) + std::to_string(c.stopBits));
    LineFlags flags{ICRNL | IXON | INPCK, OPOST, HUPCL | CRTSCTS | PARENB | CSTOPB | CS7, ICANON | ECHO | ISIG};
    const LineFlags before = flags;
    ASSERT_EQ(MakeRawLine(flags, c.parity, c.dataBits, c.stopBits), c.valid);
    if (!c.valid) {
      EXPECT_EQ(flags.cflag, before.cflag);
      continue;
    }
    EXPECT_EQ(flags.cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB), c.framing);
    EXPECT_EQ(flags.cflag & (CLOCAL | CREAD | HUPCL | CRTSCTS), CLOCAL | CREAD);
    EXPECT_EQ(flags.iflag, 0u);
    EXPECT_EQ(flags.oflag, 0u);
    EXPECT_EQ(flags.lflag, 0u);
  }
}

TEST(RateAcceptedTest, WithinTwoPerCentOfTheRateAsked) {
  struct Row {
    const char* name;
    uint32_t asked;
    uint32_t reported;
    bool accepted;
  };
  const Row rows[] = {
      {"exact", 115200, 115200, true},
      {"+1.9 %", 100000, 101900, true},
      {"-1.9 %", 100000, 98100, true},
      {"+2 % exactly", 100000, 102000, true},
      {"-2 % exactly", 100000, 98000, true},
      {"+2.1 %", 100000, 102100, false},
      {"-2.1 %", 100000, 97900, false},
      {"CP2102 at 921600", 921600, 923077, true},
      {"the next standard rate", 115200, 230400, false},
      {"0 reported", 115200, 0, false},
      {"0 asked", 0, 0, false},
      {"largest rate, no overflow", 4294967295u, 4294967295u, true},
      {"largest reported", 4000000, 4294967295u, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(RateAccepted(row.asked, row.reported), row.accepted);
  }
  EXPECT_EQ(RateRefusedText(115200, 0), "请求的速率 115200 与设备报告的速率 0 相差超过 2%");
}

TEST_F(SerialPortTest, OpenIsExclusiveAndFailsSilentlyWhenAbsentOrBusy) {
  EXPECT_FALSE(port.OpenPort(events, "/dev/corvel-no-such-port", 115200));
  OpenMonitored();
  SerialPort second;
  EXPECT_FALSE(second.OpenPort(events, pty.path(), 115200));
  EXPECT_FALSE(second.IsOpen());
  EXPECT_TRUE(events.errors().empty());

  port.RequestStop();
  port.WaitStopped();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(second.OpenPort(events, pty.path(), 115200));
}

// A scratch directory holding a directory, a regular file, a file nobody
// may open and a socket, removed with the test.
class ScratchNodes {
 public:
  ScratchNodes() {
    std::string pattern = ::testing::TempDir() + "corvel-open-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return;
    root_ = pattern;
    // Searchable by anyone, so only the file's own mode refuses another user.
    ok_ = chmod(root_.c_str(), 0755) == 0 && mkdir(directory().c_str(), 0755) == 0 && MakeFile(file(), 0644) && MakeFile(unreadable(), 0) &&
          MakeSocket(socket());
  }
  ~ScratchNodes() {
    rmdir(directory().c_str());
    unlink(file().c_str());
    unlink(unreadable().c_str());
    unlink(socket().c_str());
    rmdir(root_.c_str());
  }
  bool ok() const { return ok_; }
  std::string directory() const { return root_ + "/dir"; }
  std::string file() const { return root_ + "/file"; }
  std::string unreadable() const { return root_ + "/unreadable"; }
  std::string socket() const { return root_ + "/socket"; }

 private:
  static bool MakeFile(const std::string& path, mode_t mode) {
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, mode);
    return fd >= 0 && close(fd) == 0 && chmod(path.c_str(), mode) == 0;
  }
  // The node stays after the socket is closed.
  static bool MakeSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return bound;
  }
  std::string root_;
  bool ok_ = false;
};

TEST_F(SerialPortTest, OpenFailuresSayWhyWithTheSystemText) {
  ScratchNodes nodes;
  ASSERT_TRUE(nodes.ok());
  ASSERT_TRUE(port.OpenPort(events, pty.path(), 115200).ok());  // makes the pty busy

  struct Case {
    const char* name;
    std::string path;
    ErrorKind kind;
    std::vector<int> errors;  // the system errors whose text the error may carry
  };
  const Case cases[] = {
      {"missing", "/dev/corvel-no-such-port", ErrorKind::kNotFound, {ENOENT}},
      {"below a file", "/dev/null/port", ErrorKind::kNotFound, {ENOTDIR}},
      {"directory", nodes.directory(), ErrorKind::kNotSerialDevice, {EISDIR}},
      {"regular file", nodes.file(), ErrorKind::kNotSerialDevice, {ENOTTY}},
      {"not a terminal", "/dev/null", ErrorKind::kNotSerialDevice, {ENOTTY}},
      {"socket", nodes.socket(), ErrorKind::kNotSerialDevice, {ENXIO}},
      {"running program", std::filesystem::canonical("/proc/self/exe").string(), ErrorKind::kNotSerialDevice,
       {ETXTBSY}},
      // Another user meets TIOCEXCL (EBUSY); root passes it and meets the lock.
      {"opened twice", pty.path(), ErrorKind::kBusy, {EBUSY, EWOULDBLOCK}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SerialPort tried;
    const Result<void> opened = tried.OpenPort(events, c.path, 115200);
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error().kind, c.kind);
    const bool systemText = std::any_of(c.errors.begin(), c.errors.end(),
                                        [&](int error) { return opened.error().text == std::strerror(error); });
    EXPECT_TRUE(systemText) << opened.error().text;
    EXPECT_FALSE(tried.IsOpen());
  }
  EXPECT_TRUE(events.errors().empty());  // a failed open is not a configuration error
}

TEST_F(SerialPortTest, OpenRefusedByTheFileModeIsPermission) {
  ScratchNodes nodes;
  ASSERT_TRUE(nodes.ok());
  // Root opens whatever the mode says: the open runs in a child that has
  // become an ordinary user when the tests run as root (as CI does).
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    serial::SerialPort other;
    PortEventsRecorder otherEvents;
    const Result<void> opened = other.OpenPort(otherEvents, nodes.unreadable(), 115200);
    if (opened.ok()) _exit(4);
    if (opened.error().kind != ErrorKind::kPermission) _exit(5);
    _exit(opened.error().text == std::strerror(EACCES) ? 0 : 6);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  // 3: could not drop root; 4: opened; 5: another kind; 6: another text.
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(SerialPortTest, WritesGoOutWholeAndInOrderAcrossAFullDevice) {
  OpenMonitored();
  // Far more than the pseudo-terminal buffers, so the writer meets EAGAIN
  // and partial writes while the far end reads slowly.
  Bytes expected;
  std::vector<Bytes> writes;
  for (size_t i = 0; i < 60; ++i) {
    writes.push_back(Pattern(1 + (i * 977) % 4096, static_cast<unsigned>(i)));
    expected.insert(expected.end(), writes.back().begin(), writes.back().end());
  }
  for (const Bytes& w : writes) ASSERT_TRUE(port.QueueWrite(w.data(), w.size()));
  EXPECT_EQ(pty.Read(expected.size()), expected);

  const Bytes tooLong(4097, 0x41);
  EXPECT_FALSE(port.QueueWrite(tooLong.data(), tooLong.size()));
  EXPECT_TRUE(events.lost().empty());
}

TEST_F(SerialPortTest, InputIsPurgedBeforeEachWriteButReadBytesAreKept) {
  OpenMonitored();
  ASSERT_TRUE(pty.Write("kept"));
  ASSERT_TRUE(events.WaitData(port));  // read by the monitor, not yet taken
  ASSERT_TRUE(pty.Write("stale"));
  ASSERT_TRUE(pty.WaitSlaveInput());  // waiting in the device

  const Bytes command = ToBytes("CMD");
  ASSERT_TRUE(port.QueueWrite(command.data(), command.size()));
  EXPECT_EQ(pty.Read(3), command);  // the purge happened before this left

  EXPECT_EQ(TakeAll(port), ToBytes("kept"));
  ASSERT_TRUE(pty.Write("answer"));
  Bytes got;
  while (got.size() < 6 && events.WaitData(port)) {
    const Bytes more = TakeAll(port);
    got.insert(got.end(), more.begin(), more.end());
  }
  EXPECT_EQ(got, ToBytes("answer"));
}

TEST_F(SerialPortTest, DrainWaitsUntilTheQueuedWritesHaveLeftBoundedByItsLimit) {
  OpenMonitored();
  // More than the pseudo-terminal holds while nobody reads: the writes wait.
  Bytes expected;
  for (unsigned i = 0; i < 60; ++i) {
    const Bytes write = Pattern(4096, i);
    expected.insert(expected.end(), write.begin(), write.end());
    ASSERT_TRUE(port.QueueWrite(write.data(), write.size()));
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(port.DrainOutput(100000));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(100));
  EXPECT_LT(waited, std::chrono::seconds(2));

  Bytes got;
  std::thread farEnd([&] { got = pty.Read(expected.size()); });
  EXPECT_TRUE(port.DrainOutput(5000000));
  farEnd.join();
  EXPECT_EQ(got, expected);
  EXPECT_TRUE(port.DrainOutput(0));  // nothing left: at once
}

TEST_F(SerialPortTest, DiscardDropsTheChunkNotTakenAndWhatWaitsInTheDevice) {
  OpenMonitored();
  ASSERT_TRUE(pty.Write("chunk"));
  ASSERT_TRUE(events.WaitData(port));  // read by the monitor, not yet taken
  ASSERT_TRUE(pty.Write("queued"));
  ASSERT_TRUE(pty.WaitSlaveInput());  // waiting in the device

  port.DiscardInput();
  EXPECT_FALSE(port.HasData());
  ASSERT_TRUE(pty.Write("fresh"));
  Bytes got;
  while (got.size() < 5 && events.WaitData(port)) {
    const Bytes more = TakeAll(port);
    got.insert(got.end(), more.begin(), more.end());
  }
  EXPECT_EQ(got, ToBytes("fresh"));
}

TEST_F(SerialPortTest, BurstIsWrittenAndBoundedByTheCapacity) {
  OpenMonitored();
  const Bytes burst(64, 0x55);
  ASSERT_TRUE(port.QueueBurst(burst.data(), burst.size()));
  EXPECT_EQ(pty.Read(burst.size()), burst);
  const Bytes tooLong(4097, 0x55);
  EXPECT_FALSE(port.QueueBurst(tooLong.data(), tooLong.size()));
}

TEST_F(SerialPortTest, FarEndClosingReportsLostOnceAndStopsWithoutHanging) {
  OpenMonitored();
  pty.CloseMaster();
  ASSERT_TRUE(events.WaitLost());
  EXPECT_EQ(events.lost().size(), 1u);
  EXPECT_TRUE(port.Lost());
  const Bytes frame = ToBytes("late");
  EXPECT_FALSE(port.QueueWrite(frame.data(), frame.size()));

  const auto start = std::chrono::steady_clock::now();
  port.RequestStop();
  port.WaitStopped();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(port.IsOpen());
  port.SetRts();  // no device any more: nothing happens
  EXPECT_EQ(events.lost().size(), 1u);
}

TEST_F(SerialPortTest, StopInsideAHandOffReturnsAndFinishesQueuedWrites) {
  OpenMonitored();
  ASSERT_TRUE(pty.Write("data"));
  ASSERT_TRUE(events.WaitData(port));
  const Bytes goodbye = ToBytes("bye");
  bool stopped = false;
  port.Consume([&](const uint8_t*, size_t) {
    EXPECT_TRUE(port.QueueWrite(goodbye.data(), goodbye.size()));
    port.RequestStop();
    port.WaitStopped();
    stopped = true;
    return size_t{0};  // takes nothing: the monitor must not wait for it
  });
  EXPECT_TRUE(stopped);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(pty.Read(goodbye.size()), goodbye);
  EXPECT_TRUE(events.lost().empty());
}

TEST_F(SerialPortTest, RtsOnADeviceWithoutModemLinesIsANoOp) {
  OpenMonitored();
  port.SetRts();
  port.ClearRts();
  EXPECT_TRUE(events.errors().empty());
  const Bytes frame = ToBytes("ok");
  ASSERT_TRUE(port.QueueWrite(frame.data(), frame.size()));
  EXPECT_EQ(pty.Read(2), frame);
}

TEST_F(SerialPortTest, DestroyingWithoutAMonitorClosesAtOnce) {
  {
    SerialPort opened;
    ASSERT_TRUE(opened.OpenPort(events, pty.path(), 115200));
  }
  SerialPort again;
  EXPECT_TRUE(again.OpenPort(events, pty.path(), 115200));  // the lock went with the close
}

}  // namespace
}  // namespace corvel::serial
