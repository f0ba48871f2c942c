// A libFuzzer target around one entry; CMake builds it once per entry and
// names that entry in CORVEL_FUZZ_TARGET.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_entries.h"

namespace {

corvel::fuzz::Entry ThisEntry() {
  static const corvel::fuzz::Target* const target = corvel::fuzz::FindTarget(CORVEL_FUZZ_TARGET);
  if (target == nullptr || target->entry == nullptr) {
    std::fprintf(stderr, "fuzz: no entry named %s\n", CORVEL_FUZZ_TARGET);
    std::abort();
  }
  return target->entry;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  ThisEntry();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string broken = ThisEntry()(data, size);
  if (!broken.empty()) {
    // An abort is what libFuzzer keeps as a crash file.
    std::fprintf(stderr, "fuzz: %s: %s\n", CORVEL_FUZZ_TARGET, broken.c_str());
    std::abort();
  }
  return 0;
}
