#include "program/user_data_reader.h"

#include <utility>

#include "text/read_file.h"
#include "text/translation.h"

namespace corvel::program {

Result<ImageBuffer> ReadUserDataImage(std::string_view fileText) {
  auto bytes = text::ParseHexPairFile(fileText, kUserDataLimit);
  if (!bytes) return bytes.error();
  return ImageBuffer{std::move(*bytes)};
}

Result<ImageBuffer> ReadUserDataImageFile(const std::string& path) {
  auto image = text::ParseFile(path, ReadUserDataImage);
  // Downloading nothing would still erase the user data area.
  if (image && image->data.empty()) return MakeError(ErrorKind::kBadInput, path + Tr(": 没有用户数据"));
  return image;
}

}  // namespace corvel::program
