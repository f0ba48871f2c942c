#include "program/image_transfer.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "base/bytes.h"
#include "link/command_codes.h"
#include "link/crc16.h"
#include "text/translation.h"

namespace corvel::program {

namespace {

constexpr uint8_t kStatusTooLarge = 1;
constexpr uint8_t kStatusPartitionInvalid = 7;
constexpr uint8_t kStatusEraseFailed = 9;
constexpr uint32_t kMaxBlockSize = 291;  // a block frame must fit the 300-byte block buffer

}  // namespace

TransferResult TransferImage(link::Link& link, TransferControl& control, const uint8_t* image, uint32_t length,
                             const std::array<uint8_t, 4>& tag, ImageType type, const ProgressFn& progress,
                             uint32_t blockSize, uint8_t blockCommand) {
  log::Log& log = link.log();
  blockSize = std::clamp<uint32_t>(blockSize, 1, kMaxBlockSize);
  control.remaining = length;
  int position = 0;
  const float step = static_cast<float>(length) * 0.01f;
  const uint16_t crc = link::Crc16(image, length);
  const uint8_t typeByte = static_cast<uint8_t>(type);
  // Type, length u32, CRC u16, then the tag.
  uint8_t request[11] = {typeByte};
  WriteLe32(request + 1, length);
  WriteLe16(request + 5, crc);
  std::copy(tag.begin(), tag.end(), request + 7);

  log.AppendLog(Tr("传输文件大小：") + std::to_string(length) + "Byte");
  log.AppendLog(Tr("正在擦出flash..."));
  switch (link::StatusOf(link.Transact(link::cmd::kErase, &typeByte, 1))) {
    case kStatusEraseFailed:
      log.AppendLog(Tr("擦除失败!"));
      return TransferResult::kFailed;
    case kStatusPartitionInvalid:
      log.AppendLog(Tr("分区信息无效!"));
      return TransferResult::kFailed;
    case 0:
      log.AppendLog(Tr("falsh擦除完成!"));
      break;
    default:  // no answer, or a status with no meaning here: go on
      break;
  }
  if (control.aborted) return TransferResult::kAborted;

  log.AppendLog(Tr("正在请求传输..."));
  switch (link::StatusOf(link.Transact(link::cmd::kRequestTransfer, request, sizeof request))) {
    case kStatusPartitionInvalid:
      log.AppendLog(Tr("分区信息无效!"));
      return TransferResult::kFailed;
    case kStatusTooLarge:
      log.AppendLog(Tr("传输文件大小超出配置的flash大小，请重新划分分区参数"));
      return TransferResult::kFailed;
    case 0:
      log.AppendLog(Tr("请求传输成功正在下载..."));
      break;
    default:
      break;
  }
  if (control.aborted) return TransferResult::kAborted;

  const uint64_t startMicros = link.host().NowMicros();
  uint16_t blockNumber = 0;
  std::array<uint8_t, kMaxBlockSize + 2> payload{};  // block number, then the data
  uint32_t offset = 0;
  while (control.remaining > 0) {
    const uint32_t n = std::min(blockSize, control.remaining);
    control.remaining -= n;
    ++blockNumber;
    payload[0] = static_cast<uint8_t>(blockNumber >> 8);
    payload[1] = static_cast<uint8_t>(blockNumber & 0xFF);
    std::copy_n(image + offset, n, payload.begin() + 2);
    offset += n;
    (void)link.Send(blockCommand, payload.data(), static_cast<uint16_t>(n + 2));

    const float sent = static_cast<float>(blockNumber) * static_cast<float>(blockSize);
    while (sent - static_cast<float>(position) * step > -0.003f) {
      if (progress) progress(position, offset, length);
      ++position;
      link.host().PumpMessages();
    }

    const std::optional<link::Response> answer = link.Await(link::kBlockTimeoutSeconds);
    if (!link::Succeeded(answer)) {
      control.unanswered = !answer;
      log.AppendLog(Tr("编程失败!"));
      return TransferResult::kFailed;
    }
  }
  if (control.aborted) return TransferResult::kAborted;

  log.AppendLog(Tr("文件传输结束:编程成功!"));
  const double seconds = static_cast<double>((link.host().NowMicros() - startMicros) / 1000) * 0.001;
  char elapsed[48];
  std::snprintf(elapsed, sizeof elapsed, Tr("下载耗时:%0.4fs"), seconds);
  log.AppendLog(elapsed);
  return TransferResult::kOk;
}

}  // namespace corvel::program
