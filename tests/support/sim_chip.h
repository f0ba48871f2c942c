// A simulated chip on a pseudo-terminal for one test, and the line splitting
// the end-to-end tests compare stdout with.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "sim/pty_server.h"

namespace corvel::testing {

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Answers as fast as it can unless paced.
struct SimChip {
  explicit SimChip(sim::ModelOptions model = {}, bool pace = false) {
    sim::SimOptions options;
    options.model = std::move(model);
    options.pace = pace;
    auto started = server.Start(options);
    EXPECT_TRUE(started);
    if (started) path = *started;
  }
  ~SimChip() { (void)server.Stop(); }
  SimChip(const SimChip&) = delete;
  SimChip& operator=(const SimChip&) = delete;

  uint64_t FramesReceived() {
    return server.WithModel([](sim::ChipModel& m) { return m.FramesReceived(); });
  }
  uint64_t BytesReceived() {
    return server.WithModel([](sim::ChipModel& m) { return m.BytesReceived(); });
  }

  sim::PtyServer server;
  std::string path;
};

}  // namespace corvel::testing
