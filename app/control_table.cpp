#include "app/control_table.h"

namespace corvel::app {

namespace {

using K = ControlKind;
constexpr bool kShown = true;
constexpr bool kHidden = false;
constexpr bool kOn = true;
constexpr bool kOff = false;
// The log takes a resize; what stands beside it and the extension area to
// its right keep their distance from the right edge.
constexpr Stretch kGrow = Stretch::kGrowW | Stretch::kGrowH;
constexpr Stretch kRight = Stretch::kMoveX;
constexpr Stretch kRightTall = Stretch::kMoveX | Stretch::kGrowH;

constexpr ControlEntry kControls[] = {
    {0, K::kGroupBox, "串口操作", 13, 6, 335, 22, kShown, kOn},
    {0, K::kStatic, "端    口:", 18, 14, 40, 12, kShown, kOn},
    {0, K::kGroupBox, "日志输出", 12, 217, 336, 139, kShown, kOn, kGrow},
    {kLogPaneEdit, K::kLogEdit, "", 16, 228, 300, 124, kShown, kOn, kGrow},
    {kProgressBar, K::kProgress, "", 18, 198, 266, 15, kShown, kOn},
    {0, K::kGroupBox, "握手区", 13, 29, 335, 21, kShown, kOn},
    {0, K::kStatic, "用户密码：", 17, 39, 42, 10, kShown, kOn},
    {kPasswordEdit, K::kEdit, "", 57, 35, 168, 14, kShown, kOn},
    {0, K::kGroupBox, "功能区", 13, 52, 335, 28, kShown, kOn},
    {kFrameEchoCheck, K::kCheckBox, "pkt", 316, 226, 27, 12, kShown, kOn, kRight},
    {kFactoryInfoButton, K::kPushButton, "读出厂信息", 75, 61, 50, 14, kShown, kOff},
    {kReadAccessButton, K::kPushButton, "读控制信息", 185, 61, 50, 14, kShown, kOff},
    {kReadPartitionButton, K::kPushButton, "读分区信息", 129, 61, 50, 14, kShown, kOff},
    {0, K::kGroupBox, "固件选项", 13, 82, 335, 135, kShown, kOn},
    {kSpeedUpCheck, K::kCheckBox, "下载提速", 18, 97, 53, 8, kShown, kOn},
    {kSelectPartitionButton, K::kPushButton, "选择", 290, 108, 51, 14, kShown, kOn},
    {0, K::kStatic, "波特率:", 138, 14, 32, 13, kShown, kOn},
    {kBaudCombo, K::kCombo, "", 170, 14, 56, 68, kShown, kOn},
    {kConnectButton, K::kPushButton, "连接", 290, 35, 52, 14, kShown, kOff},
    {kOpenPortButton, K::kPushButton, "打开串口", 290, 12, 52, 14, kShown, kOn},
    {kSpeedUpCombo, K::kCombo, "", 73, 94, 56, 104, kHidden, kOn},
    {kPortCombo, K::kSortedCombo, "", 58, 14, 56, 180, kShown, kOn},
    {kMoreFirmwareCheck, K::kCheckBox, "更多固件", 185, 95, 52, 8, kShown, kOn},
    {kChipInfoButton, K::kPushButton, "读芯片信息", 18, 61, 53, 14, kShown, kOff},
    {kPartitionCheck, K::kCheckBox, "分区文件:", 18, 111, 53, 10, kShown, kOn},
    {kAccessCheck, K::kCheckBox, "控制文件:", 18, 125, 53, 10, kShown, kOn},
    {kBootCheck, K::kCheckBox, "boot固件:", 18, 170, 53, 10, kHidden, kOn},
    {kUserDataCheck, K::kCheckBox, "User数据:", 18, 187, 53, 10, kHidden, kOn},
    {kPartitionPathEdit, K::kEdit, "", 73, 109, 212, 14, kShown, kOff},
    {kAccessPathEdit, K::kEdit, "", 73, 123, 212, 14, kShown, kOff},
    {kAppPathEdit, K::kEdit, "", 73, 138, 212, 14, kShown, kOff},
    {kStackPathEdit, K::kEdit, "", 73, 154, 212, 14, kHidden, kOff},
    {kSelectAccessButton, K::kPushButton, "选择", 290, 123, 51, 14, kShown, kOn},
    {kSelectAppButton, K::kPushButton, "选择", 290, 138, 51, 14, kShown, kOn},
    {kSelectUserDataButton, K::kPushButton, "选择", 290, 184, 51, 14, kHidden, kOn},
    {kStackCheck, K::kCheckBox, "协议栈  :", 18, 155, 53, 10, kHidden, kOn},
    {kAppCheck, K::kCheckBox, "app固件 :", 18, 139, 53, 10, kShown, kOn},
    {kBootPathEdit, K::kEdit, "", 73, 169, 211, 14, kHidden, kOff},
    {kUserDataPathEdit, K::kEdit, "", 73, 183, 211, 14, kHidden, kOff},
    {kSelectBootButton, K::kPushButton, "选择", 290, 169, 51, 14, kHidden, kOn},
    {kSelectStackButton, K::kPushButton, "选择", 290, 154, 51, 14, kHidden, kOn},
    {kDownloadButton, K::kPushButton, "download", 290, 199, 51, 14, kShown, kOff},
    {kClearLogButton, K::kPushButton, "清除", 316, 238, 23, 112, kShown, kOn, kRightTall},
    {kExtensionGroup, K::kGroupBox, "扩展区", 368, 6, 94, 350, kHidden, kOn, kRightTall},
    {kOptionLabel, K::kStatic, "选项:", 370, 18, 23, 8, kHidden, kOn, kRight},
    {kOptionCombo, K::kCombo, "", 395, 18, 65, 128, kHidden, kOn, kRight},
    {kPageLabel, K::kStatic, "页数：", 370, 38, 29, 8, kHidden, kOn, kRight},
    {kPageCombo, K::kSortedCombo, "", 395, 36, 65, 59, kHidden, kOn, kRight},
    {kAddressLabel, K::kStatic, "地址:", 370, 57, 22, 8, kHidden, kOn, kRight},
    {kAddressEdit, K::kEdit, "", 395, 54, 65, 14, kHidden, kOn, kRight},
    {kDataLabel, K::kStatic, "数据:", 370, 77, 24, 8, kHidden, kOn, kRight},
    {kDataEdit, K::kEdit, "", 395, 75, 65, 14, kHidden, kOn, kRight},
    {kLengthLabel, K::kStatic, "长度:", 370, 98, 22, 8, kHidden, kOn, kRight},
    {kLengthEdit, K::kEdit, "", 395, 96, 65, 14, kHidden, kOn, kRight},
    {kLoadPathLabel, K::kStatic, "文件:", 370, 121, 24, 8, kHidden, kOn, kRight},
    {kLoadPathEdit, K::kEdit, "", 395, 118, 65, 14, kHidden, kOn, kRight},
    {kLoadFileButton, K::kPushButton, "加载文件", 369, 146, 38, 14, kHidden, kOff, kRight},
    {kExecuteButton, K::kPushButton, "执行", 417, 146, 43, 14, kHidden, kOff, kRight},
    {kEraseChipButton, K::kPushButton, "全片擦除", 240, 61, 50, 14, kShown, kOff},
    {kEraseUserButton, K::kPushButton, "User擦除", 292, 61, 50, 14, kShown, kOff},
    {kMacButton, K::kPushButton, "MAC地址", 240, 92, 50, 14, kShown, kOff},
};

constexpr bool IdsBelowTheLimit() {
  for (const ControlEntry& entry : kControls) {
    if (entry.id < 0 || entry.id >= kControlIdLimit) return false;
  }
  return true;
}
static_assert(IdsBelowTheLimit(), "kControlIdLimit must exceed every id");

}  // namespace

std::span<const ControlEntry> MainDialogControls() { return kControls; }

}  // namespace corvel::app
