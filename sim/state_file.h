// The --state file: the chip's memories kept between runs.
#pragma once

#include <string>

#include "base/result.h"
#include "sim/chip_memory.h"

namespace corvel::sim {

// Loads a state file. A missing file is not an error: `exists` says whether
// one was there.
Result<ChipMemory> LoadStateFile(const std::string& path, bool& exists);

// Writes the state to a temporary file beside `path` and renames it over
// `path`, so a crash never leaves a half-written state.
Result<void> SaveStateFile(const std::string& path, const ChipMemory& memory);

}  // namespace corvel::sim
