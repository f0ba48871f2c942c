#include "serial/serial_port.h"

namespace corvel::serial {

std::string FormatPortError(const std::string& step, const std::string& text, const std::string& path) {
  return "WARNING:  " + step + " Failed with the following error: \n" + text + "\nPort: " + path + "\n";
}

}  // namespace corvel::serial
