// What the window needs from its port: the link's host interface, open,
// stop, and the two port notices. The real one is WindowHost over a serial
// port; tests put a scripted chip behind it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/result.h"
#include "link/host.h"
#include "link/link.h"

namespace corvel::app {

class WindowPort {
 public:
  virtual ~WindowPort() = default;

  // The seam the link runs over; lives as long as the port.
  virtual link::Host& host() = 0;
  // Where received bytes go (text mode: the console text; else frames).
  virtual void SetLink(link::Link* link) = 0;
  // Opens the port and starts its monitor; fails with the reason when the
  // device cannot be opened. A configuration step that fails goes to
  // onPortError and the port still counts as open.
  virtual Result<void> OpenPort(const std::string& path, uint32_t baud) = 0;
  // Asks the port to finish its writes and close; returns at once.
  virtual void RequestStop() = 0;
  // Set while the window closes: every wait ends at once.
  virtual void SetClosing() = 0;

  // Called on the window's thread.
  std::function<void(const std::string& text)> onPortError;
  std::function<void(const std::string& reason)> onPortLost;
};

}  // namespace corvel::app
