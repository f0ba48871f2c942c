// GBK conversions through the C library's iconv (glibc's "GBK" is the
// Windows code page 936, euro sign at 0x80 included).
#include <iconv.h>

#include <cerrno>

#include "text/gbk.h"
#include "text/translation.h"

namespace corvel::text {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  enum class Stop { kDone, kBadSequence, kFailed };

  // Converts from `in` on, appending to `out`, until the input is used up or
  // a sequence the converter refuses; `in` then points at that sequence.
  Stop Run(std::string_view& in, std::string& out) {
    char buffer[1024];
    while (!in.empty()) {
      char* inPtr = const_cast<char*>(in.data());
      size_t inLeft = in.size();
      char* outPtr = buffer;
      size_t outLeft = sizeof buffer;
      const size_t done = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
      out.append(buffer, static_cast<size_t>(outPtr - buffer));
      in.remove_prefix(in.size() - inLeft);
      if (done == static_cast<size_t>(-1)) {
        const int error = errno;
        if (error == E2BIG) continue;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        // EILSEQ: not valid or not representable; EINVAL: cut short at the end.
        return error == EILSEQ || error == EINVAL ? Stop::kBadSequence : Stop::kFailed;
      }
    }
    return Stop::kDone;
  }

 private:
  iconv_t cd_;
};

// Length of the well-formed UTF-8 sequence at the start of `in`, or 0.
size_t Utf8SequenceLength(std::string_view in) {
  const auto lead = static_cast<unsigned char>(in[0]);
  size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
  } else {
    return lead < 0x80 ? 1 : 0;
  }
  if (in.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(in[i]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

// glibc's converter drops the tag characters (U+E0000 to U+E007F, encoded
// F3 A0 80 80 to F3 A0 81 BF) without a word; GBK has none of them, so they
// are found here before the converter can lose them.
constexpr size_t kTagCharacterLength = 4;

bool StartsWithTagCharacter(std::string_view in) {
  return in.size() >= kTagCharacterLength && static_cast<unsigned char>(in[0]) == 0xF3 &&
         static_cast<unsigned char>(in[1]) == 0xA0 &&
         (static_cast<unsigned char>(in[2]) == 0x80 || static_cast<unsigned char>(in[2]) == 0x81) &&
         (static_cast<unsigned char>(in[3]) & 0xC0) == 0x80;
}

size_t FindTagCharacter(std::string_view in) {
  for (size_t at = in.find('\xF3'); at != std::string_view::npos; at = in.find('\xF3', at + 1)) {
    if (StartsWithTagCharacter(in.substr(at))) return at;
  }
  return std::string_view::npos;
}

// Utf8ToGbkReplacing for text without tag characters.
void ReplaceInto(Converter& converter, std::string_view utf8, std::string& out) {
  while (!utf8.empty()) {
    if (converter.ok() && converter.Run(utf8, out) == Converter::Stop::kDone) break;
    if (utf8.empty()) break;
    // Without a converter only ASCII passes.
    size_t skip = Utf8SequenceLength(utf8);
    if (!converter.ok() && skip == 1) {
      out.push_back(utf8[0]);
    } else {
      out.push_back('?');
    }
    utf8.remove_prefix(skip == 0 ? 1 : skip);
  }
}

}  // namespace

Result<std::string> Utf8ToGbk(std::string_view utf8) {
  Converter converter("GBK", "UTF-8");
  if (!converter.ok()) return MakeError(ErrorKind::kIo, Tr("系统不支持GBK编码"));
  if (FindTagCharacter(utf8) != std::string_view::npos) {
    return MakeError(ErrorKind::kBadInput, Tr("文本含有GBK无法表示的字符"));
  }
  std::string out;
  out.reserve(utf8.size());
  switch (converter.Run(utf8, out)) {
    case Converter::Stop::kDone:
      return out;
    case Converter::Stop::kBadSequence:
      return MakeError(ErrorKind::kBadInput, Tr("文本含有GBK无法表示的字符"));
    case Converter::Stop::kFailed:
      break;
  }
  return MakeError(ErrorKind::kIo, Tr("GBK编码转换失败"));
}

std::string Utf8ToGbkReplacing(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  Converter converter("GBK", "UTF-8");
  for (size_t tag = FindTagCharacter(utf8); tag != std::string_view::npos; tag = FindTagCharacter(utf8)) {
    ReplaceInto(converter, utf8.substr(0, tag), out);
    out.push_back('?');
    utf8.remove_prefix(tag + kTagCharacterLength);
  }
  ReplaceInto(converter, utf8, out);
  return out;
}

std::string GbkToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 3 / 2);
  Converter converter("UTF-8", "GBK");
  while (!bytes.empty()) {
    if (converter.ok() && converter.Run(bytes, out) == Converter::Stop::kDone) break;
    if (bytes.empty()) break;
    if (!converter.ok() && static_cast<unsigned char>(bytes[0]) < 0x80) {
      out.push_back(bytes[0]);
    } else {
      out.append(kReplacementCharacter);
    }
    bytes.remove_prefix(1);
  }
  return out;
}

}  // namespace corvel::text
