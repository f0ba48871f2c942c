// Send-and-wait and the waits of the link. Every wait blocks in the host until
// an event or its deadline, so waiting costs no CPU and a response is seen the
// moment its last byte is handled.
#include "link/link.h"

namespace corvel::link {

namespace {
constexpr uint64_t kMicrosPerSecond = 1000000;
}

uint8_t Link::SendAndWait(uint8_t code, const uint8_t* payload, uint16_t length) {
  const uint64_t t0 = host_.NowMicros() / kMicrosPerSecond;
  responseArrived = 0;
  if (!SendFrame(code, payload, length)) return kNoResponse;
  // The whole-second clock: the limit ends when the seconds counter has moved
  // on by four, 3 to 4 s after the send.
  const uint64_t deadline = (t0 + kCommandTimeoutSeconds) * kMicrosPerSecond;
  for (;;) {
    if (responseArrived) return StatusByte();
    if (host_.NowMicros() >= deadline || host_.PortLost()) break;
    host_.PumpMessages();
    if (responseArrived) return StatusByte();
    host_.WaitUntil(deadline);
  }
  return responseArrived ? StatusByte() : kNoResponse;
}

bool Link::WaitForFlag(const uint8_t& flag, uint32_t limitSeconds) {
  const uint64_t deadline = (host_.NowMicros() / kMicrosPerSecond + limitSeconds) * kMicrosPerSecond;
  // The flag is tested before every pump: the wait may have just handled the
  // frame that set it, and a further pump could let later bytes overwrite it.
  for (;;) {
    if (flag) return true;
    if (host_.NowMicros() >= deadline || host_.PortLost()) return false;
    host_.PumpMessages();
    if (flag) return true;
    host_.WaitUntil(deadline);
  }
}

bool Link::WaitForFlagMicros(const uint8_t& flag, uint32_t limitMicros) {
  const uint32_t start = MicroTimer();
  const uint64_t deadline = host_.NowMicros() + limitMicros;
  for (;;) {
    if (flag) return true;
    if (static_cast<uint32_t>(MicroTimer() - start) >= limitMicros || host_.PortLost()) return false;
    host_.PumpMessages();
    if (flag) return true;
    host_.WaitUntil(deadline);
  }
}

}  // namespace corvel::link
