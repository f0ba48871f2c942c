#include "program/user_data_reader.h"

#include "text/hex_pairs.h"
#include "text/read_file.h"

namespace corvel::program {

Result<ImageBuffer> ReadUserDataImage(std::string_view fileText) {
  auto kept = text::CollectKeptCharacters(fileText, kMaxUserDataCharacters);
  if (!kept) {
    return MakeError(ErrorKind::kBadInput, "用户数据超过" + std::to_string(kMaxUserDataCharacters) + "个字符");
  }
  return ImageBuffer{text::DecodeHexPairs(*kept)};
}

Result<ImageBuffer> ReadUserDataImageFile(const std::string& path) {
  return text::ParseFile(path, ReadUserDataImage);
}

}  // namespace corvel::program
