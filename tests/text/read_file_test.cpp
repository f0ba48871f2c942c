#include "text/read_file.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace corvel::text
