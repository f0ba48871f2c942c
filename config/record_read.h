// The two read buttons: a record from the chip's flash into its commented file.
#pragma once

#include <string>

#include "config/atomic_file.h"
#include "config/record_file.h"
#include "link/link.h"

namespace corvel::config {

enum class ReadRecordResult { kOk, kChipFailed, kFileFailed };

// Reads the record and writes its file at `path` (replacing an older one, or
// leaving it untouched when anything fails). Logs "读取文件失败!" when the
// chip refuses or does not answer, and a line naming the path when the file
// cannot be written. On success, `written` (when given) says where the file went.
ReadRecordResult ReadRecordToFile(link::Link& link, RecordKind kind, const std::string& path,
                                  OutputFile* written = nullptr);

}  // namespace corvel::config
