// The simulated chip's memories: NOR flash, three OTP pages with their locks
// and a register file, plus the records the boot loader keeps in flash.
// Plain data with the rules of the parts; no protocol, no I/O.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "base/result.h"

namespace corvel::sim {

inline constexpr uint32_t kFlashSize = 512 * 1024;
inline constexpr uint32_t kPageSize = 256;
inline constexpr uint32_t kSectorSize = 4096;
inline constexpr uint32_t kOtpPageCount = 3;
inline constexpr uint32_t kOtpPageSize = 1024;
inline constexpr uint32_t kValidFlag = 0xD3912DD4;

inline constexpr uint32_t kPartitionRecordAddr = 0x000;
inline constexpr uint32_t kPartitionRecordSize = 52;
inline constexpr uint32_t kAccessRecordAddr = 0x100;
inline constexpr uint32_t kAccessRecordSize = 28;
inline constexpr uint32_t kOtaRecordAddr = 0x200;
inline constexpr uint32_t kStackRecordAddr = 0x300;
inline constexpr uint32_t kAppRecordAddr = 0x400;
inline constexpr uint32_t kImageRecordSize = 16;
inline constexpr uint32_t kSerialNumberOffset = 0x48;  // in OTP page 1

// Image types of the erase (0x20) and transfer (0x23) commands.
inline constexpr uint8_t kTypeWholeChip = 0;
inline constexpr uint8_t kTypeBoot = 1;
inline constexpr uint8_t kTypeStack = 2;
inline constexpr uint8_t kTypeUserData = 3;
inline constexpr uint8_t kTypeApp = 4;

struct PartitionRecord {
  uint32_t PartInfoValid = kValidFlag;
  uint32_t AppAddr = 0x16000;
  uint32_t AppSize = 0x32000;
  uint32_t StackAddr = 0x2000;
  uint32_t StackSize = 0x14000;
  uint32_t SblAddr = 0x1000;
  uint32_t SblSize = 0x1000;
  uint32_t UserData2Addr = 0x7A000;
  uint32_t UserData2Size = 0x1000;
  uint32_t UserData1Addr = 0x7B000;
  uint32_t UserData1Size = 0x5000;
  uint32_t FreeAddr = 0x48000;
  uint32_t FreeSize = 0x32000;
};

struct ImageRecord {
  uint32_t valid = 0xFFFFFFFF;
  uint16_t crc = 0xFFFF;
  uint32_t size = 0xFFFFFFFF;
  std::array<uint8_t, 4> name{0xFF, 0xFF, 0xFF, 0xFF};
};

// Where an image type lives and which record describes it (0: none).
struct ImageRegion {
  uint32_t addr = 0;
  uint32_t size = 0;
  uint32_t recordAddr = 0;
};

class ChipMemory {
 public:
  // The state of a chip fresh from the factory: the default partition record,
  // the access record, a small valid application and protocol stack with
  // their records, and the serial number in OTP page 1.
  static ChipMemory Factory(uint32_t serialNumber);
  // The serial number in OTP page 1, as the factory writes it.
  void SetSerialNumber(uint32_t serialNumber);

  // Erased flash and OTP, no records, no registers.
  ChipMemory();

  // Bounds checks: true when [addr, addr + length) lies inside the memory.
  static bool InFlash(uint64_t addr, uint64_t length) { return addr + length <= kFlashSize; }
  static bool InOtp(uint64_t addr, uint64_t length) { return addr + length <= kOtpPageSize; }

  // NOR programming: bits can only be cleared (new = old AND data).
  bool ProgramFlash(uint32_t addr, const uint8_t* data, size_t length);
  // Replaces bytes (the boot loader's own record updates).
  bool ReplaceFlash(uint32_t addr, const uint8_t* data, size_t length);
  // Sets every `unit`-sized block that [addr, addr + length) touches to 0xFF.
  bool EraseFlash(uint32_t addr, uint32_t length, uint32_t unit);
  void EraseAllFlash();

  bool ProgramOtp(uint8_t page, uint32_t addr, const uint8_t* data, size_t length);
  void EraseOtp(uint8_t page);
  uint8_t* Otp(uint8_t page) { return otp[page - 1].data(); }
  bool OtpLocked(uint8_t page) const { return otpLocked[page - 1]; }

  uint32_t ReadWord(uint32_t addr) const;
  void WriteWord(uint32_t addr, uint32_t value);  // replaces

  PartitionRecord ReadPartitionRecord() const;
  void WritePartitionRecord(const PartitionRecord& record);
  bool PartitionValid() const { return ReadWord(kPartitionRecordAddr) == kValidFlag; }
  // The region of an image type by the partition record in flash; nullopt
  // for a type without a region.
  std::optional<ImageRegion> RegionFor(uint8_t type) const;

  ImageRecord ReadImageRecord(uint32_t addr) const;
  void WriteImageRecord(uint32_t addr, const ImageRecord& record);

  // The whole state as bytes (the --state file) and back.
  std::vector<uint8_t> Serialize() const;
  static Result<ChipMemory> Deserialize(const uint8_t* data, size_t length);

  std::vector<uint8_t> flash;
  std::array<std::array<uint8_t, kOtpPageSize>, kOtpPageCount> otp{};
  std::array<bool, kOtpPageCount> otpLocked{};
  std::map<uint32_t, uint32_t> registers;
};

}  // namespace corvel::sim
