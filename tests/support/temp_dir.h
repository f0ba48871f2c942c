// A folder of its own for one test, removed with everything in it when the
// test ends. Named after the test and the process, and made by mkdtemp, so
// tests that ctest runs side by side never share one.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

namespace corvel::testing {

class TempDir {
  // mkdtemp where there is one; elsewhere _mktemp_s names it and the folder
  // is made, failing if another took the name first.
  static bool MakeFolder(std::string& pattern) {
#ifdef _WIN32
    if (_mktemp_s(pattern.data(), pattern.size() + 1) != 0) return false;
    std::error_code ec;
    return std::filesystem::create_directory(pattern, ec);
#else
    return mkdtemp(pattern.data()) != nullptr;
#endif
  }

 public:
  TempDir() {
    std::string name = "corvel";
    if (const auto* test = ::testing::UnitTest::GetInstance()->current_test_info()) {
      name += std::string("-") + test->test_suite_name() + "." + test->name();
    }
    std::replace(name.begin(), name.end(), '/', '_');  // parameterised names
    std::string pattern =
        (std::filesystem::path(::testing::TempDir()) / name).string() + "-" + std::to_string(getpid()) + "-XXXXXX";
    if (!MakeFolder(pattern)) {
      ADD_FAILURE() << "cannot make a folder like " << pattern;
      return;
    }
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // The path of `name` inside the folder.
  std::string Path(std::string_view name) const { return path_ + "/" + std::string(name); }
  // Writes `contents` to `name` inside the folder; returns its path.
  std::string Write(std::string_view name, std::string_view contents) const {
    const std::string file = Path(name);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    EXPECT_TRUE(out.good()) << "cannot write " << file;
    return file;
  }

 private:
  std::string path_;
};

}  // namespace corvel::testing
