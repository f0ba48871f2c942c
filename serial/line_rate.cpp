#include "serial/line_rate.h"

#include "text/translation.h"

namespace corvel::serial {
namespace {

// Two per cent, as a fraction that keeps the check in integers.
constexpr uint64_t kRateToleranceParts = 2;
constexpr uint64_t kRateTolerancePer = 100;

}  // namespace

bool RateAccepted(uint32_t asked, uint32_t reported) {
  const uint64_t difference = asked > reported ? asked - reported : reported - asked;
  return asked != 0 && difference * kRateTolerancePer <= uint64_t{asked} * kRateToleranceParts;
}

std::string RateRefusedText(uint32_t asked, uint32_t reported) {
  return Tr("请求的速率 ") + std::to_string(asked) + Tr(" 与设备报告的速率 ") + std::to_string(reported) +
         Tr(" 相差超过 2%");
}

}  // namespace corvel::serial
