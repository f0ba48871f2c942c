// Every file of tests/corpus/<target>/ through its fuzz entry: the inputs that
// once broke a parser, and the seeds scripts/fuzz starts from, keep passing
// the checks the fuzz targets make.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "fuzz/fuzz_entries.h"

namespace corvel::fuzz {

// Names the target in the test's listing instead of its bytes.
void PrintTo(const Target& target, std::ostream* os) { *os << target.name; }

namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = CORVEL_CORPUS_DIR;

std::vector<fs::path> FilesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Replay : public ::testing::TestWithParam<Target> {};

TEST_P(Replay, EveryInputPassesTheEntrysChecks) {
  const Target& target = GetParam();
  const fs::path folder = kCorpus / target.name;
  ASSERT_TRUE(fs::is_directory(folder)) << folder << " is missing";
  const std::vector<fs::path> files = FilesIn(folder);
  ASSERT_FALSE(files.empty()) << folder << " holds no input";
  if (target.entry == nullptr) GTEST_SKIP() << target.name << " has no fuzz entry yet; its inputs wait for it";
  for (const fs::path& file : files) {
    const std::string bytes = ReadBytes(file);
    EXPECT_EQ(target.entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), "") << file;
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, Replay, ::testing::ValuesIn(Targets().begin(), Targets().end()),
                         [](const ::testing::TestParamInfo<Target>& param) { return std::string(param.param.name); });

TEST(Corpus, EveryFolderBelongsToATarget) {
  for (const auto& entry : fs::directory_iterator(kCorpus)) {
    if (entry.is_directory()) {
      EXPECT_NE(FindTarget(entry.path().filename().string()), nullptr) << entry.path();
    }
  }
}

}  // namespace
}  // namespace corvel::fuzz
