// The files of the two configuration records: a GBK comment header, then one
// line per 32-bit word, its four bytes in memory order and the field's name.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace corvel::config {

enum class RecordKind { kPartition, kAccess };

inline constexpr size_t kPartitionRecordSize = 52;
inline constexpr size_t kAccessRecordSize = 28;

// The words of each record, in order; the files name them in their comments.
inline constexpr std::array<std::string_view, 13> kPartitionFields = {
    "PartInfoValid", "AppAddr",       "AppSize",       "StackAddr",     "StackSize", "SblAddr",  "SblSize",
    "UserData2Addr", "UserData2Size", "UserData1Addr", "UserData1Size", "FreeAddr",  "FreeSize",
};
inline constexpr std::array<std::string_view, 7> kAccessFields = {
    "AccessInfoValid", "JtagDisValid", "UserPassword", "RunOtaValid", "reserved1", "reserved2", "reserved3",
};

// Default names of the files the read buttons write.
inline constexpr std::string_view kPartitionFileName = "ble_part_config.cfg";
inline constexpr std::string_view kAccessFileName = "ble_access_config.cfg";

// Largest number of characters a record file may have once blanks, carriage
// returns, line feeds and tabs are dropped.
inline constexpr size_t kMaxRecordFileCharacters = 4096;

// What a load logs when the file lacks its marker; it is also the text of
// that error (see IsMarkerMissing).
inline constexpr std::string_view kMarkerMissingLine = "文件格式错误，请重新加载!";

// The file's bytes (GBK) for a record read from the chip. `n` must be the
// record's size (52 or 28): a shorter record would leave words unwritten and
// a longer one has words without a name, so both are refused rather than
// written as a file that loads back to other bytes.
Result<std::string> FormatPartitionFile(const uint8_t* recordBytes, size_t n);
Result<std::string> FormatAccessFile(const uint8_t* recordBytes, size_t n);
Result<std::string> FormatRecordFile(RecordKind kind, const uint8_t* recordBytes, size_t n);

// The record bytes a file gives. Errors:
//  - the marker is missing: IsMarkerMissing(error) is true and its text is
//    kMarkerMissingLine; the caller logs it and empties the loaded record;
//  - more than kMaxRecordFileCharacters kept characters: a message, and the
//    caller keeps the loaded record as it was.
// Comments are removed, a partition file keeps only its hexadecimal digits,
// and the rest is read in pairs (an odd last character is dropped). Nothing
// checks the length or the values: a file may give an empty record or more
// words than the record has.
Result<std::vector<uint8_t>> LoadRecordFile(std::string_view fileBytes, RecordKind kind);

bool IsMarkerMissing(const Error& error);

}  // namespace corvel::config
