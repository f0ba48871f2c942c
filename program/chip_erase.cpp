#include "program/chip_erase.h"

#include "link/command_codes.h"
#include "text/translation.h"

namespace corvel::program {

namespace {
constexpr size_t kUserData1AddrOffset = 36;
constexpr size_t kUserData1SizeOffset = 40;
constexpr size_t kPartitionRead = 256;
}  // namespace

bool EraseChip(link::Link& link) {
  link.log().AppendLog(Tr("正在全片擦出flash..."));
  const uint8_t wholeChip = 0;
  const bool ok = link::Succeeded(link.Transact(link::cmd::kErase, &wholeChip, 1));
  link.log().AppendLog(ok ? Tr("擦出flash成功!") : Tr("擦出flash失败!"));
  return ok;
}

bool EraseUserArea(link::Link& link) {
  link.log().AppendLog(Tr("正在擦除user数据区域..."));
  const uint8_t read[] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x01};  // the chip's partition record: 256 bytes at 0
  const auto answer = link.Transact(link::cmd::kReadFlash, read, sizeof read, kPartitionRead);
  if (!answer || !answer->OkWith(kUserData1SizeOffset + 2)) return false;  // never act on bytes not sent
  const uint8_t* record = answer->data.data();
  // The address as stored, and the low 16 bits of the size (a 64 KiB area
  // goes out as length 0, as the boot loader's field is 16 bits wide).
  const uint8_t erase[] = {record[kUserData1AddrOffset],     record[kUserData1AddrOffset + 1],
                           record[kUserData1AddrOffset + 2], record[kUserData1AddrOffset + 3],
                           record[kUserData1SizeOffset],     record[kUserData1SizeOffset + 1]};
  const bool ok = link::Succeeded(link.Transact(link::cmd::kSectorErase, erase, sizeof erase));
  link.log().AppendLog(ok ? Tr("擦出flash成功") : Tr("擦出falsh失败"));
  return ok;
}

}  // namespace corvel::program
