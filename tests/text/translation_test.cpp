// The English table against the sources: every Chinese text the tool can show
// has a rendering, every rendering has its text, and each format keeps its
// conversions.
#include <gtest/gtest.h>

#include <cinttypes>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/cjk.h"
#include "text/translation.h"

namespace corvel::text {
namespace {

namespace fs = std::filesystem;
using testing::HasCjk;

// The folders whose texts reach a user; tests and the fuzz entries do not.
constexpr const char* kSourceFolders[] = {"base", "text",    "log",   "link", "serial", "host",
                                          "sim",  "config", "program", "tools", "cli",   "app"};

// Chinese texts that stay Chinese whatever the language.
struct Exemption {
  const char* file;
  const char* prefix;
};
constexpr Exemption kExemptions[] = {
    // The record files' header comments: file content the chip's users edit.
    {"config/record_file.cpp", "/*注意事项"},
    // A font family name, not a text.
    {"app/control_table.h", "宋体"},
    // The language menu names each language in its own words.
    {"app/main_dialog.cpp", "中文"},
};

struct Literal {
  std::string file;
  int line;
  std::string text;
};

// The string literals of a C++ source, adjacent ones (and the PRI macros
// between them) joined as the compiler joins them, escapes decoded.
std::vector<Literal> Literals(const std::string& file, const std::string& source) {
  static const std::map<std::string, std::string> kMacros = {{"PRIu64", PRIu64}, {"PRIx64", PRIx64}};
  std::vector<Literal> found;
  std::string joined;
  int joinedLine = 0, line = 1;
  bool open = false;  // a literal may still join the next one
  auto finish = [&] {
    if (open) found.push_back({file, joinedLine, joined});
    open = false;
    joined.clear();
  };
  for (size_t i = 0; i < source.size();) {
    const char c = source[i];
    if (c == '\n') ++line;
    if (c == '/' && source.compare(i, 2, "//") == 0) {
      i = source.find('\n', i);
      if (i == std::string::npos) break;
      continue;
    }
    if (c == '/' && source.compare(i, 2, "/*") == 0) {
      const size_t end = source.find("*/", i + 2);
      for (size_t k = i; k < end; ++k) line += source[k] == '\n';
      i = end + 2;
      continue;
    }
    if (c == '\'') {
      for (++i; i < source.size() && source[i] != '\''; ++i) i += source[i] == '\\';
      ++i;
      finish();
      continue;
    }
    if (c == '"') {
      if (!open) joinedLine = line;
      open = true;
      for (++i; i < source.size() && source[i] != '"'; ++i) {
        if (source[i] != '\\') {
          joined.push_back(source[i]);
          continue;
        }
        const char escaped = source[++i];
        joined.push_back(escaped == 'n' ? '\n' : escaped == 'r' ? '\r' : escaped == 't' ? '\t' : escaped);
      }
      ++i;
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    if (open && (std::isalpha(static_cast<unsigned char>(c)) || c == '_')) {
      size_t end = i;
      while (end < source.size() && (std::isalnum(static_cast<unsigned char>(source[end])) || source[end] == '_')) ++end;
      if (const auto macro = kMacros.find(source.substr(i, end - i)); macro != kMacros.end()) {
        joined += macro->second;
        i = end;
        continue;
      }
    }
    finish();
    ++i;
  }
  finish();
  return found;
}

std::vector<Literal> ChineseLiterals() {
  std::vector<Literal> all;
  for (const char* folder : kSourceFolders) {
    const fs::path dir = fs::path(CORVEL_SOURCE_DIR) / folder;
    for (const auto& entry : fs::directory_iterator(dir)) {
      const std::string extension = entry.path().extension().string();
      if (extension != ".cpp" && extension != ".h") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      const std::string name = std::string(folder) + "/" + entry.path().filename().string();
      for (Literal& literal : Literals(name, text.str())) {
        if (HasCjk(literal.text)) all.push_back(std::move(literal));
      }
    }
  }
  return all;
}

bool Exempt(const Literal& literal) {
  for (const Exemption& exemption : kExemptions) {
    if (literal.file == exemption.file && literal.text.rfind(exemption.prefix, 0) == 0) return true;
  }
  return false;
}

std::set<std::string_view> Keys() {
  std::set<std::string_view> keys;
  for (const Translation& entry : Translations()) keys.insert(entry.chinese);
  return keys;
}

TEST(Translation, TheScannerJoinsLiteralsAsTheCompilerDoes) {
  const auto found = Literals("x.cpp", "f(\"甲\" PRIu64 \"乙\\n\"); // \"丙\"\n/* \"丁\" */ g('\"', \"戊\");");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].text, "甲" PRIu64 "乙\n");
  EXPECT_EQ(found[1].text, "戊");
}

TEST(Translation, EveryChineseTextHasAnEnglishRendering) {
  const auto keys = Keys();
  const auto literals = ChineseLiterals();
  ASSERT_GT(literals.size(), 100u) << "the scan found too little; is CORVEL_SOURCE_DIR right?";
  for (const Literal& literal : literals) {
    if (Exempt(literal)) continue;
    EXPECT_TRUE(keys.count(literal.text)) << literal.file << ":" << literal.line << " has no English: \""
                                          << literal.text << "\"";
  }
}

TEST(Translation, EveryRenderingHasItsTextInTheSources) {
  std::set<std::string> texts;
  for (const Literal& literal : ChineseLiterals()) texts.insert(literal.text);
  std::set<std::string_view> seen;
  for (const Translation& entry : Translations()) {
    EXPECT_TRUE(texts.count(std::string(entry.chinese))) << "no source says \"" << entry.chinese << "\"";
    EXPECT_TRUE(seen.insert(entry.chinese).second) << "twice in the table: \"" << entry.chinese << "\"";
    EXPECT_FALSE(HasCjk(entry.english)) << entry.english;
  }
}

// printf conversions, and the {} slots of the texts filled in order.
std::vector<std::string> Conversions(std::string_view text) {
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  std::vector<std::string> found;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.substr(i, 2) == "{}") {
      found.emplace_back("{}");
      ++i;
      continue;
    }
    if (text[i] != '%') continue;
    size_t end = i + 1;
    while (end < text.size() && std::string_view("-+ #0").find(text[end]) != std::string_view::npos) ++end;
    while (end < text.size() && isDigit(text[end])) ++end;
    if (end < text.size() && text[end] == '.') {
      for (++end; end < text.size() && isDigit(text[end]);) ++end;
    }
    while (end < text.size() && std::string_view("hljztL").find(text[end]) != std::string_view::npos) ++end;
    // A lone % or one before a letter printf does not know is kept whole, so
    // the two sides still have to agree on it.
    if (end < text.size()) ++end;
    found.emplace_back(text.substr(i, end - i));
    i = end - 1;
  }
  return found;
}

TEST(Translation, EachRenderingKeepsTheConversionsOfItsFormat) {
  EXPECT_EQ(Conversions("波特率%u (状态0x%02X) %0.4fs {} %" PRIu64),
            (std::vector<std::string>{"%u", "%02X", "%0.4f", "{}", "%" PRIu64}));
  for (const Translation& entry : Translations()) {
    EXPECT_EQ(Conversions(entry.chinese), Conversions(entry.english)) << entry.chinese << " / " << entry.english;
  }
}

TEST(Translation, TheLanguageChoosesTheText) {
  const char* chinese = "芯片连接成功!";
  ASSERT_EQ(CurrentLanguage(), Language::kChinese);
  EXPECT_EQ(Tr(chinese), chinese);  // the very text, not a copy
  SetLanguage(Language::kEnglish);
  EXPECT_STREQ(Tr(chinese), "Chip connected!");
  EXPECT_EQ(Tr(std::string_view("芯片断开连接!")), "Chip disconnected!");
  EXPECT_STREQ(Tr("没有这句"), "没有这句");
  SetLanguage(Language::kChinese);
  EXPECT_EQ(Tr(chinese), chinese);
}

TEST(Translation, LanguagesByName) {
  EXPECT_EQ(ParseLanguage("zh"), Language::kChinese);
  EXPECT_EQ(ParseLanguage("en"), Language::kEnglish);
  for (const char* name : {"", "EN", "english", "de"}) EXPECT_FALSE(ParseLanguage(name)) << name;
  EXPECT_STREQ(LanguageName(Language::kEnglish), "en");
  EXPECT_STREQ(LanguageName(Language::kChinese), "zh");
}

}  // namespace
}  // namespace corvel::text
