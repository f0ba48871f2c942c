// What every system's port list shares: the one-line form of a port.
#include <cstdio>

#include "serial/port_list.h"

namespace corvel::serial {
namespace {

// Device texts are the vendor's: quoted, and kept on one line whatever they hold.
void AppendQuoted(std::string& line, const char* key, const std::string& text) {
  if (text.empty()) return;
  line += ' ';
  line += key;
  line += "=\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      line += '\\';
      line += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      line += escaped;
    } else {
      line += c;
    }
  }
  line += '"';
}

void AppendField(std::string& line, const char* key, const std::string& value) {
  if (value.empty()) return;
  line += ' ';
  line += key;
  line += '=';
  line += value;
}

}  // namespace

std::string DescribePort(const PortDetails& port) {
  std::string line = port.path;
  if (port.usb) {
    char ids[10];
    std::snprintf(ids, sizeof ids, "%04x:%04x", port.vendorId, port.productId);
    AppendField(line, "usb", ids);
  }
  AppendQuoted(line, "manufacturer", port.manufacturer);
  AppendQuoted(line, "product", port.product);
  AppendQuoted(line, "serial", port.serialNumber);
  if (port.interfaceNumber >= 0) AppendField(line, "interface", std::to_string(port.interfaceNumber));
  AppendField(line, "driver", port.driver);
  AppendField(line, "by-id", port.byId);
  return line;
}

std::vector<std::string> ListPorts(const std::string& sysRoot, const std::string& devRoot) {
  std::vector<std::string> paths;
  for (PortDetails& port : ListPortDetails(sysRoot, devRoot)) paths.push_back(std::move(port.path));
  return paths;
}

}  // namespace corvel::serial
