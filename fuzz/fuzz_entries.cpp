#include "fuzz/fuzz_entries.h"

#include <algorithm>
#include <array>

namespace corvel::fuzz {
namespace {

constexpr std::array kTargets = {
    Target{"hex_reader", CheckHexReader},
    Target{"record_file", CheckRecordFile},
    Target{"user_data", CheckUserData},
    Target{"load_file", CheckLoadFile},
    Target{"number_text", CheckNumberText},
    Target{"hex_pairs", CheckHexPairs},
    Target{"gbk", CheckGbk},
    Target{"chip_model", CheckChipModel},
    Target{"receiver", CheckReceiver},
};

}  // namespace

std::span<const Target> Targets() { return kTargets; }

const Target* FindTarget(std::string_view name) {
  const auto it = std::find_if(kTargets.begin(), kTargets.end(), [&](const Target& t) { return t.name == name; });
  return it == kTargets.end() ? nullptr : &*it;
}

}  // namespace corvel::fuzz
