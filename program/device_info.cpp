#include "program/device_info.h"

#include <cstdio>
#include <string>
#include <utility>

#include "base/bytes.h"
#include "link/command_codes.h"
#include "text/gbk.h"
#include "text/hex_pairs.h"
#include "text/translation.h"

namespace corvel::program {

namespace {

constexpr uint32_t kSerialOffset = 0x48;
constexpr uint16_t kOtpPageSize = 256;
constexpr uint8_t kFactoryPageRead[] = {0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00};  // page 1, 256 bytes from 0

// Record page addresses, in ImageRecord order.
constexpr uint32_t kRecordAddress[] = {0x400, 0x300, 0x200};
constexpr uint16_t kRecordSize = 16;

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

const RecordStrings& StringsFor(ImageRecord record) {
  static constexpr RecordStrings kApp{"App_Vaild:0x%08X(有效)", "App_Vaild:0x%08X(无效)", "App_Crc  :0x%04X",
                                      "App_Size :%0.3fKByte", "App_Name :"};
  static constexpr RecordStrings kStack{"Stack_Vaild:0x%08X(有效)", "Stack_Vaild:0x%08X(无效)", "Stack_Crc  :0x%04X",
                                        "Stack_Size :%0.3fKByte", "Stack_Name :"};
  static constexpr RecordStrings kOta{"Ota_Vaild:0x%08X(有效)", "Ota_Vaild:0x%08X(无效)", "Ota_Crc  :0x%04X",
                                      "Ota_Size :%0.3fKByte", "Ota_Name :"};
  switch (record) {
    case ImageRecord::kApplication: return kApp;
    case ImageRecord::kStack: return kStack;
    case ImageRecord::kOta: return kOta;
  }
  return kApp;
}

}  // namespace

bool ReadChipInfo(link::Link& link, ChipIdentity* identity) {
  ChipIdentity read;
  bool ok = true;
  auto answer = link.Transact(link::cmd::kReadOtp, kFactoryPageRead, sizeof kFactoryPageRead, kOtpPageSize);
  link.log().AppendLog(Tr("芯片信息如下："));
  if (answer && answer->OkWith(kSerialOffset + 4)) {
    read.serial = ReadLe32(answer->data.data() + kSerialOffset);
    link.log().AppendLog(Format(Tr("芯片序号 :0x%08X"), *read.serial));
  } else {
    ok = false;
  }

  const uint8_t zero = 0;
  answer = link.Transact(link::cmd::kChipId, &zero, 1);
  if (answer && answer->OkWith(4)) {
    read.chipId = ReadLe32(answer->data.data());
    link.log().AppendLog(Format(Tr("芯片标识 :0x%08X"), *read.chipId));
  } else {
    ok = false;
  }

  answer = link.Transact(link::cmd::kBootVersion, &zero, 1);
  if (answer && answer->OkWith(2)) {
    read.bootVersion = Format("V%d.%d", answer->data[0], answer->data[1]);
    link.log().AppendLog(Tr("Boot版本 :") + *read.bootVersion);
  } else {
    ok = false;
  }

  ok = ShowImageRecord(link, ImageRecord::kApplication) && ok;
  ok = ShowImageRecord(link, ImageRecord::kStack) && ok;
  ok = ShowImageRecord(link, ImageRecord::kOta) && ok;
  if (identity != nullptr) *identity = std::move(read);
  return ok;
}

std::optional<uint32_t> ReadSerialNumber(link::Link& link) {
  const auto answer = link.Transact(link::cmd::kReadOtp, kFactoryPageRead, sizeof kFactoryPageRead, kOtpPageSize);
  if (!answer || !answer->OkWith(kSerialOffset + 4)) return std::nullopt;
  return ReadLe32(answer->data.data() + kSerialOffset);
}

bool ShowImageRecord(link::Link& link, ImageRecord record) {
  uint8_t payload[6];
  WriteLe32(payload, kRecordAddress[static_cast<size_t>(record)]);
  WriteLe16(payload + 4, kRecordSize);
  const auto answer = link.Transact(link::cmd::kReadFlash, payload, sizeof payload, kRecordSize);
  if (!answer || !answer->OkWith(kRecordSize)) return false;
  const uint8_t* data = answer->data.data();
  const uint32_t valid = ReadLe32(data);
  const unsigned crc = ReadLe16(data + 4);
  const uint32_t size = ReadLe32(data + 8);
  // Four 8-bit characters in the chip's code page; a zero byte adds nothing.
  std::string raw;
  for (int i = 12; i < 16; ++i) {
    if (data[i] != 0) raw.push_back(static_cast<char>(data[i]));
  }
  const std::string name = text::GbkToUtf8(raw);

  const RecordStrings& strings = StringsFor(record);
  link.log().AppendLog(Format(Tr(valid == kValidFlag ? strings.valid : strings.invalid), valid));
  link.log().AppendLog(Format(strings.crc, crc));
  link.log().AppendLog(Format(strings.size, size * 0.001));
  link.log().AppendLog(std::string(strings.name) + name);
  return true;
}

bool ReadOtpDump(link::Link& link, uint32_t address, uint16_t count, uint8_t page) {
  uint8_t payload[7] = {page};
  WriteLe16(payload + 1, count);
  WriteLe32(payload + 3, address);
  const auto answer = link.Transact(link::cmd::kReadOtp, payload, sizeof payload, count);
  if (!answer || !answer->OkWith(count)) {
    link.log().AppendLog(Tr("读取OTP失败!"));
    return false;
  }
  link.log().AppendLog(Tr("出厂信息如下："));
  std::string line;
  const uint8_t* data = answer->data.data();
  for (uint32_t i = 1; i <= count; ++i) {
    text::AppendHexBytes(line, data + i - 1, 1);
    if (i % 4 == 0) {
      link.log().AppendLog(line);
      line.clear();
    }
  }
  return true;
}

bool ReadFactoryInfo(link::Link& link) { return ReadOtpDump(link, 0, 256, 1); }

bool ReadMac(link::Link& link) {
  const uint8_t payload[] = {0x01, 0x04, 0x00, 0x48, 0x00, 0x00, 0x00};  // page 1, 4 bytes at 0x48
  const auto answer = link.Transact(link::cmd::kReadOtp, payload, sizeof payload, 4);
  if (!answer || !answer->OkWith(4)) return false;
  const uint8_t* d = answer->data.data();
  link.log().AppendLog(Format(Tr("蓝牙MAC：0x2B80%02X%02X%02X%02X"), d[3], d[2], d[1], d[0]));
  return true;
}

}  // namespace corvel::program
