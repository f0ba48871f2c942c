#include "program/verify.h"

#include <algorithm>
#include <cstdio>

#include "base/bytes.h"
#include "link/command_codes.h"
#include "text/translation.h"

namespace corvel::program {

namespace {

// The verify's lines; "正在校验..." mirrors the download's "正在下载...".
constexpr const char* kVerifyingAppLine = "正在校验应用固件...";
constexpr const char* kVerifyingStackLine = "正在校验stack固件...";
constexpr const char* kVerifyingBootLine = "正在校验Boot固件...";
constexpr const char* kVerifyingUserLine = "正在校验user数据...";
constexpr const char* kMatchLine = "校验成功!";
constexpr const char* kMismatchLine = "校验失败: 地址0x%08X 芯片0x%02X 文件0x%02X";
constexpr const char* kPartitionReadFailedLine = "读取分区信息失败!";
constexpr const char* kPartitionInvalidLine = "芯片分区信息无效, 无法校验!";
constexpr const char* kTooLongLine = "文件长度%u大于芯片分区长度%u, 无法校验!";

// Byte offsets of the partition record's words.
constexpr size_t kPartInfoValidOffset = 0;
constexpr size_t kAppAddrOffset = 4;
constexpr size_t kStackAddrOffset = 12;
constexpr size_t kSblAddrOffset = 20;
constexpr size_t kUserData1AddrOffset = 36;
// Each size word follows its address word.
constexpr size_t kSizeAfterAddr = 4;

const char* VerifyingLine(ImageType type) {
  switch (type) {
    case ImageType::kApplication: return Tr(kVerifyingAppLine);
    case ImageType::kStack: return Tr(kVerifyingStackLine);
    case ImageType::kBoot: return Tr(kVerifyingBootLine);
    case ImageType::kUserData:
    case ImageType::kWholeChip: break;
  }
  return Tr(kVerifyingUserLine);
}

StepStatus ReadFailure(FlashReadStatus status) {
  return status == FlashReadStatus::kNoAnswer ? StepStatus::kNoAnswer : StepStatus::kChipRefused;
}

}  // namespace

std::optional<FlashRegion> RegionOf(const uint8_t* record, ImageType type) {
  if (ReadLe32(record + kPartInfoValidOffset) != kPartitionValid) return std::nullopt;
  size_t at = 0;
  switch (type) {
    case ImageType::kApplication: at = kAppAddrOffset; break;
    case ImageType::kStack: at = kStackAddrOffset; break;
    case ImageType::kBoot: at = kSblAddrOffset; break;
    case ImageType::kUserData: at = kUserData1AddrOffset; break;
    case ImageType::kWholeChip: return std::nullopt;
  }
  return FlashRegion{ReadLe32(record + at), ReadLe32(record + at + kSizeAfterAddr)};
}

const char* VerifyStepName(ImageType type) {
  switch (type) {
    case ImageType::kApplication: return "verify-app";
    case ImageType::kStack: return "verify-stack";
    case ImageType::kBoot: return "verify-boot";
    case ImageType::kUserData: return "verify-user";
    case ImageType::kWholeChip: break;
  }
  return "verify";
}

StepStatus Verifier::ReadPartition() {
  if (partition_) return StepStatus::kOk;
  const uint8_t request[] = {0x00, 0x00, 0x00, 0x00, kPartitionRecordSize, 0x00};  // address 0, then the length
  const auto answer = link_.Transact(link::cmd::kReadFlash, request, sizeof request, kPartitionRecordSize);
  if (!answer || !answer->OkWith(kPartitionRecordSize)) {
    link_.log().AppendLog(Tr(kPartitionReadFailedLine));
    return answer ? StepStatus::kChipRefused : StepStatus::kNoAnswer;
  }
  partition_.emplace();
  std::copy_n(answer->data.begin(), kPartitionRecordSize, partition_->begin());
  return StepStatus::kOk;
}

StepStatus Verifier::Verify(const PreparedImage& image, const ProgressFn& progress) {
  if (reader_.aborted()) return StepStatus::kInterrupted;
  log::Log& log = link_.log();
  log.AppendLog(VerifyingLine(image.type));
  if (const StepStatus read = ReadPartition(); read != StepStatus::kOk) return read;
  const std::optional<FlashRegion> region = RegionOf(partition_->data(), image.type);
  if (!region) {
    log.AppendLog(Tr(kPartitionInvalidLine));
    return StepStatus::kChipRefused;
  }
  const auto length = static_cast<uint32_t>(image.data.size());
  char line[128];
  if (length > region->size) {
    std::snprintf(line, sizeof line, Tr(kTooLongLine), static_cast<unsigned>(length), static_cast<unsigned>(region->size));
    log.AppendLog(line);
    return StepStatus::kChipRefused;
  }

  uint32_t differsAt = 0;
  uint8_t chipByte = 0;
  const uint8_t* file = image.data.data();
  const FlashReadResult read = reader_.Read(
      region->address, length,
      [&](uint32_t address, const uint8_t* data, uint32_t count) {
        const uint8_t* expected = file + (address - region->address);
        for (uint32_t i = 0; i < count; ++i) {
          if (data[i] == expected[i]) continue;
          differsAt = address + i;
          chipByte = data[i];
          return false;
        }
        return true;
      },
      progress);
  switch (read.status) {
    case FlashReadStatus::kOk:
      log.AppendLog(Tr(kMatchLine));
      return StepStatus::kOk;
    case FlashReadStatus::kStopped:
      std::snprintf(line, sizeof line, Tr(kMismatchLine), static_cast<unsigned>(differsAt), unsigned{chipByte},
                    unsigned{file[differsAt - region->address]});
      log.AppendLog(line);
      return StepStatus::kMismatch;
    case FlashReadStatus::kInterrupted: return StepStatus::kInterrupted;
    case FlashReadStatus::kRefused:
    case FlashReadStatus::kNoAnswer: break;
  }
  LogReadFailure(log, read.address);
  return ReadFailure(read.status);
}

StepStatus Verifier::VerifyAll(const std::vector<PreparedImage>& images, const ProgressFn& progress) {
  for (const PreparedImage& image : images) {
    const uint64_t startMicros = link_.host().NowMicros();
    const StepStatus status = Verify(image, progress);
    if (onStep) {
      const double seconds = static_cast<double>((link_.host().NowMicros() - startMicros) / 1000) * 0.001;
      onStep(StepReport{VerifyStepName(image.type), status, seconds, nullptr, 0});
    }
    if (status != StepStatus::kOk) return status;
  }
  return StepStatus::kOk;
}

}  // namespace corvel::program
