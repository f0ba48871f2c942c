// The language of the tool's texts. Every text is written in Chinese where it
// is produced, wrapped in Tr(); with English chosen, Tr gives the English
// rendering from the one table in english.cpp, keyed by the Chinese text. A
// format is translated as a format, so its arguments are filled in after.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace corvel {

namespace text {

enum class Language { kChinese, kEnglish };

// Read at the moment a text is produced; safe from any thread.
void SetLanguage(Language language);
Language CurrentLanguage();

// "zh" or "en"; none for anything else.
std::optional<Language> ParseLanguage(std::string_view name);
const char* LanguageName(Language language);

struct Translation {
  std::string_view chinese;
  const char* english;
};

// Every pair, in the order english.cpp lists them.
std::span<const Translation> Translations();

}  // namespace text

// The text in the current language. A Chinese text without an English
// rendering comes back as it is (a test keeps that from happening).
const char* Tr(const char* chinese);
std::string_view Tr(std::string_view chinese);

}  // namespace corvel
