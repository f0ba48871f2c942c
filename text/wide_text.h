// Windows only: the system's wide-character calls take UTF-16, the program
// holds UTF-8. One place for the conversions and the system's error texts.
#pragma once

#include <string>
#include <string_view>

namespace corvel {

std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);
// The system's text for an error code (GetLastError()), without its line end.
std::string SystemErrorText(unsigned long error);

}  // namespace corvel
