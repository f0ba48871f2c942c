// The simulated chip's byte model against any stream. The input is
//
//   setup  bits 0-1 start state (3 counts as console), bit 2 commands built
//          from the rest instead of raw bytes, bit 3 answer 0x81, bits 4-5
//          noise bytes before each answer, bit 6 a password, bit 7 handshake
//          status 0x30 instead of 0x20
//   fault  kind (low 3 bits), a code and a value: see ApplyFault
//   split  how the stream is cut into Receive calls: see Pieces
//   rest   the stream: raw bytes, or commands as [code][length][payload]
//          (code 0 is the wake-up burst; length 0xFF is followed by two
//          bytes of a longer length)
#include <algorithm>
#include <array>

#include "fuzz/fuzz_entries.h"
#include "link/crc16.h"
#include "link/link.h"
#include "sim/chip_model.h"

namespace corvel::fuzz {
namespace {

using Bytes = std::vector<uint8_t>;

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return size_ == 0; }
  uint8_t Byte() {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }
  Bytes Take(size_t n) {
    n = std::min(n, size_);
    Bytes out(data_, data_ + n);
    data_ += n;
    size_ -= n;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

void ApplyFault(uint8_t kind, uint8_t code, uint8_t value, sim::Faults& faults) {
  switch (kind & 0x07) {
    case 1:
      faults.statusFor[code] = value;
      break;
    case 2:
      faults.silentFor.set(code);
      break;
    case 3:
      faults.badCrcFor.set(code);
      break;
    case 4:
      faults.nakBlock = value;
      faults.nakStatus = code;
      break;
    case 5:
      faults.silentBlock = value;
      break;
    case 6:
      faults.vanishAfterFrames = value;
      break;
    default:
      break;  // no fault
  }
}

Bytes Commands(Input& in) {
  Bytes stream;
  std::array<uint8_t, link::kMaxFrame> frame{};
  while (!in.empty()) {
    const uint8_t code = in.Byte();
    if (code == 0) {
      stream.insert(stream.end(), 128, 0xFF);
      stream.insert(stream.end(), 20, 0xAA);
      continue;
    }
    size_t length = in.Byte();
    if (length == 0xFF) length = (size_t{in.Byte()} << 8 | in.Byte()) % (link::kMaxPayload + 1);
    const Bytes payload = in.Take(length);
    const size_t n = link::BuildFrame(code, payload.data(), payload.size(), frame.data());
    stream.insert(stream.end(), frame.begin(), frame.begin() + static_cast<ptrdiff_t>(n));
  }
  return stream;
}

// Piece sizes for the Receive calls: the whole stream at once, byte by byte,
// pieces of one size, or pieces of varying size.
class Pieces {
 public:
  explicit Pieces(uint8_t split) : mode_(split & 0x03), size_(size_t{split} >> 2), state_(split) {}
  size_t Next() {
    switch (mode_) {
      case 0:
        return SIZE_MAX;
      case 1:
        return 1;
      case 2:
        return size_ + 1;
      default:
        state_ = state_ * 1103515245u + 12345u;
        return (state_ >> 16) % (size_ + 1) + 1;
    }
  }

 private:
  int mode_;
  size_t size_;
  uint32_t state_;
};

std::string CheckFrame(const uint8_t* f, size_t n, const sim::Faults& faults) {
  if (n < link::kFrameOverhead + 1) return "an answer without a status byte";
  if (n > link::kMaxFrame) return "an answer longer than a frame";
  if (f[0] != link::kFrameStart) return "an answer without its start byte";
  const size_t declared = size_t{f[2]} << 8 | f[3];
  if (declared + link::kFrameOverhead != n) return "an answer whose declared length does not fit";
  if (f[n - 1] != link::kFrameEnd) return "an answer without its end byte";
  const bool crcGood = link::Crc16(f + 1, static_cast<uint32_t>(declared + 3)) == (f[n - 3] << 8 | f[n - 2]);
  if (crcGood == faults.badCrcFor[f[1]]) return crcGood ? "a good CRC where the fault spoils it" : "a bad CRC";
  return {};
}

bool AllSyncAnswers(const Bytes& out, size_t from, size_t to) {
  return (to - from) % sim::kSyncAnswerCount == 0 &&
         std::all_of(out.begin() + static_cast<ptrdiff_t>(from), out.begin() + static_cast<ptrdiff_t>(to),
                     [](uint8_t b) { return b == link::kSyncByte; });
}

struct Seen {
  size_t start;  // in the output of the Receive call
  size_t length;
};

// The output of one Receive call: sync answers, and answers with their noise
// in front, in the order they were made.
std::string CheckOutput(const Bytes& out, const std::vector<Seen>& answers, const sim::Faults& faults) {
  size_t at = 0;
  for (const Seen& answer : answers) {
    if (answer.start < at + faults.noiseBytes) return "an answer overlaps what came before it";
    const size_t noiseStart = answer.start - faults.noiseBytes;
    if (!AllSyncAnswers(out, at, noiseStart)) return "bytes before an answer that are no sync answer";
    if (std::find(out.begin() + static_cast<ptrdiff_t>(noiseStart), out.begin() + static_cast<ptrdiff_t>(answer.start),
                  link::kFrameStart) != out.begin() + static_cast<ptrdiff_t>(answer.start)) {
      return "noise with a start byte in it";
    }
    if (answer.start + answer.length > out.size()) return "an answer cut short in the output";
    std::string bad = CheckFrame(out.data() + answer.start, answer.length, faults);
    if (!bad.empty()) return bad;
    at = answer.start + answer.length;
  }
  if (!AllSyncAnswers(out, at, out.size())) return "bytes after the answers that are no sync answer";
  return {};
}

sim::ModelOptions StartingIn(sim::StartState start) {
  sim::ModelOptions options;
  options.start = start;
  return options;
}

}  // namespace

std::string CheckChipModel(const uint8_t* data, size_t size) {
  Input in(data, size);
  const uint8_t setup = in.Byte();
  sim::ModelOptions options;
  options.start = static_cast<sim::StartState>((setup & 0x03) % 3);
  options.answer81 = (setup & 0x08) != 0;
  options.faults.noiseBytes = size_t{setup} >> 4 & 0x03;
  if ((setup & 0x40) != 0) options.password = 0x5A6B7C8D;
  options.handshakeStatus = (setup & 0x80) != 0 ? 0x30 : 0x20;
  const uint8_t faultKind = in.Byte();
  const uint8_t faultCode = in.Byte();
  ApplyFault(faultKind, faultCode, in.Byte(), options.faults);
  Pieces pieces(in.Byte());
  const Bytes stream = (setup & 0x04) != 0 ? Commands(in) : in.Take(size);

  // Building a model fills a fresh 512 KiB flash, which would cost most of a
  // run; a model made once per start state is copied instead, into storage
  // that is already there.
  static const std::array<sim::ChipModel, 3> kFresh = {
      sim::ChipModel(StartingIn(sim::StartState::kConsole)),
      sim::ChipModel(StartingIn(sim::StartState::kSynced)),
      sim::ChipModel(StartingIn(sim::StartState::kConnected)),
  };
  static sim::ChipModel model;
  model = kFresh[static_cast<size_t>(options.start)];
  model.options() = options;
  Bytes out;
  std::vector<Seen> answers;
  std::string broken;
  bool commandWaiting = false;
  uint8_t command = 0;
  model.onFrame = [&](bool fromHost, const uint8_t* frame, size_t length) {
    if (fromHost) {
      commandWaiting = true;
      command = frame[1];
      return;
    }
    if (!commandWaiting) broken = "an answer without a command";
    if (frame[1] != command) broken = "an answer to another command";
    commandWaiting = false;
    // Answers are reported just before they are appended.
    answers.push_back(Seen{out.size(), length});
  };

  const std::string result = [&]() -> std::string {
    for (size_t at = 0; at < stream.size();) {
      const size_t n = std::min(pieces.Next(), stream.size() - at);
      const bool vanished = model.Vanished();
      out.clear();
      answers.clear();
      model.Receive(stream.data() + at, n, out);
      at += n;
      if (!broken.empty()) return broken;
      if (vanished && !out.empty()) return "the vanished adapter answered";
      std::string bad = CheckOutput(out, answers, options.faults);
      if (!bad.empty()) return bad + " (stream byte " + std::to_string(at) + ")";
    }
    return {};
  }();
  model.onFrame = nullptr;  // it refers to this call's locals
  return result;
}

}  // namespace corvel::fuzz
