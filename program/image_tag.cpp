#include "program/image_tag.h"

#include <algorithm>
#include <cstring>

#include "text/gbk.h"

namespace corvel::program {

std::string FileTitle(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  return std::string(name);
}

std::array<uint8_t, 4> ImageTag(std::string_view titleUtf8) {
  const std::string gbk = text::Utf8ToGbkReplacing(titleUtf8);
  std::array<uint8_t, 4> tag{};
  const size_t take = std::min(gbk.size(), tag.size());
  std::memcpy(tag.data(), gbk.data() + (gbk.size() - take), take);
  return tag;
}

}  // namespace corvel::program
