#include "tools/load_file.h"

#include "text/hex_pairs.h"
#include "text/read_file.h"

namespace corvel::tools {

Result<LoadedData> ParseLoadFile(std::string_view fileBytes) {
  auto kept = text::CollectKeptCharacters(fileBytes, kMaxLoadFileCharacters);
  if (!kept) {
    return MakeError(ErrorKind::kBadInput,
                     "加载文件超过" + std::to_string(kMaxLoadFileCharacters) + "个有效字符，未加载");
  }
  return LoadedData{text::DecodeHexPairs(*kept)};
}

Result<LoadedData> ReadLoadFile(const std::string& path) {
  return text::ParseFile(path, ParseLoadFile);
}

}  // namespace corvel::tools
