// The simulated chip on a real pseudo-terminal: line timing, garbling at
// mismatched rates, rate switching, the state file across runs.
#include "sim/pty_server.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <condition_variable>
#include <mutex>

#include "tests/sim/sim_test_util.h"
#include "tests/support/temp_dir.h"

namespace corvel::sim {
namespace {

using namespace corvel::sim::testing;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kRate = 115200;

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
double LineMillis(size_t bytes, uint32_t rate) { return static_cast<double>(bytes) * 10.0 * 1000.0 / rate; }

// Collects the server's log lines so a test can wait for one.
struct LogWatch {
  void Add(std::string_view line) {
    std::lock_guard<std::mutex> lock(mutex);
    lines.emplace_back(line);
    cv.notify_all();
  }
  bool WaitFor(const std::string& part, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex);
    return cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
      for (const std::string& l : lines) {
        if (l.find(part) != std::string::npos) return true;
      }
      return false;
    });
  }
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::string> lines;
};

SimOptions Options(LogWatch* watch = nullptr) {
  SimOptions options;
  options.model.consolePeriodMicros = 0;
  if (watch != nullptr) {
    options.verbose = true;
    options.log = [watch](std::string_view line) { watch->Add(line); };
  }
  return options;
}

TEST(PtyServer, MinimalHostGetsTheHandshakeAndMayReopen) {
  PtyServer server;
  const Result<std::string> path = server.Start(Options());
  ASSERT_TRUE(path.ok()) << path.error().text;
  {
    PtyHost host(*path);
    ASSERT_TRUE(host.ok());
    ASSERT_TRUE(host.Connect());
  }
  // The tool closed its end; the chip is still there for the next run.
  PtyHost again(*path);
  ASSERT_TRUE(again.Connect());
  const std::optional<Answer> version = again.Command(0x13, {0});
  ASSERT_TRUE(version);
  EXPECT_EQ(version->data, Bytes({1, 2}));
  EXPECT_TRUE(server.Stop().ok());
}

TEST(PtyServer, PacingTakesTenBitsPerByteEachWay) {
  PtyServer server;
  const Result<std::string> path = server.Start(Options());
  ASSERT_TRUE(path.ok());
  PtyHost host(*path);
  ASSERT_TRUE(host.Connect());

  // Chip to tool: a 13-byte read request answered by a 1024-byte frame.
  Clock::time_point t0 = Clock::now();
  std::optional<Answer> read = host.Command(0x2D, Cat({U32Le(0x16000), U16Le(1016)}));
  double elapsed = Millis(Clock::now() - t0);
  ASSERT_TRUE(read);
  double expected = LineMillis(13 + 1024, kRate);
  EXPECT_GE(elapsed, 0.95 * expected);
  EXPECT_LE(elapsed, 1.5 * expected + 40);

  // Tool to chip: a 1013-byte write frame answered by 8 bytes.
  t0 = Clock::now();
  const std::optional<Answer> write =
      host.Command(0x2C, Cat({U32Le(0x20000), U16Le(1000), TestImage(1000, 1)}));
  elapsed = Millis(Clock::now() - t0);
  ASSERT_TRUE(write);
  EXPECT_EQ(write->status, 0);
  expected = LineMillis(1013 + 8, kRate);
  EXPECT_GE(elapsed, 0.95 * expected);
  EXPECT_LE(elapsed, 1.5 * expected + 40);

  // Each answer's lateness is kept: the sync answer, the handshake and the two above.
  const LatenessFigures late = server.Lateness();
  EXPECT_GE(late.answers, 4u);
  EXPECT_LE(late.medianNanos, late.p99Nanos);
  EXPECT_LE(late.p99Nanos, late.maxNanos);
  EXPECT_TRUE(server.Stop().ok());
}

TEST(PtyServer, RateSwitchAnswersAtTheOldRateAndMismatchedBytesGarble) {
  LogWatch watch;
  PtyServer server;
  const Result<std::string> path = server.Start(Options(&watch));
  ASSERT_TRUE(path.ok());
  PtyHost host(*path);
  ASSERT_TRUE(host.Connect());

  const std::optional<Answer> switched = host.Command(0x83, U32Le(230400));
  ASSERT_TRUE(switched) << "the answer comes at the old rate";
  EXPECT_EQ(switched->status, 0);
  ASSERT_TRUE(watch.WaitFor("switches to 230400", 1000));

  // The tool has not followed: its command reaches the chip as noise.
  ASSERT_TRUE(host.Write(MakeFrame(0x13, {0})));
  ASSERT_TRUE(watch.WaitFor("garbled", 1000));
  ASSERT_TRUE(host.SetRate(230400));
  const std::optional<Answer> version = host.Command(0x13, {0});
  ASSERT_TRUE(version);
  EXPECT_EQ(version->data, Bytes({1, 2}));
  EXPECT_EQ(server.WithModel([](ChipModel& m) { return m.FramesReceived(); }), 3u)
      << "handshake, rate switch and the second 0x13; the garbled one was no frame";
  EXPECT_TRUE(server.Stop().ok());
}

TEST(PtyServer, BurstSetsTheChipRateAndTheSwitchDoublesAfter230400) {
  LogWatch watch;
  PtyServer server;
  const Result<std::string> path = server.Start(Options(&watch));  // the chip starts at 115200
  ASSERT_TRUE(path.ok());
  PtyHost host(*path);
  ASSERT_TRUE(host.SetRate(230400));
  ASSERT_TRUE(host.Connect());
  const std::optional<Answer> switched = host.Command(0x83, U32Le(500000));
  ASSERT_TRUE(switched);
  ASSERT_TRUE(host.SetRate(1000000));
  ASSERT_TRUE(watch.WaitFor("switches to 1000000", 1000));  // its UART is back
  const std::optional<Answer> id = host.Command(0x15, {0});
  ASSERT_TRUE(id);
  EXPECT_EQ(id->data, U32Le(0x0C0B1E51));
  EXPECT_TRUE(server.Stop().ok());
}

TEST(PtyServer, TheChipLosesWhatArrivesWhileItSwitchesItsRate) {
  LogWatch watch;
  SimOptions options = Options(&watch);
  options.switchDelayMicros = 300000;  // long enough that the command below surely falls inside it
  PtyServer server;
  const Result<std::string> path = server.Start(options);
  ASSERT_TRUE(path.ok());
  PtyHost host(*path);
  ASSERT_TRUE(host.Connect());
  const std::optional<Answer> switched = host.Command(0x83, U32Le(500000));
  ASSERT_TRUE(switched);
  const Clock::time_point answered = Clock::now();
  ASSERT_TRUE(host.SetRate(500000));
  const uint64_t bytesBefore = server.WithModel([](ChipModel& m) { return m.BytesReceived(); });

  // Sent at once, as a host without a pause after the switch sends it.
  ASSERT_TRUE(host.Write(MakeFrame(0x13, {0})));
  ASSERT_TRUE(watch.WaitFor("bytes lost, the chip is switching to 500000", 1000));
  ASSERT_TRUE(watch.WaitFor("switches to 500000", 1000));
  EXPECT_GE(Millis(Clock::now() - answered), 250.0);
  EXPECT_EQ(server.WithModel([](ChipModel& m) { return m.BytesReceived(); }), bytesBefore) << "not even garbled";

  const std::optional<Answer> version = host.Command(0x13, {0});
  ASSERT_TRUE(version);
  EXPECT_EQ(version->data, Bytes({1, 2}));
  EXPECT_EQ(server.WithModel([](ChipModel& m) { return m.FramesReceived(); }), 3u);
  EXPECT_TRUE(server.Stop().ok());
}

TEST(PtyServer, AdapterLatencyHoldsWhatFallsShortOfAFullUsbPacket) {
  SimOptions options = Options();
  options.pace = false;
  options.adapterLatencyMicros = 100000;
  PtyServer server;
  const Result<std::string> path = server.Start(options);
  ASSERT_TRUE(path.ok());
  PtyHost host(*path);
  ASSERT_TRUE(host.Connect());
  struct Row {
    const char* name;
    uint8_t code;
    Bytes payload;
    bool held;
  };
  const Row rows[] = {
      {"a 9-byte answer waits for the timer", 0x13, {0}, true},
      {"two full packets go at once", 0x2D, Cat({U32Le(0x16000), U16Le(2 * kUsbPacketData - 8)}), false},
  };
  for (const Row& row : rows) {
    const Clock::time_point sent = Clock::now();
    ASSERT_TRUE(host.Command(row.code, row.payload)) << row.name;
    const double waited = Millis(Clock::now() - sent);
    if (row.held) {
      EXPECT_GE(waited, 95.0) << row.name;
    } else {
      EXPECT_LT(waited, 50.0) << row.name;
    }
  }
  EXPECT_TRUE(server.Stop().ok());
}

TEST(PtyServer, ConsoleTextAtAnotherRateArrivesGarbled) {
  SimOptions options = Options();
  options.model.consolePeriodMicros = 5000;
  options.model.consoleLine = "ble app: running\r\n";
  PtyServer server;
  const Result<std::string> path = server.Start(options);
  ASSERT_TRUE(path.ok());
  PtyHost host(*path);
  const std::string line = options.model.consoleLine;
  auto holdsLine = [&] { return std::string(host.received.begin(), host.received.end()).find(line) != std::string::npos; };

  ASSERT_TRUE(host.SetRate(230400));
  host.Flush();
  ASSERT_TRUE(host.ReadUntil([&] { return host.received.size() >= 4 * line.size(); }, 2000));
  EXPECT_FALSE(holdsLine());

  ASSERT_TRUE(host.SetRate(kRate));
  host.Flush();
  EXPECT_TRUE(host.ReadUntil(holdsLine, 2000));
  EXPECT_TRUE(server.Stop().ok());
}

TEST(PtyServer, ProgrammedImageSurvivesInTheStateFile) {
  corvel::testing::TempDir dir;
  SimOptions options = Options();
  options.pace = false;
  options.stateFile = dir.Path("chip.state");
  options.linkPath = dir.Path("ttyCORVEL");
  const Bytes image = TestImage(1500, 42);
  const uint16_t crc = link::Crc16(image.data(), static_cast<uint32_t>(image.size()));
  const uint32_t appAddr = PartitionRecord{}.AppAddr;
  {
    PtyServer server;
    ASSERT_TRUE(server.Start(options).ok());
    PtyHost host(options.linkPath);  // through the symlink
    ASSERT_TRUE(host.Connect());
    for (const Bytes& frame : TransferFrames(kTypeApp, image, "V100")) {
      ASSERT_TRUE(host.Write(frame));
      std::optional<Answer> a;
      ASSERT_TRUE(host.ReadUntil([&] { return (a = TakeFrame(host.received)).has_value(); }, 2000));
      ASSERT_EQ(a->status, 0);
    }
    server.WithModel([&](ChipModel& m) {
      EXPECT_TRUE(std::equal(image.begin(), image.end(), m.memory().flash.begin() + appAddr));
    });
    ASSERT_TRUE(server.Stop().ok());
    struct stat st {};
    EXPECT_NE(lstat(options.linkPath.c_str(), &st), 0) << "the symlink goes with the server";
  }
  PtyServer second;
  ASSERT_TRUE(second.Start(options).ok());
  PtyHost host(options.linkPath);
  ASSERT_TRUE(host.Connect());
  const std::optional<Answer> record = host.Command(0x2D, Cat({U32Le(0x400), U16Le(16)}));
  ASSERT_TRUE(record);
  EXPECT_EQ(record->data, Cat({U32Le(kValidFlag), U16Le(crc), {0xFF, 0xFF}, U32Le(1500), {'V', '1', '0', '0'}}));
  const std::optional<Answer> flash = host.Command(0x2D, Cat({U32Le(appAddr), U16Le(1000)}));
  ASSERT_TRUE(flash);
  EXPECT_EQ(flash->data, Bytes(image.begin(), image.begin() + 1000));
  ASSERT_TRUE(second.Stop().ok());
}

TEST(PtyServer, VanishingAdapterHangsUpTheToolsEnd) {
  SimOptions options = Options();
  options.model.faults.vanishAfterFrames = 2;
  PtyServer server;
  const Result<std::string> path = server.Start(options);
  ASSERT_TRUE(path.ok());
  PtyHost host(*path);
  ASSERT_TRUE(host.Connect());
  ASSERT_TRUE(host.Write(MakeFrame(0x13, {0})));
  EXPECT_FALSE(host.ReadUntil([] { return false; }, 3000));
  EXPECT_TRUE(host.hungUp);
  server.WaitEnded();
  EXPECT_FALSE(server.Running());
  EXPECT_TRUE(server.Stop().ok());
}

}  // namespace
}  // namespace corvel::sim
