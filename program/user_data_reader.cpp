#include "program/user_data_reader.h"

#include <utility>

#include "text/read_file.h"

namespace corvel::program {

Result<ImageBuffer> ReadUserDataImage(std::string_view fileText) {
  auto bytes = text::ParseHexPairFile(fileText, kUserDataLimit);
  if (!bytes) return bytes.error();
  return ImageBuffer{std::move(*bytes)};
}

Result<ImageBuffer> ReadUserDataImageFile(const std::string& path) {
  return text::ParseFile(path, ReadUserDataImage);
}

}  // namespace corvel::program
