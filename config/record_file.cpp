#include "config/record_file.h"

#include <cstdio>

#include "text/gbk.h"
#include "text/hex_pairs.h"
#include "text/translation.h"

namespace corvel::config {
namespace {

// The headers as the files carry them (converted to GBK when written). The
// partition header's last line ends in CR LF, every other line in LF alone:
// files in the field look like this and are compared byte for byte.
constexpr std::string_view kPartitionHeader =
    "/*注意事项：*/\n"
    "/* 1. 行顺序不能更改*/\n"
    "/* 2. Valid有效标志：0xD3912DD4; 无效标志:其他(一般0xFFFFFFFF)*/\n"
    "/* 3. 数据按小端模式存放，如：0x1000地址需要在该文件中写成00 10 00 00*/\n"
    "/*512K版本默认分区大小：*/\n"
    "/*PartInfo:      4K      */\n"
    "/*SblSize:       4K      */\n"
    "/*StackSize:     80K     */\n"
    "/*AppSize:       200K    */\n"
    "/*FreeSize:      200K    */\n"
    "/*UserData1Size:  20K    */\n"
    "/*UserData2Size:  4K     */\n"
    "/*BLE-PART-CONFIG        */\r\n";

constexpr std::string_view kAccessHeader =
    "/*注意事项：*/\n"
    "/* 1. 行顺序不能更改*/\n"
    "/* 2. Valid有效标志：0xD3912DD4; 无效标志:其他(一般0xFFFFFFFF)*/\n"
    "/* 3. 数据按小端模式存放，如：用户密码0x5A6B7C8D在该文件中写成8D 7C 6B 5A*/\n"
    "/* 控制字描述：*/\n"
    "/*AccessInfoValid:     为0xD3912DD4时说明访问控制信息有效*/\n"
    "/*JtagDisValid:        为0xD3912DD4时说明Jtag被禁用*/\n"
    "/*UserPassword:        用户密码，默认0xFFFFFFFF*/\n"
    "/*RunOtaValid:         为0xD3912DD4时说明下次上电启动OTA程序*/\n"
    "/*Reserved:            保持0xFFFFFFFF*/\n"
    "/* BLE-ACCESS-CONFIG */\n";

constexpr std::string_view kPartitionMarker = "/*BLE-PART-CONFIG*/";
constexpr std::string_view kAccessMarker = "/*BLE-ACCESS-CONFIG*/";

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// "/" followed by "*" opens a comment, "/" preceded by "*" closes one; both
// slashes and everything inside go. A "*/" outside a comment thus loses only
// its slash.
std::string RemoveComments(std::string_view chars) {
  std::string out;
  out.reserve(chars.size());
  bool inComment = false;
  for (size_t i = 0; i < chars.size(); ++i) {
    const char c = chars[i];
    if (c == '/' && i + 1 < chars.size() && chars[i + 1] == '*') {
      inComment = true;
    } else if (c == '/' && i > 0 && chars[i - 1] == '*') {
      inComment = false;
    } else if (!inComment) {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace

Result<std::string> FormatRecordFile(RecordKind kind, const uint8_t* recordBytes, size_t n) {
  const bool partition = kind == RecordKind::kPartition;
  const size_t size = partition ? kPartitionRecordSize : kAccessRecordSize;
  if (n != size || recordBytes == nullptr) {
    return MakeError(ErrorKind::kBadInput, Tr("记录长度错误: ") + std::to_string(n) + Tr("字节, 应为") +
                                               std::to_string(size) + Tr("字节"));
  }
  auto header = text::Utf8ToGbk(partition ? kPartitionHeader : kAccessHeader);
  if (!header) return header.error();
  std::string file = std::move(*header);
  file.reserve(file.size() + size / 4 * 40);
  for (size_t word = 0; word < size / 4; ++word) {
    char digits[4];
    for (size_t k = 0; k < 4; ++k) {
      std::snprintf(digits, sizeof digits, "%02X ", recordBytes[word * 4 + k]);
      file.append(digits, 3);
    }
    // The comment begins with a blank, so two blanks follow the last byte.
    const std::string_view name = partition ? kPartitionFields[word] : kAccessFields[word];
    file.append(partition ? " /*" : " /* ");
    file.append(name);
    file.append(partition ? "*/\n" : " */\n");
  }
  return file;
}

Result<std::string> FormatPartitionFile(const uint8_t* recordBytes, size_t n) {
  return FormatRecordFile(RecordKind::kPartition, recordBytes, n);
}

Result<std::string> FormatAccessFile(const uint8_t* recordBytes, size_t n) {
  return FormatRecordFile(RecordKind::kAccess, recordBytes, n);
}

Result<std::vector<uint8_t>> LoadRecordFile(std::string_view fileBytes, RecordKind kind) {
  const auto kept = text::CollectKeptCharacters(fileBytes, kMaxRecordFileCharacters);
  if (!kept) {
    return MakeError(ErrorKind::kBadInput,
                     Tr("文件超过") + std::to_string(kMaxRecordFileCharacters) + Tr("个有效字符，未加载"));
  }
  const bool partition = kind == RecordKind::kPartition;
  if (kept->find(partition ? kPartitionMarker : kAccessMarker) == std::string::npos) {
    return MakeError(ErrorKind::kBadInput, std::string(Tr(kMarkerMissingLine)));
  }
  std::string data = RemoveComments(*kept);
  if (partition) std::erase_if(data, [](char c) { return !IsHexDigit(c); });
  return text::DecodeHexPairs(data);
}

bool IsMarkerMissing(const Error& error) {
  return error.kind == ErrorKind::kBadInput && (error.text == kMarkerMissingLine || error.text == Tr(kMarkerMissingLine));
}

}  // namespace corvel::config
