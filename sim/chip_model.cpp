#include "sim/chip_model.h"

#include <cstring>
#include <limits>

#include "link/crc16.h"
#include "link/link.h"

namespace corvel::sim {

namespace {

constexpr size_t kMaxAnswerData = link::kMaxPayload - 1;  // after the status byte
constexpr uint32_t kMinRate = 1200;
constexpr uint32_t kMaxRate = 4000000;
constexpr uint32_t kDoublingRate = 230400;

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
void AppendU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
uint16_t DeclaredLength(const uint8_t* frame) { return static_cast<uint16_t>(frame[2] << 8 | frame[3]); }
bool ValidPage(uint8_t page) { return page >= 1 && page <= kOtpPageCount; }

}  // namespace

ChipModel::ChipModel(ModelOptions options)
    : options_(std::move(options)), memory_(ChipMemory::Factory(options_.serialNumber)), state_(options_.start) {
  answer_.reserve(link::kMaxPayload);
  frame_.resize(link::kTxBufferSize);
}

void ChipModel::Receive(const uint8_t* data, size_t length, std::vector<uint8_t>& out) {
  bytesReceived_ += length;
  for (size_t i = 0; i < length && !vanished_; ++i) {
    const uint8_t b = data[i];
    // Bytes inside a frame are data, not a burst (images hold long 0xFF runs).
    if (rxIndex_ == 0 && burst_.Feed(b)) {
      WakeUp(out);
      continue;
    }
    if (state_ != StartState::kConsole) AssembleByte(b, out);
  }
}

void ChipModel::WakeUp(std::vector<uint8_t>& out) {
  if (vanished_) return;
  rxIndex_ = 0;
  burst_.Reset();
  transfer_.active = false;
  if (state_ == StartState::kConsole && ++burstsInConsole_ < options_.syncAfterBursts) return;
  burstsInConsole_ = 0;
  state_ = StartState::kSynced;
  out.insert(out.end(), kSyncAnswerCount, link::kSyncByte);
}

void ChipModel::Tick(uint64_t nowMicros, std::vector<uint8_t>& out) {
  if (state_ != StartState::kConsole || vanished_) return;
  const uint64_t period = options_.consolePeriodMicros;
  if (bannerDue_ || !clockStarted_) {
    clockStarted_ = true;
    if (bannerDue_) out.insert(out.end(), options_.banner.begin(), options_.banner.end());
    bannerDue_ = false;
    nextLineMicros_ = nowMicros + period;
    return;
  }
  if (period != 0 && nowMicros >= nextLineMicros_) {
    out.insert(out.end(), options_.consoleLine.begin(), options_.consoleLine.end());
    nextLineMicros_ = nowMicros + period;
  }
}

uint64_t ChipModel::NextTickMicros() const {
  if (state_ != StartState::kConsole || vanished_) return std::numeric_limits<uint64_t>::max();
  if (bannerDue_ || !clockStarted_) return 0;
  if (options_.consolePeriodMicros == 0) return std::numeric_limits<uint64_t>::max();
  return nextLineMicros_;
}

std::optional<uint32_t> ChipModel::TakeRateSwitch() {
  std::optional<uint32_t> rate = rateSwitch_;
  rateSwitch_.reset();
  return rate;
}

void ChipModel::AssembleByte(uint8_t b, std::vector<uint8_t>& out) {
  rx_[rxIndex_++] = b;
  if (rx_[0] != link::kFrameStart) {
    rxIndex_ = 0;
    return;
  }
  if (rxIndex_ < 4) return;
  const size_t total = DeclaredLength(rx_.data()) + link::kFrameOverhead;
  if (total > link::kRxFrameLimit) return Resync(out);
  if (rxIndex_ == total) {
    if (b != link::kFrameEnd) return Resync(out);
    HandleFrame(out);
  }
}

// A start byte that did not begin a frame: look for the next one among the
// stored bytes, as the host's receiver does.
void ChipModel::Resync(std::vector<uint8_t>& out) {
  for (;;) {
    const auto* start = static_cast<const uint8_t*>(std::memchr(rx_.data() + 1, link::kFrameStart, rxIndex_ - 1));
    if (start == nullptr) {
      rxIndex_ = 0;
      return;
    }
    const auto kept = static_cast<size_t>(rx_.data() + rxIndex_ - start);
    std::memmove(rx_.data(), start, kept);
    rxIndex_ = kept;
    if (rxIndex_ < 4) return;
    const size_t total = DeclaredLength(rx_.data()) + link::kFrameOverhead;
    if (total <= link::kRxFrameLimit) {
      if (rxIndex_ < total) return;
      if (rxIndex_ == total && rx_[total - 1] == link::kFrameEnd) return HandleFrame(out);
    }
  }
}

void ChipModel::HandleFrame(std::vector<uint8_t>& out) {
  const size_t total = rxIndex_;
  rxIndex_ = 0;
  const uint16_t length = DeclaredLength(rx_.data());
  const uint16_t crc = link::Crc16(rx_.data() + 1, static_cast<uint32_t>(length) + 3);
  const auto received = static_cast<uint16_t>(rx_[total - 3] << 8 | rx_[total - 2]);
  if (crc != received) return;  // a damaged command is not answered
  ++framesReceived_;
  if (onFrame) onFrame(true, rx_.data(), total);
  const Faults& faults = options_.faults;
  if (faults.vanishAfterFrames != 0 && framesReceived_ >= faults.vanishAfterFrames) {
    vanished_ = true;
    return;
  }
  const uint8_t code = rx_[1];
  if (faults.silentFor[code]) return;
  if (faults.statusFor[code] != Faults::kNone) {
    Status(static_cast<uint8_t>(faults.statusFor[code]));
    return Answer(code, out);
  }
  const bool sessionCommand = code == 0x11 || code == 0x12;
  if (state_ != StartState::kConnected && !sessionCommand) {
    Status(kStatusNotConnected);
    return Answer(code, out);
  }
  if (Execute(code, rx_.data() + 4, length)) Answer(code, out);
}

void ChipModel::Answer(uint8_t code, std::vector<uint8_t>& out) {
  for (size_t i = 0; i < options_.faults.noiseBytes; ++i) {
    noiseSeed_ = noiseSeed_ * 1103515245u + 12345u;
    auto noise = static_cast<uint8_t>(noiseSeed_ >> 16);
    if (noise == link::kFrameStart) noise = 0x7E;
    out.push_back(noise);
  }
  const size_t size = link::BuildFrame(code, answer_.data(), answer_.size(), frame_.data());
  if (options_.faults.badCrcFor[code]) frame_[size - 2] ^= 0x5A;
  if (onFrame) onFrame(false, frame_.data(), size);
  out.insert(out.end(), frame_.begin(), frame_.begin() + static_cast<ptrdiff_t>(size));
}

bool ChipModel::Execute(uint8_t code, const uint8_t* p, size_t n) {
  switch (code) {
    case 0x11:
      return Handshake(p, n);
    case 0x12:
      Status(kStatusOk);
      state_ = StartState::kConsole;
      transfer_.active = false;
      bannerDue_ = true;
      burstsInConsole_ = 0;
      return true;
    case 0x13:
      Status(kStatusOk);
      answer_.push_back(options_.bootMajor);
      answer_.push_back(options_.bootMinor);
      return true;
    case 0x15:
      Status(kStatusOk);
      AppendU32(answer_, options_.chipId);
      return true;
    case 0x20:
      EraseByType(p, n);
      return true;
    case 0x22:
      if (n < 2 || p[0] != n - 1) {
        Status(kStatusBadArgument);
      } else {
        memory_.ReplaceFlash(kAccessRecordAddr, p + 1, p[0]);
        Status(kStatusOk);
      }
      return true;
    case 0x23:
      RequestTransfer(p, n);
      return true;
    case 0x24:
      return DataBlock(p, n);
    case 0x26:
      ReadOtp(p, n);
      return true;
    case 0x27:
      WriteOtp(p, n);
      return true;
    case 0x28:
    case 0x2F:
      if (n != 1 || !ValidPage(p[0])) {
        Status(kStatusBadArgument);
      } else if (code == 0x28) {
        memory_.otpLocked[p[0] - 1] = true;
        Status(kStatusOk);
      } else if (memory_.OtpLocked(p[0])) {
        Status(kStatusOtpLocked);
      } else {
        memory_.EraseOtp(p[0]);
        Status(kStatusOk);
      }
      return true;
    case 0x29:
      if (n != 4 || U32(p) % 4 != 0) {
        Status(kStatusBadArgument);
      } else {
        const auto it = memory_.registers.find(U32(p));
        Status(kStatusOk);
        AppendU32(answer_, it == memory_.registers.end() ? 0 : it->second);
      }
      return true;
    case 0x2A:
      if (n != 8 || U32(p) % 4 != 0) {
        Status(kStatusBadArgument);
      } else {
        memory_.registers[U32(p)] = U32(p + 4);
        Status(kStatusOk);
      }
      return true;
    case 0x2B:
      RangeErase(p, n, kPageSize);
      return true;
    case 0x30:
      RangeErase(p, n, kSectorSize);
      return true;
    case 0x2C:
      if (n < 7 || U16(p + 4) != n - 6 || !memory_.ProgramFlash(U32(p), p + 6, n - 6)) {
        Status(kStatusBadArgument);
      } else {
        Status(kStatusOk);
      }
      return true;
    case 0x2D:
      if (n != 6 || U16(p + 4) > kMaxAnswerData || !ChipMemory::InFlash(U32(p), U16(p + 4))) {
        Status(kStatusBadArgument);
      } else {
        Status(kStatusOk);
        const uint8_t* from = memory_.flash.data() + U32(p);
        answer_.insert(answer_.end(), from, from + U16(p + 4));
      }
      return true;
    case 0x81:
      Status(kStatusOk);
      return options_.answer81;
    case 0x83:
      RateSwitch(p, n);
      return true;
    default:
      Status(kStatusUnknownCommand);
      return true;
  }
}

bool ChipModel::Handshake(const uint8_t* p, size_t n) {
  const bool accepted = n == 4 && (!options_.password || U32(p) == *options_.password);
  if (!accepted) {
    state_ = StartState::kSynced;
    Status(kHandshakeRefused);
    return true;
  }
  state_ = StartState::kConnected;
  handshakeRate_ = ownRate_;
  Status(options_.handshakeStatus);
  return true;
}

void ChipModel::EraseByType(const uint8_t* p, size_t n) {
  transfer_.active = false;
  if (n != 1 || p[0] > kTypeApp) return Status(kStatusBadArgument);
  if (p[0] == kTypeWholeChip) {
    memory_.EraseAllFlash();
    return Status(kStatusOk);
  }
  const std::optional<ImageRegion> region = memory_.RegionFor(p[0]);
  if (!memory_.PartitionValid() || !region || !memory_.EraseFlash(region->addr, region->size, 1)) {
    return Status(kStatusPartitionInvalid);
  }
  Status(kStatusOk);
}

void ChipModel::RequestTransfer(const uint8_t* p, size_t n) {
  transfer_.active = false;
  if (n != 11 || p[0] == kTypeWholeChip || p[0] > kTypeApp) return Status(kStatusBadArgument);
  const std::optional<ImageRegion> region = memory_.RegionFor(p[0]);
  if (!memory_.PartitionValid() || !region || region->size == 0 ||
      !ChipMemory::InFlash(region->addr, region->size)) {
    return Status(kStatusPartitionInvalid);
  }
  const uint32_t length = U32(p + 1);
  if (length > region->size) return Status(kStatusBadArgument);
  transfer_ = Transfer{true, p[0], length, U16(p + 5), {p[7], p[8], p[9], p[10]}, *region, 1};
  if (length == 0) return FinishTransfer();
  Status(kStatusOk);
}

bool ChipModel::DataBlock(const uint8_t* p, size_t n) {
  if (!transfer_.active) {
    Status(kStatusNoTransfer);
    return true;
  }
  if (n < 3 || n - 2 > kMaxBlockData) {
    Status(kStatusBadArgument);
    return true;
  }
  const uint32_t number = static_cast<uint32_t>(p[0] << 8 | p[1]);
  const Faults& faults = options_.faults;
  if (number == faults.silentBlock) return false;
  if (number == faults.nakBlock) {
    Status(faults.nakStatus);
    return true;
  }
  if (number != transfer_.nextBlock) {
    Status(kStatusBlockOrder);
    return true;
  }
  const uint64_t offset = static_cast<uint64_t>(number - 1) * kMaxBlockData;
  const size_t count = n - 2;
  if (offset + count > transfer_.length) {
    Status(kStatusBadArgument);
    return true;
  }
  memory_.ProgramFlash(transfer_.region.addr + static_cast<uint32_t>(offset), p + 2, count);
  ++transfer_.nextBlock;
  if (offset + count == transfer_.length) {
    FinishTransfer();
  } else {
    Status(kStatusOk);
  }
  return true;
}

// The image is checked as it stands in flash, so a region that was not
// erased first shows up as a CRC mismatch, as on the chip.
void ChipModel::FinishTransfer() {
  transfer_.active = false;
  const uint16_t crc = link::Crc16(memory_.flash.data() + transfer_.region.addr, transfer_.length);
  if (crc != transfer_.crc) return Status(kStatusImageCrc);
  if (transfer_.region.recordAddr != 0) {
    ImageRecord record;
    record.valid = kValidFlag;
    record.crc = crc;
    record.size = transfer_.length;
    record.name = transfer_.tag;
    memory_.WriteImageRecord(transfer_.region.recordAddr, record);
  }
  Status(kStatusOk);
}

void ChipModel::RangeErase(const uint8_t* p, size_t n, uint32_t unit) {
  if (n != 6 || !memory_.EraseFlash(U32(p), U16(p + 4), unit)) return Status(kStatusBadArgument);
  Status(kStatusOk);
}

void ChipModel::ReadOtp(const uint8_t* p, size_t n) {
  if (n != 7 || !ValidPage(p[0])) return Status(kStatusBadArgument);
  const uint16_t count = U16(p + 1);
  const uint32_t addr = U32(p + 3);
  if (count > kMaxAnswerData || !ChipMemory::InOtp(addr, count)) return Status(kStatusBadArgument);
  Status(kStatusOk);
  const uint8_t* from = memory_.Otp(p[0]) + addr;
  answer_.insert(answer_.end(), from, from + count);
}

void ChipModel::WriteOtp(const uint8_t* p, size_t n) {
  if (n < 8 || !ValidPage(p[0]) || U16(p + 1) != n - 7) return Status(kStatusBadArgument);
  if (memory_.OtpLocked(p[0])) return Status(kStatusOtpLocked);
  if (!memory_.ProgramOtp(p[0], U32(p + 3), p + 7, n - 7)) return Status(kStatusBadArgument);
  Status(kStatusOk);
}

void ChipModel::RateSwitch(const uint8_t* p, size_t n) {
  if (n != 4 || U32(p) < kMinRate || U32(p) > kMaxRate) return Status(kStatusBadArgument);
  // The host doubles the listed rate after a handshake at 230400; so does the chip.
  rateSwitch_ = handshakeRate_ == kDoublingRate ? 2 * U32(p) : U32(p);
  Status(kStatusOk);
}

}  // namespace corvel::sim
