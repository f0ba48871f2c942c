// The main dialog as data: every control with its id, kind, caption, place
// and size in dialog units, and its state when the window opens. The window
// is built from this table alone; each widget's objectName is its id.
#pragma once

#include <array>
#include <cstdint>
#include <span>

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
};

// Size of the main dialog in dialog units, and how much narrower the window
// opens, which leaves the extension area outside it: 170 pixels with the
// template's own font, whose average character is 6 pixels wide; a wider
// font widens the area, and the narrowing grows with it.
inline constexpr int kDialogWidthDlu = 473;
inline constexpr int kDialogHeightDlu = 363;
inline constexpr int kExtensionAreaWidthPx = 170;
inline constexpr int kTemplateFontBaseX = 6;
inline constexpr int kDialogX = 500;
inline constexpr int kDialogY = 100;
inline constexpr int kFontPointSize = 9;
inline constexpr const char* kDialogFontFamily = "宋体";
inline constexpr const char* kWindowTitle = "Corvel_DownloadTool_V1.3";

// In template order, which is also the tab order.
std::span<const ControlEntry> MainDialogControls();

// The extension area: group box 1103 and every control inside it.
inline constexpr std::array<int, 15> kExtensionAreaIds = {1103, 1104, 1005, 1105, 1006, 1106, 1021, 1107,
                                                           1022, 1108, 1023, 1109, 1024, 1041, 1042};

// Enabled by an accepted handshake, disabled by a disconnect or a stop.
inline constexpr std::array<int, 9> kChipOperationIds = {1056, 1055, 1074, 1058, 1060, 1061, 1062, 1073, 1042};
// What opening and closing the port switch: 1065 instead of 1062.
inline constexpr std::array<int, 9> kPortButtonIds = {1056, 1055, 1058, 1060, 1061, 1073, 1042, 1065, 1074};

// The rows the more-firmware check box shows and hides.
inline constexpr std::array<int, 9> kMoreFirmwareIds = {1094, 1092, 1093, 1015, 1016, 1017, 1072, 1071, 1070};

// Combo 1006's pages; combo 1005's options come from tools/extension_options.h.
inline constexpr std::array<const char*, 3> kOtpPages = {"1", "2", "3"};

// Combo 1002, index 0 the custom entry; combo 1003, index 4 selected at start.
inline constexpr const char* kCustomRateItem = "custorm";
inline constexpr std::array<const char*, 4> kBaudRates = {"115200", "230400", "500000", "1000000"};
inline constexpr std::array<const char*, 10> kSpeedUpRates = {"230400", "256000", "460800", "460800", "500000",
                                                             "512000", "600000", "750000", "921600", "1000000"};
inline constexpr int kSpeedUpDefaultIndex = 4;

}  // namespace corvel::app
