// What one run of the execute button shares between the common front and the
// operations. Internal to tools/.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tools/extension_ops.h"
#include "text/translation.h"

namespace corvel::tools::detail {

// The parsed inputs, and where lines and commands go. In a check-only run
// there is no link: lines are held back and logged only if an input is
// refused, and reaching a send means the checks passed.
class ExtensionContext {
 public:
  ExtensionContext(const ExtensionInputs& inputs, log::Log& log, link::Link* link, const ConfirmLock& confirm);

  const ExtensionInputs& inputs;
  const std::string addressText;  // normalised
  const std::string dataText;     // normalised
  const uint32_t address;
  const uint32_t length;
  const uint32_t value;
  ExtensionResult result;

  bool CheckOnly() const { return link_ == nullptr; }
  link::Link& link() { return *link_; }

  void Line(std::string line);
  // Logs the held lines and `line`; nothing is sent.
  ExtensionOutcome Refuse(const char* line);
  // A check-only run stops here: the checks passed.
  ExtensionOutcome Passed() { return ExtensionOutcome::kDone; }
  // The lock's question. A check-only run without a confirmation passes.
  bool Confirmed();
  // Logs the held lines (a check-only run that ends without sending).
  void Flush();

  std::string AddressLine() const { return Tr("地址：0x") + addressText; }

 private:
  log::Log& log_;
  link::Link* link_;
  const ConfirmLock& confirm_;
  std::vector<std::string> held_;
};

std::string SizeLine(const std::string& sizeText);
std::string DumpLine(const uint8_t* data, size_t count);

ExtensionOutcome FullErase(ExtensionContext& c);
ExtensionOutcome PageErase(ExtensionContext& c);
ExtensionOutcome SectorErase(ExtensionContext& c);
ExtensionOutcome ReadFlash(ExtensionContext& c);
ExtensionOutcome WriteFlash(ExtensionContext& c);
ExtensionOutcome ReadRegister(ExtensionContext& c);
ExtensionOutcome WriteRegister(ExtensionContext& c);
ExtensionOutcome ReadOtp(ExtensionContext& c);
ExtensionOutcome WriteOtp(ExtensionContext& c);
ExtensionOutcome LockOtp(ExtensionContext& c);
ExtensionOutcome EraseOtp(ExtensionContext& c);

}  // namespace corvel::tools::detail
