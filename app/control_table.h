// The main dialog as data: every control with its id, kind, caption, place
// and size in dialog units, and its state when the window opens. The window
// is built from this table alone; each widget's objectName is its id.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "app/stretch.h"

namespace corvel::app {

enum class ControlKind {
  kGroupBox,
  kStatic,
  kEdit,           // single line
  kLogEdit,        // multi-line, vertical scroll bar
  kProgress,
  kCheckBox,
  kPushButton,
  kCombo,          // keeps the order items are inserted in
  kSortedCombo,    // items added without an index go in sorted order
};

struct ControlEntry {
  int id;  // 0: a static item without an id
  ControlKind kind;
  const char* caption;
  int x, y, w, h;  // dialog units
  bool visible;
  bool enabled;
  Stretch stretch = Stretch::kNone;  // when the window is not the layout's size
};

// The controls' ids. Each widget's objectName is its id ("1066"), so tests
// and scripts find controls by number; code names them.

// The port row and the handshake.
inline constexpr int kPortCombo = 1004;
inline constexpr int kBaudCombo = 1002;
inline constexpr int kOpenPortButton = 1066;
inline constexpr int kPasswordEdit = 1096;
inline constexpr int kConnectButton = 1065;
// The chip operation buttons.
inline constexpr int kChipInfoButton = 1056;
inline constexpr int kFactoryInfoButton = 1055;
inline constexpr int kReadPartitionButton = 1060;
inline constexpr int kReadAccessButton = 1058;
inline constexpr int kEraseChipButton = 1061;
inline constexpr int kEraseUserButton = 1062;
inline constexpr int kMacButton = 1074;
// The firmware options: a check box, a path edit and a select button per row.
inline constexpr int kSpeedUpCheck = 1068;
inline constexpr int kSpeedUpCombo = 1003;
inline constexpr int kMoreFirmwareCheck = 1069;
inline constexpr int kPartitionCheck = 1090;
inline constexpr int kPartitionPathEdit = 1012;
inline constexpr int kSelectPartitionButton = 1063;
inline constexpr int kAccessCheck = 1091;
inline constexpr int kAccessPathEdit = 1013;
inline constexpr int kSelectAccessButton = 1064;
inline constexpr int kAppCheck = 1095;
inline constexpr int kAppPathEdit = 1014;
inline constexpr int kSelectAppButton = 1067;
inline constexpr int kStackCheck = 1094;
inline constexpr int kStackPathEdit = 1015;
inline constexpr int kSelectStackButton = 1072;
inline constexpr int kBootCheck = 1092;
inline constexpr int kBootPathEdit = 1016;
inline constexpr int kSelectBootButton = 1071;
inline constexpr int kUserDataCheck = 1093;
inline constexpr int kUserDataPathEdit = 1017;
inline constexpr int kSelectUserDataButton = 1070;
inline constexpr int kProgressBar = 1036;
inline constexpr int kDownloadButton = 1073;
// The log.
inline constexpr int kLogPaneEdit = 1034;
inline constexpr int kFrameEchoCheck = 1059;
inline constexpr int kClearLogButton = 1035;
// The extension area.
inline constexpr int kExtensionGroup = 1103;
inline constexpr int kOptionLabel = 1104;
inline constexpr int kOptionCombo = 1005;
inline constexpr int kPageLabel = 1105;
inline constexpr int kPageCombo = 1006;
inline constexpr int kAddressLabel = 1106;
inline constexpr int kAddressEdit = 1021;
inline constexpr int kDataLabel = 1107;
inline constexpr int kDataEdit = 1022;
inline constexpr int kLengthLabel = 1108;
inline constexpr int kLengthEdit = 1023;
inline constexpr int kLoadPathLabel = 1109;
inline constexpr int kLoadPathEdit = 1024;
inline constexpr int kLoadFileButton = 1041;
inline constexpr int kExecuteButton = 1042;

// Every id is below this; the dialog keeps its controls in an array this long.
inline constexpr int kControlIdLimit = 1110;

// Size of the main dialog in dialog units, and how much narrower the window
// opens, which leaves the extension area outside it: 170 pixels with the
// template's own font, whose average character is 6 pixels wide; a wider
// font widens the area, and the narrowing grows with it. The window opens
// centred on its screen, not at the template's place.
inline constexpr int kDialogWidthDlu = 473;
inline constexpr int kDialogHeightDlu = 363;
inline constexpr int kExtensionAreaWidthPx = 170;
inline constexpr int kTemplateFontBaseX = 6;
inline constexpr int kFontPointSize = 9;
// A short screen takes room from the log pane first, down to this height;
// below it the window scrolls.
inline constexpr int kMinLogPaneHeightDlu = 40;
inline constexpr const char* kDialogFontFamily = "宋体";
inline constexpr const char* kWindowTitle = "Corvel_DownloadTool_V1.3";

// In template order, which is also the tab order.
std::span<const ControlEntry> MainDialogControls();

// The extension area: its group box and every control inside it.
inline constexpr std::array<int, 15> kExtensionAreaIds = {
    kExtensionGroup, kOptionLabel,   kOptionCombo,  kPageLabel,      kPageCombo,
    kAddressLabel,   kAddressEdit,   kDataLabel,    kDataEdit,       kLengthLabel,
    kLengthEdit,     kLoadPathLabel, kLoadPathEdit, kLoadFileButton, kExecuteButton};

// Enabled by an accepted handshake, disabled by a disconnect or a stop.
inline constexpr std::array<int, 9> kChipOperationIds = {kChipInfoButton,   kFactoryInfoButton,   kMacButton,
                                                         kReadAccessButton, kReadPartitionButton, kEraseChipButton,
                                                         kEraseUserButton,  kDownloadButton,      kExecuteButton};
// What opening and closing the port switch: the connect button instead of
// the user erase button.
inline constexpr std::array<int, 9> kPortButtonIds = {kChipInfoButton,      kFactoryInfoButton, kReadAccessButton,
                                                      kReadPartitionButton, kEraseChipButton,   kDownloadButton,
                                                      kExecuteButton,       kConnectButton,     kMacButton};

// The rows the more-firmware check box shows and hides.
inline constexpr std::array<int, 9> kMoreFirmwareIds = {kStackCheck,        kBootCheck,        kUserDataCheck,
                                                        kStackPathEdit,     kBootPathEdit,     kUserDataPathEdit,
                                                        kSelectStackButton, kSelectBootButton, kSelectUserDataButton};

// The page list's items; the option list's come from tools/extension_options.h.
inline constexpr std::array<const char*, 3> kOtpPages = {"1", "2", "3"};

// The baud rate list, index 0 the custom entry; the speed-up list, index 4
// selected at start.
inline constexpr const char* kCustomRateItem = "custorm";
inline constexpr std::array<const char*, 4> kBaudRates = {"115200", "230400", "500000", "1000000"};
inline constexpr std::array<const char*, 10> kSpeedUpRates = {"230400", "256000", "460800", "460800", "500000",
                                                             "512000", "600000", "750000", "921600", "1000000"};
inline constexpr int kSpeedUpDefaultIndex = 4;

}  // namespace corvel::app
