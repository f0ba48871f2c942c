#include "config/record_read.h"

#include "link/command_codes.h"
#include "text/translation.h"

namespace corvel::config {

ReadRecordResult ReadRecordToFile(link::Link& link, RecordKind kind, const std::string& path,
                                  OutputFile* written) {
  const bool partition = kind == RecordKind::kPartition;
  const size_t size = partition ? kPartitionRecordSize : kAccessRecordSize;
  // Address (0 or 0x100), then the length, both little-endian.
  const uint8_t payload[] = {0x00, static_cast<uint8_t>(partition ? 0x00 : 0x01), 0x00, 0x00,
                             static_cast<uint8_t>(size), 0x00};
  const auto answer = link.Transact(link::cmd::kReadFlash, payload, sizeof payload, size);
  // A short answer is a failed read: its missing words were never sent.
  if (!answer || !answer->OkWith(size)) {
    link.log().AppendLog(Tr("读取文件失败!"));
    return ReadRecordResult::kChipFailed;
  }
  auto file = FormatRecordFile(kind, answer->data.data(), size);
  if (!file) {
    link.log().AppendLog(file.error().text);
    return ReadRecordResult::kFileFailed;
  }
  auto output = WriteFileAtomically(path, *file);
  if (!output) {
    link.log().AppendLog(output.error().text);
    return ReadRecordResult::kFileFailed;
  }
  if (written != nullptr) *written = *output;
  return ReadRecordResult::kOk;
}

}  // namespace corvel::config
