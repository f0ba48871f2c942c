// The chip's console text. Firmware built with the tool's original code page
// prints GBK, newer firmware prints UTF-8; the log shows both as UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace corvel::text {

class ConsoleTextDecoder {
 public:
  // Appends the UTF-8 rendering of `bytes` to `out`. Each run of non-ASCII
  // characters is decoded as GBK when it is not well-formed UTF-8, kept as
  // UTF-8 when it holds a character of three or four bytes (Chinese in
  // UTF-8), and otherwise follows the last run that told the two apart (GBK
  // until one did). A character cut off at the end is held back and
  // completed by the next call, so chunk boundaries never split one.
  void Decode(std::string_view bytes, std::string& out);

  // Bytes held back for the next call (at most three).
  size_t held() const { return held_.size(); }

 private:
  void DecodeWhole(std::string_view bytes, std::string& out);
  static void AppendGbk(std::string_view run, std::string& out);

  bool firmwareUtf8_ = false;
  std::string held_;
  std::string joined_;  // held bytes + the next chunk, reused between calls
};

}  // namespace corvel::text
