#include "program/download.h"

#include <cstdio>
#include <optional>
#include <string>

#include "base/bytes.h"
#include "link/command_codes.h"
#include "link/crc16.h"
#include "program/hex_reader.h"
#include "program/image_tag.h"
#include "program/user_data_reader.h"
#include "program/verify.h"
#include "text/translation.h"

namespace corvel::program {

namespace {

// The speed-up's hints: the rate asked for, refused with a status or unanswered.
constexpr const char* kSpeedUpRefusedHint = "芯片拒绝切换到波特率%u (状态0x%02X)";
constexpr const char* kSpeedUpUnansweredHint = "芯片未回应切换到波特率%u的命令";

Result<PreparedImage> PrepareImage(const std::string& path, bool hex, ImageType type, const char* logLine) {
  Result<ImageBuffer> image = hex ? ReadHexImageFile(path) : ReadUserDataImageFile(path);
  if (!image) return image.error();
  return PreparedImage{logLine, type, std::move(image->data), ImageTag(FileTitle(path))};
}

const char* ImageStepName(ImageType type) {
  switch (type) {
    case ImageType::kApplication: return "app";
    case ImageType::kStack: return "stack";
    case ImageType::kBoot: return "boot";
    case ImageType::kUserData: return "user";
    case ImageType::kWholeChip: break;
  }
  return "image";
}

StepStatus AnswerStatus(const std::optional<link::Response>& answer) {
  if (link::Succeeded(answer)) return StepStatus::kOk;
  return answer ? StepStatus::kChipRefused : StepStatus::kNoAnswer;
}

}  // namespace

Result<PreparedDownload> PrepareDownload(const DownloadChoice& choice) {
  PreparedDownload prepared;
  prepared.speedUpRate = choice.speedUpRate;
  prepared.verify = choice.verify;
  if (choice.partition) {
    if (choice.partitionRecord.empty()) return MakeError(ErrorKind::kBadInput, Tr("分区文件未加载"));
    if (choice.partitionRecord.size() > kMaxPartitionRecord) {
      return MakeError(ErrorKind::kBadInput, Tr("分区文件过长: ") + std::to_string(choice.partitionRecord.size()) +
                                                 Tr(" 字节 (最多 ") + std::to_string(kMaxPartitionRecord) + ")");
    }
    prepared.partitionRecord = choice.partitionRecord;
  }
  if (choice.access) {
    if (choice.accessRecord.empty()) return MakeError(ErrorKind::kBadInput, Tr("控制文件未加载"));
    if (choice.accessRecord.size() > kMaxAccessRecord) {
      return MakeError(ErrorKind::kBadInput, Tr("控制文件过长: ") + std::to_string(choice.accessRecord.size()) +
                                                 Tr(" 字节 (最多 ") + std::to_string(kMaxAccessRecord) + ")");
    }
    prepared.accessRecord = choice.accessRecord;
  }
  struct Step {
    const std::optional<std::string>& path;
    bool hex;
    ImageType type;
    const char* logLine;
  };
  const Step steps[] = {
      {choice.appPath, true, ImageType::kApplication, "正在下载应用固件..."},
      {choice.stackPath, true, ImageType::kStack, "正在下载stack固件..."},
      {choice.bootPath, true, ImageType::kBoot, "正在下载Boot固件..."},
      {choice.userDataPath, false, ImageType::kUserData, "正在下载user数据..."},
  };
  for (const Step& step : steps) {
    if (!step.path) continue;
    auto image = PrepareImage(*step.path, step.hex, step.type, step.logLine);
    if (!image) return image.error();
    prepared.images.push_back(std::move(*image));
  }
  return prepared;
}

void Download::SetRunning(bool running) {
  running_ = running;
  if (onRunningChanged) onRunningChanged(running);
}

void Download::Abort() {
  if (!running_) return;
  control_.remaining = 0;
  control_.aborted = true;
  if (verifier_ != nullptr) verifier_->Abort();
  SetRunning(false);
  link_.log().AppendLog(Tr("手动中断下载!"));
}

DownloadResult Download::Run(const PreparedDownload& prepared, const ProgressFn& progress) {
  control_ = TransferControl{};
  // Verify reads the partition record once, after this run wrote it.
  Verifier verifier(link_);
  verifier_ = &verifier;
  SetRunning(true);
  // Every step ends the run on failure; an abort ends it after the step in flight.
  auto result = [&]() -> DownloadResult {
    constexpr StepStatus kOk = StepStatus::kOk;
    if (prepared.speedUpRate &&
        Timed("speedup", nullptr, [&] { return SwitchRate(*prepared.speedUpRate); }) != kOk) {
      return DownloadResult::kFailed;
    }
    if (control_.aborted) return DownloadResult::kAborted;
    if (prepared.partitionRecord &&
        Timed("partition", nullptr, [&] { return WritePartition(*prepared.partitionRecord); }) != kOk) {
      return DownloadResult::kFailed;
    }
    if (control_.aborted) return DownloadResult::kAborted;
    if (prepared.accessRecord && Timed("access", nullptr, [&] { return WriteAccess(*prepared.accessRecord); }) != kOk) {
      return DownloadResult::kFailed;
    }
    const auto ended = [](StepStatus status) {
      return status == StepStatus::kInterrupted ? DownloadResult::kAborted : DownloadResult::kFailed;
    };
    for (const PreparedImage& image : prepared.images) {
      if (control_.aborted) return DownloadResult::kAborted;
      const StepStatus written = Timed(ImageStepName(image.type), &image, [&] { return WriteImage(image, progress); });
      if (written != StepStatus::kOk) return ended(written);
      if (!prepared.verify || control_.aborted) continue;
      const StepStatus verified =
          Timed(VerifyStepName(image.type), nullptr, [&] { return verifier.Verify(image, progress); });
      if (verified != StepStatus::kOk) return ended(verified);
    }
    return control_.aborted ? DownloadResult::kAborted : DownloadResult::kOk;
  }();
  verifier_ = nullptr;
  if (running_) SetRunning(false);
  return result;
}

template <class Step>
StepStatus Download::Timed(const char* name, const PreparedImage* image, Step step) {
  const uint64_t startMicros = link_.host().NowMicros();
  const StepStatus status = step();
  if (onStep) {
    const double seconds = static_cast<double>((link_.host().NowMicros() - startMicros) / 1000) * 0.001;
    const uint16_t crc = image ? link::Crc16(image->data.data(), static_cast<uint32_t>(image->data.size())) : 0;
    onStep(StepReport{name, status, seconds, image, crc});
  }
  return status;
}

StepStatus Download::WriteImage(const PreparedImage& image, const ProgressFn& progress) {
  link_.log().AppendLog(Tr(image.logLine));
  switch (TransferImage(link_, control_, image.data.data(), static_cast<uint32_t>(image.data.size()), image.tag,
                        image.type, progress)) {
    case TransferResult::kOk: return StepStatus::kOk;
    case TransferResult::kFailed: return control_.unanswered ? StepStatus::kNoAnswer : StepStatus::kChipRefused;
    case TransferResult::kAborted: return StepStatus::kInterrupted;
  }
  return StepStatus::kChipRefused;
}

StepStatus Download::SwitchRate(uint32_t rate) {
  uint8_t payload[4];
  WriteLe32(payload, rate);
  const std::optional<link::Response> answer = link_.Transact(link::cmd::kSetRate, payload, sizeof payload);
  if (!link::Succeeded(answer)) {
    char hint[128];
    if (answer) {
      std::snprintf(hint, sizeof hint, Tr(kSpeedUpRefusedHint), rate, unsigned{answer->status});
    } else {
      std::snprintf(hint, sizeof hint, Tr(kSpeedUpUnansweredHint), rate);
    }
    link_.log().AppendHint(hint);
    return AnswerStatus(answer);
  }
  // After a handshake at 230400 the chip runs its UART at twice the rate asked for.
  const uint32_t lineRate = connection_.rateClass() == 1 ? 2 * rate : rate;
  link::Host& host = link_.host();
  // Bytes still on their way out would leave at the new rate as noise. A
  // drain cut off by its limit does not stop the switch: the chip has
  // switched already.
  (void)host.DrainOutput(kRateDrainLimitMicros);
  auto changed = host.SetBaudRate(lineRate);
  if (!changed) {
    link_.log().AppendLog(Tr("无法切换到波特率") + std::to_string(lineRate) + ": " + changed.error().text);
    return StepStatus::kPort;
  }
  // The boot loader answers before it reconfigures its UART: give it time,
  // then drop what came in while both ends changed rate (it can only be
  // garbled, and a glitch of the chip's switch may arrive late).
  if (rateSettleMicros_ > 0) host.SleepMicros(rateSettleMicros_);
  host.DiscardInput();
  return StepStatus::kOk;
}

StepStatus Download::WritePartition(const std::vector<uint8_t>& record) {
  link_.log().AppendLog(Tr("正在写入分区信息..."));
  link_.log().AppendLog(Tr("文本大小：") + std::to_string(record.size()) + "Byte");
  const uint8_t erase[] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x10};  // 4 KiB from address 0
  StepStatus status = AnswerStatus(link_.Transact(link::cmd::kSectorErase, erase, sizeof erase));
  if (status == StepStatus::kOk) {
    // Address 0, then the length.
    std::vector<uint8_t> payload(6, 0x00);
    WriteLe16(payload.data() + 4, static_cast<uint16_t>(record.size()));
    payload.insert(payload.end(), record.begin(), record.end());
    status = AnswerStatus(link_.Transact(link::cmd::kWriteFlash, payload.data(), static_cast<uint16_t>(payload.size())));
  }
  link_.log().AppendLog(status == StepStatus::kOk ? Tr("分区信息写入成功!") : Tr("分区信息写入失败!"));
  return status;
}

StepStatus Download::WriteAccess(const std::vector<uint8_t>& record) {
  link_.log().AppendLog(Tr("正在写入控制访问信息..."));
  link_.log().AppendLog(Tr("文本大小：") + std::to_string(record.size()) + "Byte");
  std::vector<uint8_t> payload = {static_cast<uint8_t>(record.size())};
  payload.insert(payload.end(), record.begin(), record.end());
  const StepStatus status =
      AnswerStatus(link_.Transact(link::cmd::kWriteAccess, payload.data(), static_cast<uint16_t>(payload.size())));
  link_.log().AppendLog(status == StepStatus::kOk ? Tr("控制访问信息写入成功!") : Tr("控制访问信息写入失败!"));
  return status;
}

}  // namespace corvel::program
