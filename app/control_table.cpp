#include "app/control_table.h"

namespace corvel::app {

namespace {

using K = ControlKind;
constexpr bool kShown = true;
constexpr bool kHidden = false;
constexpr bool kOn = true;
constexpr bool kOff = false;

constexpr ControlEntry kControls[] = {
    {0, K::kGroupBox, "串口操作", 13, 6, 335, 22, kShown, kOn},
    {0, K::kStatic, "端    口:", 18, 14, 40, 12, kShown, kOn},
    {0, K::kGroupBox, "日志输出", 12, 217, 336, 139, kShown, kOn},
    {1034, K::kLogEdit, "", 16, 228, 300, 124, kShown, kOn},
    {1036, K::kProgress, "", 18, 198, 266, 15, kShown, kOn},
    {0, K::kGroupBox, "握手区", 13, 29, 335, 21, kShown, kOn},
    {0, K::kStatic, "用户密码：", 17, 39, 42, 10, kShown, kOn},
    {1096, K::kEdit, "", 57, 35, 168, 14, kShown, kOn},
    {0, K::kGroupBox, "功能区", 13, 52, 335, 28, kShown, kOn},
    {1059, K::kCheckBox, "pkt", 316, 226, 27, 12, kShown, kOn},
    {1055, K::kPushButton, "读出厂信息", 75, 61, 50, 14, kShown, kOff},
    {1058, K::kPushButton, "读控制信息", 185, 61, 50, 14, kShown, kOff},
    {1060, K::kPushButton, "读分区信息", 129, 61, 50, 14, kShown, kOff},
    {0, K::kGroupBox, "固件选项", 13, 82, 335, 135, kShown, kOn},
    {1068, K::kCheckBox, "下载提速", 18, 97, 53, 8, kShown, kOn},
    {1063, K::kPushButton, "选择", 290, 108, 51, 14, kShown, kOn},
    {0, K::kStatic, "波特率:", 138, 14, 32, 13, kShown, kOn},
    {1002, K::kCombo, "", 170, 14, 56, 68, kShown, kOn},
    {1065, K::kPushButton, "连接", 290, 35, 52, 14, kShown, kOff},
    {1066, K::kPushButton, "打开串口", 290, 12, 52, 14, kShown, kOn},
    {1003, K::kCombo, "", 73, 94, 56, 104, kHidden, kOn},
    {1004, K::kSortedCombo, "", 58, 14, 56, 180, kShown, kOn},
    {1069, K::kCheckBox, "更多固件", 185, 95, 52, 8, kShown, kOn},
    {1056, K::kPushButton, "读芯片信息", 18, 61, 53, 14, kShown, kOff},
    {1090, K::kCheckBox, "分区文件:", 18, 111, 53, 10, kShown, kOn},
    {1091, K::kCheckBox, "控制文件:", 18, 125, 53, 10, kShown, kOn},
    {1092, K::kCheckBox, "boot固件:", 18, 170, 53, 10, kHidden, kOn},
    {1093, K::kCheckBox, "User数据:", 18, 187, 53, 10, kHidden, kOn},
    {1012, K::kEdit, "", 73, 109, 212, 14, kShown, kOff},
    {1013, K::kEdit, "", 73, 123, 212, 14, kShown, kOff},
    {1014, K::kEdit, "", 73, 138, 212, 14, kShown, kOff},
    {1015, K::kEdit, "", 73, 154, 212, 14, kHidden, kOff},
    {1064, K::kPushButton, "选择", 290, 123, 51, 14, kShown, kOn},
    {1067, K::kPushButton, "选择", 290, 138, 51, 14, kShown, kOn},
    {1070, K::kPushButton, "选择", 290, 184, 51, 14, kHidden, kOn},
    {1094, K::kCheckBox, "协议栈  :", 18, 155, 53, 10, kHidden, kOn},
    {1095, K::kCheckBox, "app固件 :", 18, 139, 53, 10, kShown, kOn},
    {1016, K::kEdit, "", 73, 169, 211, 14, kHidden, kOff},
    {1017, K::kEdit, "", 73, 183, 211, 14, kHidden, kOff},
    {1071, K::kPushButton, "选择", 290, 169, 51, 14, kHidden, kOn},
    {1072, K::kPushButton, "选择", 290, 154, 51, 14, kHidden, kOn},
    {1073, K::kPushButton, "download", 290, 199, 51, 14, kShown, kOff},
    {1035, K::kPushButton, "清除", 316, 238, 23, 112, kShown, kOn},
    {1103, K::kGroupBox, "扩展区", 368, 6, 94, 350, kHidden, kOn},
    {1104, K::kStatic, "选项:", 370, 18, 23, 8, kHidden, kOn},
    {1005, K::kCombo, "", 395, 18, 65, 128, kHidden, kOn},
    {1105, K::kStatic, "页数：", 370, 38, 29, 8, kHidden, kOn},
    {1006, K::kSortedCombo, "", 395, 36, 65, 59, kHidden, kOn},
    {1106, K::kStatic, "地址:", 370, 57, 22, 8, kHidden, kOn},
    {1021, K::kEdit, "", 395, 54, 65, 14, kHidden, kOn},
    {1107, K::kStatic, "数据:", 370, 77, 24, 8, kHidden, kOn},
    {1022, K::kEdit, "", 395, 75, 65, 14, kHidden, kOn},
    {1108, K::kStatic, "长度:", 370, 98, 22, 8, kHidden, kOn},
    {1023, K::kEdit, "", 395, 96, 65, 14, kHidden, kOn},
    {1109, K::kStatic, "文件:", 370, 121, 24, 8, kHidden, kOn},
    {1024, K::kEdit, "", 395, 118, 65, 14, kHidden, kOn},
    {1041, K::kPushButton, "加载文件", 369, 146, 38, 14, kHidden, kOff},
    {1042, K::kPushButton, "执行", 417, 146, 43, 14, kHidden, kOff},
    {1061, K::kPushButton, "全片擦除", 240, 61, 50, 14, kShown, kOff},
    {1062, K::kPushButton, "User擦除", 292, 61, 50, 14, kShown, kOff},
    {1074, K::kPushButton, "MAC地址", 240, 92, 50, 14, kShown, kOff},
};

}  // namespace

std::span<const ControlEntry> MainDialogControls() { return kControls; }

}  // namespace corvel::app
