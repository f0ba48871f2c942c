#include "tools/load_file.h"

#include <utility>

#include "text/read_file.h"

namespace corvel::tools {

Result<LoadedData> ParseLoadFile(std::string_view fileBytes) {
  auto bytes = text::ParseHexPairFile(fileBytes, kLoadFileLimit);
  if (!bytes) return bytes.error();
  return LoadedData{std::move(*bytes)};
}

Result<LoadedData> ReadLoadFile(const std::string& path) {
  return text::ParseFile(path, ParseLoadFile);
}

}  // namespace corvel::tools
