#include "sim/chip_model.h"

#include <cstring>
#include <limits>

#include "base/bytes.h"
#include "link/crc16.h"
#include "link/link.h"

namespace corvel::sim {

namespace {

constexpr size_t kMaxAnswerData = link::kMaxPayload - 1;  // after the status byte
constexpr uint32_t kMinRate = 1200;
constexpr uint32_t kMaxRate = 4000000;
constexpr uint32_t kDoublingRate = 230400;

bool ValidPage(uint8_t page) { return page >= 1 && page <= kOtpPageCount; }

}  // namespace

ChipModel::ChipModel(ModelOptions options)
    : options_(std::move(options)), memory_(ChipMemory::Factory(options_.serialNumber)), state_(options_.start) {
  answer_.reserve(link::kMaxPayload);
  frame_.resize(link::kMaxFrame);
}

void ChipModel::Receive(const uint8_t* data, size_t length, std::vector<uint8_t>& out) {
  bytesReceived_ += length;
  for (size_t i = 0; i < length && !vanished_; ++i) {
    const uint8_t b = data[i];
    // Bytes inside a frame are data, not a burst (images hold long 0xFF runs).
    if (assembler_.Idle() && burst_.Feed(b)) {
      WakeUp(out);
      continue;
    }
    if (state_ != StartState::kConsole) {
      out_ = &out;
      assembler_.Push(b, {}, *this);
      out_ = nullptr;
    }
  }
}

void ChipModel::WakeUp(std::vector<uint8_t>& out) {
  if (vanished_) return;
  assembler_.Reset();
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

std::optional<uint8_t> ChipModel::TakeAnsweredCode() {
  std::optional<uint8_t> code = answeredCode_;
  answeredCode_.reset();
  return code;
}

void ChipModel::OnFrame(const uint8_t* frame, size_t total, bool crcOk) {
  if (!crcOk) return;  // a damaged command is not answered
  std::vector<uint8_t>& out = *out_;
  const uint16_t length = link::DeclaredLength(frame);
  ++framesReceived_;
  if (onFrame) onFrame(true, frame, total);
  const Faults& faults = options_.faults;
  if (faults.vanishAfterFrames != 0 && framesReceived_ >= faults.vanishAfterFrames) {
    vanished_ = true;
    return;
  }
  const uint8_t code = frame[1];
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
  if (Execute(code, frame + 4, length)) Answer(code, out);
}

void ChipModel::Answer(uint8_t code, std::vector<uint8_t>& out) {
  for (size_t i = 0; i < options_.faults.noiseBytes; ++i) {
    noiseSeed_ = noiseSeed_ * 1103515245u + 12345u;
    auto noise = static_cast<uint8_t>(noiseSeed_ >> 16);
    if (noise == link::kFrameStart) noise = 0x7E;
    out.push_back(noise);
  }
  for (size_t i = 0; i < options_.faults.falseStarts; ++i) out.insert(out.end(), {link::kFrameStart, 0x00, 0x00});
  const size_t size = link::BuildFrame(code, answer_.data(), answer_.size(), frame_.data());
  if (options_.faults.badCrcFor[code]) frame_[size - 2] ^= 0x5A;
  if (onFrame) onFrame(false, frame_.data(), size);
  answeredCode_ = code;
  out.insert(out.end(), frame_.begin(), frame_.begin() + static_cast<ptrdiff_t>(size));
}

bool ChipModel::Execute(uint8_t code, const uint8_t* p, size_t n) {
  switch (code) {
    case 0x11:
      return Handshake(p, n);
    case 0x12:
      Status(kStatusOk);
      if (options_.newChipOnDisconnect) memory_.SetSerialNumber(++options_.serialNumber);
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
      AppendLe32(answer_, options_.chipId);
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
      if (n != 4 || ReadLe32(p) % 4 != 0) {
        Status(kStatusBadArgument);
      } else {
        const auto it = memory_.registers.find(ReadLe32(p));
        Status(kStatusOk);
        AppendLe32(answer_, it == memory_.registers.end() ? 0 : it->second);
      }
      return true;
    case 0x2A:
      if (n != 8 || ReadLe32(p) % 4 != 0) {
        Status(kStatusBadArgument);
      } else {
        memory_.registers[ReadLe32(p)] = ReadLe32(p + 4);
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
      if (n < 7 || ReadLe16(p + 4) != n - 6 || !memory_.ProgramFlash(ReadLe32(p), p + 6, n - 6)) {
        Status(kStatusBadArgument);
      } else {
        Status(kStatusOk);
      }
      return true;
    case 0x2D:
      if (n != 6 || ReadLe16(p + 4) > kMaxAnswerData || !ChipMemory::InFlash(ReadLe32(p), ReadLe16(p + 4))) {
        Status(kStatusBadArgument);
      } else {
        Status(kStatusOk);
        const uint32_t addr = ReadLe32(p);
        const uint16_t count = ReadLe16(p + 4);
        const uint8_t* from = memory_.flash.data() + addr;
        answer_.insert(answer_.end(), from, from + count);
        for (const Faults::StuckBit& stuck : options_.faults.stuckBits) {
          if (stuck.address - addr < count) answer_[1 + (stuck.address - addr)] &= static_cast<uint8_t>(~(1u << stuck.bit));
        }
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
  const bool accepted = n == 4 && (!options_.password || ReadLe32(p) == *options_.password);
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
  const uint32_t length = ReadLe32(p + 1);
  if (length > region->size) return Status(kStatusBadArgument);
  transfer_ = Transfer{true, p[0], length, ReadLe16(p + 5), {p[7], p[8], p[9], p[10]}, *region, 1};
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
  if (n != 6 || !memory_.EraseFlash(ReadLe32(p), ReadLe16(p + 4), unit)) return Status(kStatusBadArgument);
  Status(kStatusOk);
}

void ChipModel::ReadOtp(const uint8_t* p, size_t n) {
  if (n != 7 || !ValidPage(p[0])) return Status(kStatusBadArgument);
  const uint16_t count = ReadLe16(p + 1);
  const uint32_t addr = ReadLe32(p + 3);
  if (count > kMaxAnswerData || !ChipMemory::InOtp(addr, count)) return Status(kStatusBadArgument);
  Status(kStatusOk);
  const uint8_t* from = memory_.Otp(p[0]) + addr;
  answer_.insert(answer_.end(), from, from + count);
}

void ChipModel::WriteOtp(const uint8_t* p, size_t n) {
  if (n < 8 || !ValidPage(p[0]) || ReadLe16(p + 1) != n - 7) return Status(kStatusBadArgument);
  if (memory_.OtpLocked(p[0])) return Status(kStatusOtpLocked);
  if (!memory_.ProgramOtp(p[0], ReadLe32(p + 3), p + 7, n - 7)) return Status(kStatusBadArgument);
  Status(kStatusOk);
}

void ChipModel::RateSwitch(const uint8_t* p, size_t n) {
  if (n != 4 || ReadLe32(p) < kMinRate || ReadLe32(p) > kMaxRate) return Status(kStatusBadArgument);
  // The host doubles the listed rate after a handshake at 230400; so does the chip.
  rateSwitch_ = handshakeRate_ == kDoublingRate ? 2 * ReadLe32(p) : ReadLe32(p);
  Status(kStatusOk);
}

}  // namespace corvel::sim
