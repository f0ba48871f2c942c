// The texts of the open-failure lines, shared by every system's
// open_failure_*.cpp so each cause reads the same wherever it is found.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "text/translation.h"

namespace corvel::serial {

// Every text an open failure shows, on any system; each {} is filled in order.
namespace says {
constexpr std::string_view kJoinGroup = "无权打开串口 {}: 设备属于 {} 组, 请执行 sudo usermod -aG {} $USER 后重新登录";
constexpr std::string_view kLogInAgain = "无权打开串口 {}: 用户已在 {} 组中, 但本次登录尚未生效, 请重新登录";
constexpr std::string_view kInstallRule =
    "无权打开串口 {} (属主 {}, 权限 {}): 请把 udev/70-corvel.rules 复制到 /etc/udev/rules.d/ "
    "(安装包已放在 /lib/udev/rules.d/70-corvel.rules), 然后重新插入设备";
constexpr std::string_view kRefused = "无权打开串口 {}: {}";
constexpr std::string_view kHeldBy = "串口 {} 正被进程 {} 占用, 请先关闭该程序";
constexpr std::string_view kHolder = "{} ({})";
constexpr std::string_view kHolderSeparator = "、";
constexpr std::string_view kHeldByAnother = "串口 {} 正被其他程序占用, 请先关闭该程序";
constexpr std::string_view kMissing = "没有找到串口 {}, 现有串口: {}";
constexpr std::string_view kPortSeparator = ", ";
constexpr std::string_view kMissingNoPorts = "没有找到串口 {}, 本机没有串口";
constexpr std::string_view kDirectory = "{} 是目录, 不是串口";
constexpr std::string_view kRegularFile = "{} 是普通文件, 不是串口";
constexpr std::string_view kOtherDevice = "{} 是设备但不是终端, 不是串口";
constexpr std::string_view kNotSerial = "{} 不是串口";
constexpr std::string_view kIo = "打开串口 {} 出错: {}";
}  // namespace says

// Fills the current language's rendering of a Chinese pattern.
inline std::string Fill(std::string_view chinese, std::initializer_list<std::string_view> values) {
  const std::string_view pattern = Tr(chinese);
  std::string out;
  auto value = values.begin();
  for (size_t at = 0;;) {
    const size_t slot = pattern.find("{}", at);
    if (slot == std::string_view::npos || value == values.end()) {
      out.append(pattern.substr(at));
      return out;
    }
    out.append(pattern.substr(at, slot - at)).append(*value++);
    at = slot + 2;
  }
}

inline std::string Join(const std::vector<std::string>& parts, std::string_view separator) {
  std::string out;
  for (const std::string& part : parts) {
    if (!out.empty()) out.append(separator);
    out.append(part);
  }
  return out;
}

}  // namespace corvel::serial
