// The whole flash, pages, sectors, flash bytes and registers.
#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "base/bytes.h"
#include "link/command_codes.h"
#include "tools/extension_context.h"
#include "text/translation.h"

namespace corvel::tools::detail {
namespace {

constexpr uint32_t kPageSize = 256;
constexpr uint32_t kSectorSize = 4096;
constexpr uint32_t kMaxFlashTransfer = 256;
constexpr size_t kAddressLengthPayload = 6;
// The command's length field is 16 bits wide.
constexpr uint32_t kMaxFieldLength = 0xFFFF;
static_assert(kMaxFlashTransfer <= kMaxFieldLength);

uint32_t TickMillis(link::Link& link) { return static_cast<uint32_t>(link.host().NowMicros() / 1000); }

// Address u32 then the length u16: the layout of page erase, sector erase,
// read flash and the head of write flash. Every caller has refused a length
// the field cannot carry.
void PutAddressLength(uint8_t* out, uint32_t address, uint32_t length) {
  WriteLe32(out, address);
  WriteLe16(out + 4, static_cast<uint16_t>(length));
}

// `tooLong` names the largest multiple of the block size the field carries.
ExtensionOutcome EraseBlocks(ExtensionContext& c, uint32_t blockSize, uint8_t code, const char* refusal,
                             const char* tooLong, const char* announcement) {
  if (c.length % blockSize != 0 || c.length < blockSize) return c.Refuse(refusal);
  // Only the low 16 bits would go out: a different erase from the one logged.
  if (c.length > kMaxFieldLength / blockSize * blockSize) return c.Refuse(tooLong);
  c.Line(announcement);
  c.Line(c.AddressLine());
  c.Line(SizeLine(c.inputs.lengthText));
  if (c.CheckOnly()) return c.Passed();

  uint8_t payload[kAddressLengthPayload];
  PutAddressLength(payload, c.address, c.length);
  const bool ok = link::Succeeded(c.link().Transact(code, payload, sizeof payload));
  c.Line(ok ? Tr("擦出flash成功") : Tr("擦出falsh失败"));
  return ok ? ExtensionOutcome::kDone : ExtensionOutcome::kFailed;
}

}  // namespace

ExtensionOutcome FullErase(ExtensionContext& c) {
  c.Line(Tr("正在全片擦出flash..."));
  if (c.CheckOnly()) return c.Passed();

  const uint32_t t0 = TickMillis(c.link());
  const uint8_t wholeChip = 0;
  if (!link::Succeeded(c.link().Transact(link::cmd::kErase, &wholeChip, 1))) return ExtensionOutcome::kFailed;
  c.Line(Tr("擦出flash完成!"));
  // The time covers the exchange and the completion line, as a 32-bit tick
  // difference (right across its wrap).
  const uint32_t elapsed = TickMillis(c.link()) - t0;
  char line[48];
  std::snprintf(line, sizeof line, Tr("擦出耗时:%0.4fs"), elapsed * 0.001);
  c.Line(line);
  return ExtensionOutcome::kDone;
}

ExtensionOutcome PageErase(ExtensionContext& c) {
  return EraseBlocks(c, kPageSize, link::cmd::kPageErase, Tr("长度参数非法，请输入256的整数倍且大于256!"),
                     Tr("长度参数非法，最大为65280!"), Tr("页擦出FLASH!"));
}

ExtensionOutcome SectorErase(ExtensionContext& c) {
  return EraseBlocks(c, kSectorSize, link::cmd::kSectorErase, Tr("长度参数非法，请输入4096的整数倍且大于4096!"),
                     Tr("长度参数非法，最大为61440!"), Tr("块擦出FLASH!"));
}

ExtensionOutcome ReadFlash(ExtensionContext& c) {
  if (c.length < 1 || c.length > kMaxFlashTransfer) return c.Refuse(Tr("长度参数非法，请在1-256输入!"));
  c.Line(Tr("读取FLASH!"));
  c.Line(c.AddressLine());
  c.Line(SizeLine(c.inputs.lengthText));
  if (c.CheckOnly()) return c.Passed();

  uint8_t payload[kAddressLengthPayload];
  PutAddressLength(payload, c.address, c.length);
  const auto answer = c.link().Transact(link::cmd::kReadFlash, payload, sizeof payload, c.length);
  // A short answer is a failure: the rest was never sent.
  if (!answer || !answer->OkWith(c.length)) {
    c.Line(Tr("读取失败!"));
    return ExtensionOutcome::kFailed;
  }
  c.Line(DumpLine(answer->data.data(), c.length));
  return ExtensionOutcome::kDone;
}

ExtensionOutcome WriteFlash(ExtensionContext& c) {
  // The length edit is not read: the loaded count alone says how much goes out.
  if (!c.inputs.loaded) return c.Refuse(Tr("选择要写入的文件"));
  const auto& bytes = c.inputs.loaded->bytes;
  if (bytes.empty() || bytes.size() > kMaxFlashTransfer) return c.Refuse(Tr("长度参数非法，请在1-256输入!"));
  const std::string count = std::to_string(bytes.size());
  c.Line(Tr("写入FLASH!"));
  c.Line(c.AddressLine());
  c.Line(SizeLine(count));
  if (c.CheckOnly()) return c.Passed();

  c.result.lengthText = count;
  std::array<uint8_t, kAddressLengthPayload + kMaxFlashTransfer> payload{};
  PutAddressLength(payload.data(), c.address, static_cast<uint32_t>(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), payload.begin() + kAddressLengthPayload);
  const auto length = static_cast<uint16_t>(kAddressLengthPayload + bytes.size());
  const bool ok = link::Succeeded(c.link().Transact(link::cmd::kWriteFlash, payload.data(), length));
  c.Line(ok ? Tr("写入flash成功") : Tr("写入falsh失败"));
  return ok ? ExtensionOutcome::kDone : ExtensionOutcome::kFailed;
}

ExtensionOutcome ReadRegister(ExtensionContext& c) {
  c.Line(Tr("读取寄存器!"));
  c.Line(c.AddressLine());
  if (c.CheckOnly()) return c.Passed();

  uint8_t payload[4];
  WriteLe32(payload, c.address);
  const auto answer = c.link().Transact(link::cmd::kReadRegister, payload, sizeof payload, 4);
  // Failure, or an answer without its four bytes: no line, the edit keeps its text.
  if (!answer || !answer->OkWith(4)) return ExtensionOutcome::kFailed;
  const uint32_t v = ReadLe32(answer->data.data());
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(v));
  c.result.dataText = text;
  return ExtensionOutcome::kDone;
}

ExtensionOutcome WriteRegister(ExtensionContext& c) {
  c.Line(Tr("写入寄存器!"));
  c.Line(c.AddressLine());
  c.Line(Tr("值: ") + c.dataText);
  if (c.CheckOnly()) return c.Passed();

  uint8_t payload[8];
  WriteLe32(payload, c.address);
  WriteLe32(payload + 4, c.value);
  if (!link::Succeeded(c.link().Transact(link::cmd::kWriteRegister, payload, sizeof payload))) {
    return ExtensionOutcome::kFailed;
  }
  c.Line(Tr("写入成功!"));
  return ExtensionOutcome::kDone;
}

}  // namespace corvel::tools::detail
