#include "text/translation.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace corvel {

namespace text {

namespace {

std::atomic<Language> language{Language::kChinese};

// Sorted by the Chinese text once, at the first English lookup; every later
// lookup is a binary search that allocates nothing.
const std::vector<const Translation*>& SortedTranslations() {
  static const std::vector<const Translation*> sorted = [] {
    std::vector<const Translation*> pointers;
    for (const Translation& entry : Translations()) pointers.push_back(&entry);
    std::sort(pointers.begin(), pointers.end(),
              [](const Translation* a, const Translation* b) { return a->chinese < b->chinese; });
    return pointers;
  }();
  return sorted;
}

const char* Find(std::string_view chinese) {
  const auto& sorted = SortedTranslations();
  const auto at = std::lower_bound(sorted.begin(), sorted.end(), chinese,
                                   [](const Translation* entry, std::string_view key) { return entry->chinese < key; });
  if (at == sorted.end() || (*at)->chinese != chinese) return nullptr;
  return (*at)->english;
}

}  // namespace

void SetLanguage(Language chosen) { language.store(chosen, std::memory_order_relaxed); }

Language CurrentLanguage() { return language.load(std::memory_order_relaxed); }

std::optional<Language> ParseLanguage(std::string_view name) {
  if (name == "zh") return Language::kChinese;
  if (name == "en") return Language::kEnglish;
  return std::nullopt;
}

const char* LanguageName(Language chosen) { return chosen == Language::kEnglish ? "en" : "zh"; }

}  // namespace text

const char* Tr(const char* chinese) {
  if (text::CurrentLanguage() == text::Language::kChinese) return chinese;
  const char* english = text::Find(chinese);
  return english != nullptr ? english : chinese;
}

std::string_view Tr(std::string_view chinese) {
  if (text::CurrentLanguage() == text::Language::kChinese) return chinese;
  const char* english = text::Find(chinese);
  return english != nullptr ? std::string_view(english) : chinese;
}

}  // namespace corvel
