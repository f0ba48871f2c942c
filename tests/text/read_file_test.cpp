// The first tests hold on every system; pipes, FIFOs, devices and sockets
// are POSIX's and come after them.
#include "text/read_file.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "tests/support/temp_dir.h"

namespace corvel::text {
namespace {

TEST(ReadFile, ReadsEveryByte) {
  testing::TempDir dir;
  std::string bytes(200000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  const std::string path = dir.Write("bytes.bin", bytes);
  auto got = ReadFile(path);
  ASSERT_TRUE(got.ok()) << got.error().text;
  EXPECT_EQ(*got, bytes);
  EXPECT_FALSE(ReadFile(path, 199999).ok());
}

TEST(ReadFile, NamesThePathOfAFileItCannotRead) {
  auto missing = ReadFile("/nonexistent/corvel/app.hex");
  ASSERT_FALSE(missing.ok());
  EXPECT_NE(missing.error().text.find("/nonexistent/corvel/app.hex"), std::string::npos);
  testing::TempDir dir;
  auto folder = ReadFile(dir.path());
  ASSERT_FALSE(folder.ok());
  EXPECT_EQ(folder.error().kind, ErrorKind::kIo);
}

// A refusal names the path and says why in the same words on every system;
// the name is UTF-8 whatever the system's own code page.
TEST(ReadFile, ReadsOrRefusesInTheSameWordsOnEverySystem) {
  const testing::TempDir dir;
  const std::string chinese = dir.path() + "/固件.hex";
  // Made through the system's own call for that name (wide on Windows).
  std::ofstream(std::filesystem::path(std::u8string(chinese.begin(), chinese.end())), std::ios::binary) << ":00";
  const std::string small = dir.Write("small.bin", "0123456789");
  struct Row {
    const char* name;
    std::string path;
    size_t maxBytes;
    std::string expected;  // the bytes read, or the error text
    bool ok;
    ErrorKind kind;
  };
  const Row rows[] = {
      {"Chinese name", chinese, kMaxInputFileBytes, ":00", true, {}},
      {"at the limit", small, 10, "0123456789", true, {}},
      {"over the limit", small, 9, "文件过大 " + small, false, ErrorKind::kBadInput},
      {"missing", dir.Path("缺少.hex"), kMaxInputFileBytes,
       "无法读取文件 " + dir.Path("缺少.hex") + ": No such file or directory", false, ErrorKind::kIo},
      {"folder", dir.path(), kMaxInputFileBytes, "无法读取文件 " + dir.path() + ": Is a directory", false,
       ErrorKind::kIo},
#ifdef _WIN32
      // Refused by name: opening a COM port would move its modem lines.
      {"NUL", "NUL", kMaxInputFileBytes, "无法读取文件 NUL: 不是普通文件或管道", false, ErrorKind::kBadInput},
      {"COM1", "COM1", kMaxInputFileBytes, "无法读取文件 COM1: 不是普通文件或管道", false, ErrorKind::kBadInput},
#endif
  };
  for (const Row& row : rows) {
    auto got = ReadFile(row.path, row.maxBytes);
    ASSERT_EQ(got.ok(), row.ok) << row.name << ": " << (got.ok() ? *got : got.error().text);
    if (row.ok) {
      EXPECT_EQ(*got, row.expected) << row.name;
    } else {
      EXPECT_EQ(got.error().text, row.expected) << row.name;
      EXPECT_EQ(got.error().kind, row.kind) << row.name;
    }
  }
}

#ifndef _WIN32
std::string MakeFifo(const testing::TempDir& dir, const char* name) {
  const std::string path = dir.Path(name);
  EXPECT_EQ(mkfifo(path.c_str(), 0600), 0) << std::strerror(errno);
  return path;
}

// ReadFile on another thread, so that a read that blocks fails the test
// instead of hanging it; `unblock` then frees the reader.
Result<std::string> ReadWithin(const std::string& path, std::chrono::seconds limit,
                               const std::function<void()>& unblock = {}) {
  auto reading = std::async(std::launch::async, [&path] { return ReadFile(path); });
  if (reading.wait_for(limit) != std::future_status::ready) {
    ADD_FAILURE() << path << ": still reading after " << limit.count() << " s";
    if (unblock) unblock();
  }
  return reading.get();
}

// Frees a reader stuck on a FIFO: a writer comes and goes.
void OpenAndCloseWriter(const std::string& fifo) {
  const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  if (fd >= 0) close(fd);
}

// Inputs that would block the tool or feed it endless bytes are refused at
// once, naming the path.
TEST(ReadFile, RefusesAtOnceWhatIsNoFileToRead) {
  const testing::TempDir dir;
  const std::string fifo = MakeFifo(dir, "fifo");
  int gone[2];
  ASSERT_EQ(pipe2(gone, O_CLOEXEC), 0);
  close(gone[1]);
  const std::string socketPath = dir.Path("socket");
  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  struct Row {
    const char* name;
    std::string path;
    const char* reason;
  };
  const Row rows[] = {
      {"FIFO without a writer", fifo, "管道没有写入端"},
      {"pipe whose writer left without writing", "/dev/fd/" + std::to_string(gone[0]), "管道没有写入端"},
      {"endless character device", "/dev/zero", "不是普通文件或管道"},
      {"empty character device", "/dev/null", "不是普通文件或管道"},
      {"socket", socketPath, "不是普通文件或管道"},
  };
  for (const Row& row : rows) {
    const auto start = std::chrono::steady_clock::now();
    auto got = ReadWithin(row.path, std::chrono::seconds(5), [&] { OpenAndCloseWriter(fifo); });
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << row.name;
    ASSERT_FALSE(got.ok()) << row.name;
    EXPECT_EQ(got.error().kind, ErrorKind::kBadInput) << row.name;
    EXPECT_EQ(got.error().text, "无法读取文件 " + row.path + ": " + row.reason) << row.name;
  }
  close(gone[0]);
  close(listener);
}

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 13 + i / 251);
  return bytes;
}

// Writes `bytes` in two halves, the second after a pause, then closes `fd`.
void WriteSlowly(int fd, const std::string& bytes) {
  const size_t half = bytes.size() / 2;
  EXPECT_EQ(write(fd, bytes.data(), half), static_cast<ssize_t>(half));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a slow producer, not a wait for a result
  size_t done = half;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
}

// A pipe that has a writer is read to its end of file, however slow the
// writer and whether or not its bytes fit in the pipe.
TEST(ReadFile, ReadsAPipeWithAWriterToItsEnd) {
  struct Row {
    const char* name;
    bool named;       // a FIFO in the folder, or a pipe reached as /dev/fd/N
    size_t size;      // above 64 KiB the writer waits for the reader
    bool writeFirst;  // everything written and the writer gone before the open
  };
  const Row rows[] = {
      {"FIFO, slow writer", true, 1000, false},
      {"FIFO, more than the pipe holds", true, 300000, false},
      {"pipe, written and closed before the open", false, 1000, true},
      {"pipe, slow writer, more than the pipe holds", false, 300000, false},
  };
  for (const Row& row : rows) {
    const testing::TempDir dir;
    const std::string bytes = Pattern(row.size);
    int readEnd = -1;
    int writeEnd = -1;
    std::string path;
    if (row.named) {
      path = MakeFifo(dir, "fifo");
      // Read and write on one descriptor: open at once, and a writer the
      // reader's open finds.
      writeEnd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    } else {
      int ends[2];
      ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
      readEnd = ends[0];
      writeEnd = ends[1];
      path = "/dev/fd/" + std::to_string(readEnd);
    }
    ASSERT_GE(writeEnd, 0) << row.name;
    std::thread writer;
    if (row.writeFirst) {
      WriteSlowly(writeEnd, bytes);
    } else {
      writer = std::thread(WriteSlowly, writeEnd, bytes);
    }
    auto got = ReadWithin(path, std::chrono::seconds(10));
    if (writer.joinable()) writer.join();
    if (readEnd >= 0) close(readEnd);
    ASSERT_TRUE(got.ok()) << row.name << ": " << got.error().text;
    EXPECT_TRUE(*got == bytes) << row.name << ": " << got->size() << " bytes";
  }
}
#endif

}  // namespace
}  // namespace corvel::text
