// Windows has no pseudo-terminals, so the simulated chip cannot be served
// there; --sim says so. corvel-sim on Linux serves a COM port that Wine maps
// onto a pseudo-terminal.
#include "sim/pty_server.h"
#include "text/translation.h"

namespace corvel::sim {

PtyServer::PtyServer() = default;

PtyServer::~PtyServer() = default;

Result<std::string> PtyServer::Start(const SimOptions&) {
  return MakeError(ErrorKind::kIo, Tr("本系统没有伪终端"));
}

Result<void> PtyServer::Stop() { return {}; }

void PtyServer::WaitEnded() {}

bool PtyServer::Running() { return false; }

LatenessFigures PtyServer::Lateness() { return {}; }

}  // namespace corvel::sim
