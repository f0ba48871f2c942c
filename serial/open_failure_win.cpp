// The cause of an open failure on Windows: the COM ports that exist for a
// missing one, the holder for a busy one as far as the system tells (it names
// no process), the system's text for the rest. There are no groups or device
// modes to advise on; the roots of the POSIX lookups have no meaning here.
#include "serial/open_failure.h"
#include "serial/open_failure_text.h"
#include "serial/port_list.h"

namespace corvel::serial {

std::string DescribeOpenFailure(const std::string& path, const Error& error, const SystemRoots&) {
  switch (error.kind) {
    case ErrorKind::kPermission:
      return Fill(says::kRefused, {path, error.text});
    case ErrorKind::kBusy:
      return Fill(says::kHeldByAnother, {path});
    case ErrorKind::kNotFound: {
      const std::vector<std::string> ports = ListPorts();
      if (ports.empty()) return Fill(says::kMissingNoPorts, {path});
      return Fill(says::kMissing, {path, Join(ports, says::kPortSeparator)});
    }
    case ErrorKind::kNotSerialDevice:
      return Fill(says::kNotSerial, {path});
    case ErrorKind::kIo:
    case ErrorKind::kBadInput:
      break;
  }
  return Fill(says::kIo, {path, error.text});
}

}  // namespace corvel::serial
