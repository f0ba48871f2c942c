// The boot loader's command codes; an answer carries its command's code.
#pragma once

#include <array>
#include <cstdint>

namespace corvel::link::cmd {

inline constexpr uint8_t kHandshake = 0x11;        // the user password
inline constexpr uint8_t kDisconnect = 0x12;
inline constexpr uint8_t kBootVersion = 0x13;
inline constexpr uint8_t kChipId = 0x15;
inline constexpr uint8_t kErase = 0x20;            // the whole flash (type 0) or an image's region
inline constexpr uint8_t kWriteAccess = 0x22;      // the access record
inline constexpr uint8_t kRequestTransfer = 0x23;  // an image's length, CRC and tag
inline constexpr uint8_t kDataBlock = 0x24;        // one numbered block of an image
inline constexpr uint8_t kReadOtp = 0x26;
inline constexpr uint8_t kWriteOtp = 0x27;
inline constexpr uint8_t kLockOtp = 0x28;
inline constexpr uint8_t kReadRegister = 0x29;
inline constexpr uint8_t kWriteRegister = 0x2A;
inline constexpr uint8_t kPageErase = 0x2B;
inline constexpr uint8_t kWriteFlash = 0x2C;
inline constexpr uint8_t kReadFlash = 0x2D;
inline constexpr uint8_t kEraseOtp = 0x2F;
inline constexpr uint8_t kSectorErase = 0x30;
inline constexpr uint8_t kAfterHandshake = 0x81;   // sent once after an accepted handshake, not awaited
inline constexpr uint8_t kSetRate = 0x83;          // switch the link to another rate

// Answer codes that end a wait for an answer, whatever command was sent: the
// commands' own codes, and 0x14 and 0x21, which the boot loader may answer
// with although nobody sends them.
inline constexpr std::array<uint8_t, 21> kAnswerCodes = {
    kHandshake, kBootVersion, 0x14,     kChipId,       kErase,          0x21,          kWriteAccess,
    kRequestTransfer, kDataBlock, kReadOtp, kWriteOtp, kLockOtp,        kReadRegister, kWriteRegister,
    kPageErase,  kWriteFlash, kReadFlash, kEraseOtp,   kSectorErase,    kAfterHandshake, kSetRate};

// Codes the boot loader's frames may carry that end nothing.
inline constexpr std::array<uint8_t, 2> kIgnoredAnswerCodes = {0x25, 0x2E};

}  // namespace corvel::link::cmd
