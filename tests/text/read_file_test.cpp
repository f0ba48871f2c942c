#include "text/read_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace corvel::text {
namespace {

TEST(ReadFile, ReadsEveryByte) {
  const std::string path = ::testing::TempDir() + "corvel_read_file_test.bin";
  std::string bytes(200000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  std::ofstream(path, std::ios::binary) << bytes;
  auto got = ReadFile(path);
  ASSERT_TRUE(got.ok()) << got.error().text;
  EXPECT_EQ(*got, bytes);
  EXPECT_FALSE(ReadFile(path, 199999).ok());
  std::filesystem::remove(path);
}

TEST(ReadFile, NamesThePathOfAFileItCannotRead) {
  auto missing = ReadFile("/nonexistent/corvel/app.hex");
  ASSERT_FALSE(missing.ok());
  EXPECT_NE(missing.error().text.find("/nonexistent/corvel/app.hex"), std::string::npos);
  auto folder = ReadFile(::testing::TempDir());
  ASSERT_FALSE(folder.ok());
  EXPECT_EQ(folder.error().kind, ErrorKind::kIo);
}

}  // namespace
}  // namespace corvel::text
