#include "sim/chip_memory.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "link/crc16.h"

namespace corvel::sim {

namespace {

constexpr char kStateMagic[8] = {'C', 'V', 'L', 'S', 'I', 'M', '0', '1'};

// A small image that stands for firmware already on the chip.
void PlaceDemoImage(ChipMemory& memory, uint32_t addr, uint32_t size, uint32_t recordAddr, const char* name,
                    uint8_t seed) {
  uint8_t* p = memory.flash.data() + addr;
  for (uint32_t i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  ImageRecord record;
  record.valid = kValidFlag;
  record.crc = link::Crc16(p, size);
  record.size = size;
  std::memcpy(record.name.data(), name, 4);
  memory.WriteImageRecord(recordAddr, record);
}

}  // namespace

ChipMemory::ChipMemory() : flash(kFlashSize, 0xFF) {
  for (auto& page : otp) page.fill(0xFF);
}

ChipMemory ChipMemory::Factory(uint32_t serialNumber) {
  ChipMemory memory;
  const PartitionRecord partition;
  memory.WritePartitionRecord(partition);
  // Access record: valid, JTAG enabled, password and OTA start erased.
  memory.WriteWord(kAccessRecordAddr, kValidFlag);
  PlaceDemoImage(memory, partition.AppAddr, 2048, kAppRecordAddr, "DEMO", 0x10);
  PlaceDemoImage(memory, partition.StackAddr, 4096, kStackRecordAddr, "STK1", 0x40);
  // Factory page: a few identification words, then the serial number.
  uint8_t* page1 = memory.Otp(1);
  WriteLe32(page1 + 0x00, 0x4C564F43);  // "COVL"
  WriteLe32(page1 + 0x04, 0x00010002);
  memory.SetSerialNumber(serialNumber);
  return memory;
}

void ChipMemory::SetSerialNumber(uint32_t serialNumber) { WriteLe32(Otp(1) + kSerialNumberOffset, serialNumber); }

bool ChipMemory::ProgramFlash(uint32_t addr, const uint8_t* data, size_t length) {
  if (!InFlash(addr, length)) return false;
  uint8_t* p = flash.data() + addr;
  for (size_t i = 0; i < length; ++i) p[i] &= data[i];
  return true;
}

bool ChipMemory::ReplaceFlash(uint32_t addr, const uint8_t* data, size_t length) {
  if (!InFlash(addr, length)) return false;
  if (length > 0) std::memcpy(flash.data() + addr, data, length);
  return true;
}

bool ChipMemory::EraseFlash(uint32_t addr, uint32_t length, uint32_t unit) {
  if (length == 0 || !InFlash(addr, length)) return false;
  const uint32_t first = addr / unit * unit;
  const uint64_t end = (static_cast<uint64_t>(addr) + length + unit - 1) / unit * unit;
  std::fill(flash.begin() + first, flash.begin() + static_cast<ptrdiff_t>(std::min<uint64_t>(end, kFlashSize)),
            uint8_t{0xFF});
  return true;
}

void ChipMemory::EraseAllFlash() { std::fill(flash.begin(), flash.end(), uint8_t{0xFF}); }

bool ChipMemory::ProgramOtp(uint8_t page, uint32_t addr, const uint8_t* data, size_t length) {
  if (!InOtp(addr, length)) return false;
  uint8_t* p = Otp(page) + addr;
  for (size_t i = 0; i < length; ++i) p[i] &= data[i];
  return true;
}

void ChipMemory::EraseOtp(uint8_t page) { otp[page - 1].fill(0xFF); }

uint32_t ChipMemory::ReadWord(uint32_t addr) const { return ReadLe32(flash.data() + addr); }

void ChipMemory::WriteWord(uint32_t addr, uint32_t value) { WriteLe32(flash.data() + addr, value); }

PartitionRecord ChipMemory::ReadPartitionRecord() const {
  PartitionRecord r;
  uint32_t* fields[] = {&r.PartInfoValid, &r.AppAddr,       &r.AppSize,       &r.StackAddr,     &r.StackSize,
                        &r.SblAddr,       &r.SblSize,       &r.UserData2Addr, &r.UserData2Size, &r.UserData1Addr,
                        &r.UserData1Size, &r.FreeAddr,      &r.FreeSize};
  for (uint32_t i = 0; i < 13; ++i) *fields[i] = ReadWord(kPartitionRecordAddr + 4 * i);
  return r;
}

void ChipMemory::WritePartitionRecord(const PartitionRecord& r) {
  const uint32_t fields[] = {r.PartInfoValid, r.AppAddr,       r.AppSize,       r.StackAddr,     r.StackSize,
                             r.SblAddr,       r.SblSize,       r.UserData2Addr, r.UserData2Size, r.UserData1Addr,
                             r.UserData1Size, r.FreeAddr,      r.FreeSize};
  for (uint32_t i = 0; i < 13; ++i) WriteWord(kPartitionRecordAddr + 4 * i, fields[i]);
}

std::optional<ImageRegion> ChipMemory::RegionFor(uint8_t type) const {
  const PartitionRecord r = ReadPartitionRecord();
  switch (type) {
    case kTypeBoot: return ImageRegion{r.SblAddr, r.SblSize, 0};
    case kTypeStack: return ImageRegion{r.StackAddr, r.StackSize, kStackRecordAddr};
    case kTypeUserData: return ImageRegion{r.UserData1Addr, r.UserData1Size, 0};
    case kTypeApp: return ImageRegion{r.AppAddr, r.AppSize, kAppRecordAddr};
    default: return std::nullopt;
  }
}

ImageRecord ChipMemory::ReadImageRecord(uint32_t addr) const {
  const uint8_t* p = flash.data() + addr;
  ImageRecord r;
  r.valid = ReadLe32(p);
  r.crc = ReadLe16(p + 4);
  r.size = ReadLe32(p + 8);
  std::memcpy(r.name.data(), p + 12, 4);
  return r;
}

void ChipMemory::WriteImageRecord(uint32_t addr, const ImageRecord& r) {
  uint8_t bytes[kImageRecordSize];
  WriteLe32(bytes, r.valid);
  WriteLe16(bytes + 4, r.crc);
  bytes[6] = 0xFF;  // unused by the boot loader, left erased
  bytes[7] = 0xFF;
  WriteLe32(bytes + 8, r.size);
  std::memcpy(bytes + 12, r.name.data(), 4);
  ReplaceFlash(addr, bytes, sizeof bytes);
}

std::vector<uint8_t> ChipMemory::Serialize() const {
  std::vector<uint8_t> out(kStateMagic, kStateMagic + sizeof kStateMagic);
  out.reserve(out.size() + 12 + flash.size() + sizeof otp + kOtpPageCount + 4 + registers.size() * 8);
  AppendLe32(out, kFlashSize);
  out.insert(out.end(), flash.begin(), flash.end());
  AppendLe32(out, kOtpPageCount);
  AppendLe32(out, kOtpPageSize);
  for (uint32_t i = 0; i < kOtpPageCount; ++i) {
    out.insert(out.end(), otp[i].begin(), otp[i].end());
    out.push_back(otpLocked[i] ? 1 : 0);
  }
  AppendLe32(out, static_cast<uint32_t>(registers.size()));
  for (const auto& [addr, value] : registers) {
    AppendLe32(out, addr);
    AppendLe32(out, value);
  }
  return out;
}

Result<ChipMemory> ChipMemory::Deserialize(const uint8_t* data, size_t length) {
  const Error bad = MakeError(ErrorKind::kBadInput, "not a simulator state file, or one of another chip size");
  size_t pos = 0;
  auto take = [&](size_t n) -> const uint8_t* {
    if (length - pos < n) return nullptr;
    const uint8_t* p = data + pos;
    pos += n;
    return p;
  };
  const uint8_t* magic = take(sizeof kStateMagic);
  if (magic == nullptr || std::memcmp(magic, kStateMagic, sizeof kStateMagic) != 0) return bad;
  const uint8_t* p = take(4);
  if (p == nullptr || ReadLe32(p) != kFlashSize) return bad;
  ChipMemory memory;
  if ((p = take(kFlashSize)) == nullptr) return bad;
  std::memcpy(memory.flash.data(), p, kFlashSize);
  const uint8_t* count = take(4);
  const uint8_t* size = take(4);
  if (count == nullptr || size == nullptr || ReadLe32(count) != kOtpPageCount || ReadLe32(size) != kOtpPageSize) return bad;
  for (uint32_t i = 0; i < kOtpPageCount; ++i) {
    if ((p = take(kOtpPageSize + 1)) == nullptr || p[kOtpPageSize] > 1) return bad;
    std::memcpy(memory.otp[i].data(), p, kOtpPageSize);
    memory.otpLocked[i] = p[kOtpPageSize] == 1;
  }
  if ((p = take(4)) == nullptr) return bad;
  const uint32_t registerCount = ReadLe32(p);
  if ((length - pos) / 8 < registerCount) return bad;
  for (uint32_t i = 0; i < registerCount; ++i) {
    p = take(8);
    memory.registers[ReadLe32(p)] = ReadLe32(p + 4);
  }
  if (pos != length) return bad;
  return memory;
}

}  // namespace corvel::sim
