// The summary on stderr after a run over several ports: a line per port
// (name, result, chip serial number, seconds) in aligned columns, and a total.
#pragma once

#include <string>
#include <vector>

#include "cli/run_record.h"

namespace corvel::cli {

std::string FormatSummary(const std::vector<RunRecord>& records);

}  // namespace corvel::cli
