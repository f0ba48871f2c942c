// Reading, writing, locking and erasing an OTP page. The order of the
// checks shows in the log (the address before any line, the page after the
// announcement), so it is kept as it stands.
#include <algorithm>
#include <array>
#include <string>

#include "base/bytes.h"
#include "link/command_codes.h"
#include "tools/extension_context.h"
#include "text/translation.h"

namespace corvel::tools::detail {
namespace {

constexpr uint32_t kMaxOtpAddress = 512;  // inclusive
constexpr uint32_t kMaxOtpWrite = 256;
// A response frame carries at most this many data bytes after its status byte.
constexpr uint32_t kMaxOtpRead = link::kMaxResponseData;
constexpr size_t kOtpHeader = 7;  // page u8, length u16, address u32
// The lengths are refused above these limits, so the u16 field always carries
// the length that was logged.
static_assert(kMaxOtpRead <= 0xFFFF && kMaxOtpWrite <= 0xFFFF);

// 0 when no page is selected.
uint8_t PageOf(const ExtensionContext& c) {
  return c.inputs.pageIndex >= 0 && c.inputs.pageIndex <= 2 ? static_cast<uint8_t>(c.inputs.pageIndex + 1) : 0;
}

constexpr const char* kPageRefusal = "OTP 页数错误请在1-3输入!";

void PutOtpHeader(uint8_t* out, uint8_t page, uint32_t length, uint32_t address) {
  out[0] = page;
  WriteLe16(out + 1, static_cast<uint16_t>(length));
  WriteLe32(out + 3, address);
}

ExtensionOutcome SendPageCommand(ExtensionContext& c, uint8_t code, uint8_t page, const char* success,
                                 const char* failure) {
  const bool ok = link::Succeeded(c.link().Transact(code, &page, 1));
  c.Line(ok ? success : failure);
  return ok ? ExtensionOutcome::kDone : ExtensionOutcome::kFailed;
}

}  // namespace

ExtensionOutcome ReadOtp(ExtensionContext& c) {
  if (c.address > kMaxOtpAddress) return c.Refuse(Tr("OTP地址超出范围!"));
  c.Line(Tr("读取OTP!"));
  const uint8_t page = PageOf(c);
  if (page == 0) return c.Refuse(Tr(kPageRefusal));
  // More than an answer can carry would be dumped from beyond it.
  if (c.length > kMaxOtpRead) return c.Refuse(Tr("读取OTP长度参数非法，请在0-1016输入!"));
  c.Line(Tr("页数：") + std::to_string(page));
  c.Line(c.AddressLine());
  c.Line(Tr("长度: ") + c.inputs.lengthText + "Byte");
  if (c.CheckOnly()) return c.Passed();

  uint8_t payload[kOtpHeader];
  PutOtpHeader(payload, page, c.length, c.address);
  const auto answer = c.link().Transact(link::cmd::kReadOtp, payload, sizeof payload, c.length);
  // Failure and a short answer alike: no further line.
  if (!answer || !answer->OkWith(c.length)) return ExtensionOutcome::kFailed;
  c.Line(DumpLine(answer->data.data(), c.length));
  return ExtensionOutcome::kDone;
}

ExtensionOutcome WriteOtp(ExtensionContext& c) {
  if (c.address > kMaxOtpAddress) return c.Refuse(Tr("OTP地址超出范围!"));
  if (!c.inputs.loaded) return c.Refuse(Tr("选择要写入的文件"));
  c.Line(Tr("写入OTP!"));
  const uint8_t page = PageOf(c);
  if (page == 0) return c.Refuse(Tr(kPageRefusal));
  const auto& bytes = c.inputs.loaded->bytes;
  if (bytes.empty() || bytes.size() > kMaxOtpWrite) return c.Refuse(Tr("写入OTP长度参数非法，请在1-256输入!"));
  const std::string count = std::to_string(bytes.size());
  c.Line(Tr("写入OTP"));
  c.Line(c.AddressLine());
  c.Line(SizeLine(count));
  if (c.CheckOnly()) return c.Passed();

  c.result.lengthText = count;
  std::array<uint8_t, kOtpHeader + kMaxOtpWrite> payload{};
  PutOtpHeader(payload.data(), page, static_cast<uint32_t>(bytes.size()), c.address);
  std::copy(bytes.begin(), bytes.end(), payload.begin() + kOtpHeader);
  const auto length = static_cast<uint16_t>(kOtpHeader + bytes.size());
  const bool ok = link::Succeeded(c.link().Transact(link::cmd::kWriteOtp, payload.data(), length));
  c.Line(ok ? Tr("写入OTP成功") : Tr("写入OTP失败"));
  return ok ? ExtensionOutcome::kDone : ExtensionOutcome::kFailed;
}

ExtensionOutcome LockOtp(ExtensionContext& c) {
  c.Line(Tr("锁定OTP区域"));
  const uint8_t page = PageOf(c);
  if (page == 0) return c.Refuse(Tr(kPageRefusal));
  // A lock is for ever: anything but an explicit OK ends it here.
  if (!c.Confirmed()) {
    c.Flush();
    return ExtensionOutcome::kCancelled;
  }
  if (c.CheckOnly()) return c.Passed();
  return SendPageCommand(c, link::cmd::kLockOtp, page, Tr("锁定OTP成功!"), Tr("锁定OTP失败!"));
}

ExtensionOutcome EraseOtp(ExtensionContext& c) {
  c.Line(Tr("擦出OTP区域"));
  const uint8_t page = PageOf(c);
  if (page == 0) return c.Refuse(Tr(kPageRefusal));
  if (c.CheckOnly()) return c.Passed();
  return SendPageCommand(c, link::cmd::kEraseOtp, page, Tr("擦出OTP成功!"), Tr("擦出OTP失败!"));
}

}  // namespace corvel::tools::detail
