// The host's receiver against any stream, through the link's public face:
// frames are seen in the RX echo and the answer through Await. The input is
//
//   setup  bits 0-1 which command is awaited (how much data its answer may
//          carry: a few bytes, 16, 256 or 1016), bit 2 the post-handshake
//          command 0x81 was the last sent, bit 3 append a valid answer after
//          the stream (then the stream is a prefix of stray bytes)
//   split  the stream goes in pieces of 1 + (split & 0x3F) bytes
//   rest   the stream
#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_entries.h"
#include "link/command_codes.h"
#include "link/crc16.h"
#include "link/link.h"
#include "log/log.h"

namespace corvel::fuzz {
namespace {

using Bytes = std::vector<uint8_t>;

// Waits end at once: the entry feeds bytes itself and reads what is held.
class StillHost : public link::Host {
 public:
  bool QueueWrite(const uint8_t*, size_t) override { return true; }
  void PumpMessages() override {}
  void WaitUntil(uint64_t) override {}
  uint64_t NowMicros() override { return 0; }
  void SleepMicros(uint64_t) override {}
  Result<void> SetBaudRate(uint32_t) override { return {}; }
};

class EchoSink : public log::LogSink {
 public:
  void AppendLine(std::string_view line) override { lines.emplace_back(line); }
  void AppendText(std::string_view) override {}
  void Clear() override {}
  std::vector<std::string> lines;
};

bool IsAnswerCode(uint8_t code) {
  return std::find(link::cmd::kAnswerCodes.begin(), link::cmd::kAnswerCodes.end(), code) !=
         link::cmd::kAnswerCodes.end();
}

bool IsFrameCode(uint8_t code) {
  return IsAnswerCode(code) || code == link::cmd::kDisconnect ||
         std::find(link::cmd::kIgnoredAnswerCodes.begin(), link::cmd::kIgnoredAnswerCodes.end(), code) !=
             link::cmd::kIgnoredAnswerCodes.end();
}

// An echo line "RX: 81 13 ..." back to bytes.
std::optional<Bytes> EchoedFrame(const std::string& line) {
  if (line.rfind("RX: ", 0) != 0) return std::nullopt;
  Bytes frame;
  for (size_t i = 4; i + 2 < line.size() + 1; i += 3) {
    frame.push_back(static_cast<uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
  }
  return frame;
}

bool GoodCrc(const Bytes& frame) {
  const size_t length = link::DeclaredLength(frame.data());
  const auto received = static_cast<uint16_t>(frame[frame.size() - 3] << 8 | frame[frame.size() - 2]);
  return link::Crc16(frame.data() + 1, static_cast<uint32_t>(length + 3)) == received;
}

struct Probe {
  Probe() : log(sink), link(host, log) {
    log.SetFrameEcho(true);
    link.EnterSyncHunt();
    const Bytes sync(link::kSyncCount, link::kSyncByte);
    link.Deliver(sync.data(), sync.size());
    link.EnableFrames();
  }
  StillHost host;
  EchoSink sink;
  log::Log log;
  link::Link link;
};

}  // namespace

std::string CheckReceiver(const uint8_t* data, size_t size) {
  if (size < 2) return {};
  const uint8_t setup = data[0];
  const size_t piece = 1 + (data[1] & 0x3F);
  const Bytes stream(data + 2, data + size);
  constexpr std::array<size_t, 4> kMaxData = {link::kSmallAnswerData, 16, 256, link::kMaxResponseData};
  const size_t maxData = kMaxData[setup & 0x03];
  const bool after81 = (setup & 0x04) != 0;
  const bool appendAnswer = (setup & 0x08) != 0;

  Probe p;
  const uint8_t zero = 0;
  if (after81) (void)p.link.Send(link::cmd::kAfterHandshake, &zero, 1, maxData);
  else (void)p.link.Send(link::cmd::kReadFlash, &zero, 1, maxData);
  p.sink.lines.clear();

  for (size_t at = 0; at < stream.size(); at += piece) {
    p.link.Deliver(stream.data() + at, std::min(piece, stream.size() - at));
  }

  // Every frame seen is well formed, fits and obeys the awaited answer's limit.
  std::optional<Bytes> firstAnswer;
  for (const auto& line : p.sink.lines) {
    const auto frame = EchoedFrame(line);
    if (!frame) return "a log line that is not an RX echo: " + line;
    if (frame->size() < link::kFrameOverhead || frame->size() > link::kMaxFrame) return "an echoed frame of bad size";
    if (frame->front() != link::kFrameStart || frame->back() != link::kFrameEnd) return "an echoed frame without its start or end byte";
    const size_t length = link::DeclaredLength(frame->data());
    if (length + link::kFrameOverhead != frame->size()) return "an echoed frame whose size is not its declared length";
    if (length > maxData + 1) return "an echoed frame longer than the awaited answer can be";
    if (!IsFrameCode((*frame)[1])) return "an echoed frame with a code no answer carries";
    const uint8_t code = (*frame)[1];
    const bool takes = GoodCrc(*frame) && IsAnswerCode(code) && (code != link::cmd::kAfterHandshake || after81);
    if (takes && !firstAnswer) firstAnswer = frame;
  }

  // Only a good frame with an accepted code gives an answer, and it is the first.
  const auto held = p.link.Await(0);
  if (held.has_value() != firstAnswer.has_value()) return "an answer held without a good accepted frame, or missed";
  if (held) {
    const Bytes& f = *firstAnswer;
    const size_t length = link::DeclaredLength(f.data());
    if (held->code != f[1]) return "the held answer is not the first good frame";
    if (length > 0 && (held->status != f[4] || held->length != length - 1 ||
                       !std::equal(f.begin() + 5, f.begin() + 5 + (length - 1), held->data.begin()))) {
      return "the held answer's bytes differ from its frame";
    }
  }
  if (!appendAnswer || held) return {};

  // A valid answer after the stray bytes is seen at its last byte whenever
  // every false start among them is dropped by the rules: its code is no
  // answer's, or its length is more than the awaited answer can carry.
  const Bytes payload = {0x00, 0x5A};
  Bytes answer(payload.size() + link::kFrameOverhead);
  answer.resize(link::BuildFrame(link::cmd::kReadFlash, payload.data(), payload.size(), answer.data()));
  Bytes all = stream;
  all.insert(all.end(), answer.begin(), answer.end());
  for (size_t i = 0; i < stream.size(); ++i) {
    if (stream[i] != link::kFrameStart) continue;
    if (i + 1 < all.size() && !IsFrameCode(all[i + 1])) continue;
    if (i + 3 < all.size() && static_cast<size_t>(all[i + 2] << 8 | all[i + 3]) > maxData + 1) continue;
    return {};  // a plausible start: it may swallow the answer
  }
  p.link.Deliver(answer.data(), answer.size() - 1);
  if (p.link.Await(0)) return "an answer seen before its last byte";
  p.link.Deliver(&answer.back(), 1);
  const auto late = p.link.Await(0);
  if (!late || late->code != link::cmd::kReadFlash || late->length != 1 || late->data[0] != 0x5A) {
    return "a valid answer after stray bytes was not taken";
  }
  return {};
}

}  // namespace corvel::fuzz
