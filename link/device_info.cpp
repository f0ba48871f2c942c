#include "link/device_info.h"

#include <cstdio>
#include <string>

#include "link/command_codes.h"
#include "text/gbk.h"

namespace corvel::link {

namespace {

constexpr uint32_t kSerialOffset = 0x48;

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// Data the caller needs from a successful answer: a short answer counts as a
// failure rather than being read from stale buffer bytes.
bool Answered(Link& link, uint8_t status, size_t needed) {
  return status == 0 && link.ResponseDataLength() >= needed;
}

template <class... Args>
std::string Format(const char* format, Args... args) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

struct RecordStrings {
  const char* valid;
  const char* invalid;
  const char* crc;
  const char* size;
  const char* name;
};

const RecordStrings* StringsFor(ImageKind kind) {
  static constexpr RecordStrings kApp{"App_Vaild:0x%08X(有效)", "App_Vaild:0x%08X(无效)", "App_Crc  :0x%04X",
                                      "App_Size :%0.3fKByte", "App_Name :"};
  static constexpr RecordStrings kStack{"Stack_Vaild:0x%08X(有效)", "Stack_Vaild:0x%08X(无效)", "Stack_Crc  :0x%04X",
                                        "Stack_Size :%0.3fKByte", "Stack_Name :"};
  static constexpr RecordStrings kOta{"Ota_Vaild:0x%08X(有效)", "Ota_Vaild:0x%08X(无效)", "Ota_Crc  :0x%04X",
                                      "Ota_Size :%0.3fKByte", "Ota_Name :"};
  switch (kind) {
    case ImageKind::kApplication: return &kApp;
    case ImageKind::kStack: return &kStack;
    case ImageKind::kOta: return &kOta;
  }
  return nullptr;
}

}  // namespace

bool ReadChipInfo(Link& link) {
  bool ok = true;
  const uint8_t otp[] = {0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00};  // page 1, 256 bytes from 0
  uint8_t status = link.SendAndWait(cmd::kReadOtp, otp, sizeof otp);
  link.log().AppendLog("芯片信息如下：");
  if (Answered(link, status, kSerialOffset + 4)) {
    link.log().AppendLog(Format("芯片序号 :0x%08X", Le32(link.ResponseData() + kSerialOffset)));
  } else {
    ok = false;
  }

  const uint8_t zero = 0;
  status = link.SendAndWait(cmd::kChipId, &zero, 1);
  if (Answered(link, status, 4)) {
    link.log().AppendLog(Format("芯片标识 :0x%08X", Le32(link.ResponseData())));
  } else {
    ok = false;
  }

  status = link.SendAndWait(cmd::kBootVersion, &zero, 1);
  if (Answered(link, status, 2)) {
    link.log().AppendLog(Format("Boot版本 :V%d.%d", link.ResponseData()[0], link.ResponseData()[1]));
  } else {
    ok = false;
  }

  ok = ShowImageRecord(link, 0x400, ImageKind::kApplication) && ok;
  ok = ShowImageRecord(link, 0x300, ImageKind::kStack) && ok;
  ok = ShowImageRecord(link, 0x200, ImageKind::kOta) && ok;
  return ok;
}

bool ShowImageRecord(Link& link, uint32_t address, ImageKind kind) {
  const uint8_t payload[] = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                             static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24), 0x10, 0x00};
  const uint8_t status = link.SendAndWait(cmd::kReadFlash, payload, sizeof payload);
  if (!Answered(link, status, 16)) return false;
  const uint8_t* data = link.ResponseData();
  const uint32_t valid = Le32(data);
  const unsigned crc = static_cast<unsigned>(data[4] | data[5] << 8);
  const uint32_t size = Le32(data + 8);
  // Four 8-bit characters in the chip's code page; a zero byte adds nothing.
  std::string raw;
  for (int i = 12; i < 16; ++i) {
    if (data[i] != 0) raw.push_back(static_cast<char>(data[i]));
  }
  const std::string name = text::GbkToUtf8(raw);

  const RecordStrings* strings = StringsFor(kind);
  if (strings == nullptr) return true;
  link.log().AppendLog(Format(valid == kValidFlag ? strings->valid : strings->invalid, valid));
  link.log().AppendLog(Format(strings->crc, crc));
  link.log().AppendLog(Format(strings->size, size * 0.001));
  link.log().AppendLog(std::string(strings->name) + name);
  return true;
}

bool ReadOtpDump(Link& link, uint32_t address, uint16_t count, uint8_t page) {
  const uint8_t payload[] = {page,
                             static_cast<uint8_t>(count),
                             static_cast<uint8_t>(count >> 8),
                             static_cast<uint8_t>(address),
                             static_cast<uint8_t>(address >> 8),
                             static_cast<uint8_t>(address >> 16),
                             static_cast<uint8_t>(address >> 24)};
  const uint8_t status = link.SendAndWait(cmd::kReadOtp, payload, sizeof payload);
  if (!Answered(link, status, count)) {
    link.log().AppendLog("读取OTP失败!");
    return false;
  }
  link.log().AppendLog("出厂信息如下：");
  std::string line;
  const uint8_t* data = link.ResponseData();
  for (uint32_t i = 1; i <= count; ++i) {
    AppendHexBytes(line, data + i - 1, 1);
    if (i % 4 == 0) {
      link.log().AppendLog(line);
      line.clear();
    }
  }
  return true;
}

bool ReadFactoryInfo(Link& link) { return ReadOtpDump(link, 0, 256, 1); }

bool ReadMac(Link& link) {
  const uint8_t payload[] = {0x01, 0x04, 0x00, 0x48, 0x00, 0x00, 0x00};  // page 1, 4 bytes at 0x48
  const uint8_t status = link.SendAndWait(cmd::kReadOtp, payload, sizeof payload);
  if (!Answered(link, status, 4)) return false;
  const uint8_t* d = link.ResponseData();
  link.log().AppendLog(Format("蓝牙MAC：0x2B80%02X%02X%02X%02X", d[3], d[2], d[1], d[0]));
  return true;
}

}  // namespace corvel::link
