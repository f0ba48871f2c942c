// Ports are the values under HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM
// (each a COM name, whatever driver made it); SetupAPI adds, where the device
// is in the Ports class, its friendly name, maker, driver service and USB ids.
// The roots of the POSIX listing have no meaning here.
// clang-format off
#include <windows.h>
#include <devguid.h>
#include <setupapi.h>
// clang-format on

#include <algorithm>
#include <cwctype>
#include <map>
#include <tuple>

#include "serial/port_list.h"
#include "text/wide_text.h"

namespace corvel::serial {
namespace {

// A string value as the registry holds it, without its terminating zeros.
std::wstring Trimmed(const wchar_t* data, size_t length) {
  std::wstring text(data, length);
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

std::vector<std::wstring> RegisteredPorts() {
  std::vector<std::wstring> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return names;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t valueName[256];
    DWORD nameLength = 256;
    wchar_t data[256];
    DWORD dataBytes = sizeof data;
    DWORD type = 0;
    const LONG status = RegEnumValueW(key, index, valueName, &nameLength, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataBytes);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || type != REG_SZ) continue;
    std::wstring name = Trimmed(data, dataBytes / sizeof(wchar_t));
    if (!name.empty()) names.push_back(std::move(name));
  }
  RegCloseKey(key);
  return names;
}

std::wstring DeviceProperty(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
  wchar_t buffer[512];
  DWORD type = 0;
  DWORD size = 0;
  if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, property, &type, reinterpret_cast<BYTE*>(buffer),
                                         sizeof buffer, &size)) {
    return {};
  }
  // A multi-string (the hardware ids) keeps only its first entry.
  return std::wstring(buffer, wcsnlen(buffer, size / sizeof(wchar_t)));
}

// "USB\VID_10C4&PID_EA60&MI_00" -> the ids and the interface.
void ReadUsbIds(const std::wstring& hardwareId, PortDetails& port) {
  std::wstring upper = hardwareId;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
  const auto hex = [&upper](const wchar_t* key, size_t digits) -> long {
    const size_t at = upper.find(key);
    if (at == std::wstring::npos) return -1;
    const std::wstring text = upper.substr(at + wcslen(key), digits);
    wchar_t* end = nullptr;
    const long value = std::wcstol(text.c_str(), &end, 16);
    return end != nullptr && *end == L'\0' && !text.empty() ? value : -1;
  };
  const long vendor = hex(L"VID_", 4);
  const long product = hex(L"PID_", 4);
  if (vendor < 0 || product < 0) return;
  port.usb = true;
  port.vendorId = static_cast<uint16_t>(vendor);
  port.productId = static_cast<uint16_t>(product);
  port.interfaceNumber = static_cast<int>(hex(L"MI_", 2));
}

// What SetupAPI says of each COM name in the Ports class.
std::map<std::wstring, PortDetails> DeviceDetails() {
  std::map<std::wstring, PortDetails> found;
  HDEVINFO devices = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return found;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
    HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    wchar_t name[256];
    DWORD bytes = sizeof name;
    DWORD type = 0;
    const bool named = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &bytes) ==
                           ERROR_SUCCESS &&
                       type == REG_SZ;
    RegCloseKey(key);
    if (!named) continue;
    PortDetails port;
    port.product = Utf8FromWide(DeviceProperty(devices, device, SPDRP_FRIENDLYNAME));
    port.manufacturer = Utf8FromWide(DeviceProperty(devices, device, SPDRP_MFG));
    port.driver = Utf8FromWide(DeviceProperty(devices, device, SPDRP_SERVICE));
    ReadUsbIds(DeviceProperty(devices, device, SPDRP_HARDWAREID), port);
    found.emplace(Trimmed(name, bytes / sizeof(wchar_t)), std::move(port));
  }
  SetupDiDestroyDeviceInfoList(devices);
  return found;
}

// COM2 before COM10: the number counts, not its first digit.
bool PortOrder(const std::string& a, const std::string& b) {
  const auto split = [](const std::string& name) {
    size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
    const std::string number = name.substr(digits);
    return std::make_tuple(name.substr(0, digits), number.size(), number);
  };
  return split(a) < split(b);
}

}  // namespace

std::vector<PortDetails> ListPortDetails(const std::string&, const std::string&) {
  const std::map<std::wstring, PortDetails> details = DeviceDetails();
  std::vector<PortDetails> ports;
  for (const std::wstring& name : RegisteredPorts()) {
    const auto found = details.find(name);
    PortDetails port = found != details.end() ? found->second : PortDetails{};
    port.path = Utf8FromWide(name);
    ports.push_back(std::move(port));
  }
  std::sort(ports.begin(), ports.end(), [](const PortDetails& a, const PortDetails& b) { return PortOrder(a.path, b.path); });
  ports.erase(std::unique(ports.begin(), ports.end(), [](const PortDetails& a, const PortDetails& b) { return a.path == b.path; }),
              ports.end());
  return ports;
}

}  // namespace corvel::serial
