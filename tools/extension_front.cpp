// The execute button's common front: every input is read, normalised and
// parsed for every option, whether the option uses it or not; the checks
// belong to the operations.
#include "tools/extension_ops.h"

#include "text/hex_pairs.h"
#include "text/number_text.h"
#include "tools/extension_context.h"
#include "text/translation.h"

namespace corvel::tools {
namespace detail {

ExtensionContext::ExtensionContext(const ExtensionInputs& in, log::Log& log, link::Link* link,
                                   const ConfirmLock& confirm)
    : inputs(in),
      addressText(text::NormaliseHexText(in.addressText)),
      dataText(text::NormaliseHexText(in.dataText)),
      address(text::ParseUnsigned(addressText, 16)),
      length(text::ParseUnsigned(in.lengthText, 10)),
      value(text::ParseUnsigned(dataText, 16)),
      log_(log),
      link_(link),
      confirm_(confirm) {}

void ExtensionContext::Line(std::string line) {
  if (CheckOnly()) {
    held_.push_back(std::move(line));
  } else {
    log_.AppendLog(line);
  }
}

void ExtensionContext::Flush() {
  for (const auto& line : held_) log_.AppendLog(line);
  held_.clear();
}

ExtensionOutcome ExtensionContext::Refuse(const char* line) {
  Flush();
  log_.AppendLog(line);
  return ExtensionOutcome::kRefused;
}

bool ExtensionContext::Confirmed() {
  if (!confirm_) return CheckOnly();
  return confirm_();
}

std::string SizeLine(const std::string& sizeText) { return Tr("大小：") + sizeText + "Byte"; }

std::string DumpLine(const uint8_t* data, size_t count) {
  std::string line = Tr("读取到的内容：");
  line.reserve(line.size() + count * 3);
  text::AppendHexBytes(line, data, count);
  return line;
}

}  // namespace detail

namespace {

ExtensionResult Run(const ExtensionInputs& inputs, log::Log& log, link::Link* link, const ConfirmLock& confirm) {
  detail::ExtensionContext c(inputs, log, link, confirm);
  // Nothing selected: no line, no command.
  const ExtensionOptionEntry* option = FindExtensionOption(inputs.option);
  if (option == nullptr) return c.result;
  c.result.outcome = option->operation(c);
  return c.result;
}

}  // namespace

ExtensionResult RunExtensionOperation(link::Link& link, const ExtensionInputs& inputs, const ConfirmLock& confirm) {
  return Run(inputs, link.log(), &link, confirm);
}

ExtensionOutcome CheckExtensionInputs(const ExtensionInputs& inputs, log::Log& log, const ConfirmLock& confirm) {
  return Run(inputs, log, nullptr, confirm).outcome;
}

}  // namespace corvel::tools
