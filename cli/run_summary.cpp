#include "cli/run_summary.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "cli/port_set.h"

namespace corvel::cli {

std::string FormatSummary(const std::vector<RunRecord>& records) {
  using Row = std::array<std::string, 4>;
  std::vector<Row> rows = {{"port", "result", "serial", "seconds"}};
  size_t done = 0;
  for (const RunRecord& record : records) {
    char serial[16] = "-";
    if (record.serial) std::snprintf(serial, sizeof serial, "0x%08X", *record.serial);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", record.seconds);
    const bool ok = record.result == "ok";
    if (ok) ++done;
    rows.push_back({PortShortName(record.port), ok ? "done" : record.result, serial, seconds});
  }
  std::array<size_t, 4> width{};
  for (const Row& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
  }
  std::string text;
  for (const Row& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      std::string cell = row[i];
      // Seconds line up on the right, the rest on the left.
      if (i + 1 == row.size()) {
        cell.insert(0, width[i] - cell.size(), ' ');
      } else {
        cell.append(width[i] - cell.size() + 2, ' ');
      }
      line += cell;
    }
    text += line + "\n";
  }
  text += "total: " + std::to_string(records.size()) + " ports, " + std::to_string(done) + " done, " +
          std::to_string(records.size() - done) + " failed\n";
  return text;
}

}  // namespace corvel::cli
