#include "tools/extension_options.h"

#include <iterator>

#include "tools/extension_context.h"

namespace corvel::tools {
namespace {

using B = ExtensionBox;
using O = ExtensionOption;

// Labels as the window has always shown them, misspellings included: users
// and their notes know the options by these words.
constexpr ExtensionOptionEntry kOptions[] = {
    {O::kFullErase, "Erase Full Chip", "full-erase", "Erase the whole flash and time it", {}, false,
     detail::FullErase},
    {O::kPageErase, "Page Erase", "page-erase", "Erase LEN bytes (a multiple of 256) of flash from ADDR",
     {B::kAddress, B::kLength}, false, detail::PageErase},
    {O::kSectorErase, "Setcor Erase", "sector-erase", "Erase LEN bytes (a multiple of 4096) of flash from ADDR",
     {B::kAddress, B::kLength}, false, detail::SectorErase},
    {O::kReadFlash, "读FLASH", "read-flash", "Dump LEN (1-256) bytes of flash from ADDR", {B::kAddress, B::kLength},
     false, detail::ReadFlash},
    {O::kWriteFlash, "写FLASH", "write-flash", "Write the bytes of a load file (1-256) to flash at ADDR",
     {B::kAddress, B::kLoadFile}, false, detail::WriteFlash},
    {O::kReadRegister, "读寄存器", "read-reg", "Read the 32-bit register at ADDR", {B::kAddress}, false,
     detail::ReadRegister},
    {O::kWriteRegister, "写寄存器", "write-reg", "Write VALUE to the 32-bit register at ADDR",
     {B::kAddress, B::kData}, false, detail::WriteRegister},
    {O::kReadOtp, "读OTP", "otp-read", "Dump LEN bytes of OTP page PAGE (1-3) from ADDR (0-0x200)",
     {B::kPage, B::kAddress, B::kLength}, false, detail::ReadOtp},
    {O::kWriteOtp, "写OTP", "otp-write", "Write the bytes of a load file (1-256) to OTP page PAGE at ADDR",
     {B::kPage, B::kAddress, B::kLoadFile}, false, detail::WriteOtp},
    {O::kLockOtp, "锁定OTP", "otp-lock", "Lock OTP page PAGE for ever (asks first)", {B::kPage}, true,
     detail::LockOtp},
    {O::kEraseOtp, "擦出OTP", "otp-erase", "Erase OTP page PAGE", {B::kPage}, false, detail::EraseOtp},
};

constexpr bool RowsFollowTheEnum() {
  for (size_t i = 0; i < std::size(kOptions); ++i) {
    if (static_cast<size_t>(kOptions[i].option) != i) return false;
  }
  return true;
}
static_assert(RowsFollowTheEnum(), "an option's row is its list index");

}  // namespace

std::span<const ExtensionOptionEntry> ExtensionOptions() { return kOptions; }

const ExtensionOptionEntry* FindExtensionOption(int index) {
  if (index < 0 || index >= static_cast<int>(std::size(kOptions))) return nullptr;
  return &kOptions[index];
}

}  // namespace corvel::tools
