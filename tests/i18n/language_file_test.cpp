// The language catalogue and the language-file parser, on real files in a
// temporary folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "i18n/interface_strings.h"
#include "i18n/language_catalogue.h"
#include "i18n/language_file.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

using testsupport::TempRoot;
using testsupport::WriteFile;

TEST(LanguageCatalogue, EntriesMenusAndLookups) {
  ASSERT_EQ(kLanguages.size(), 143u);
  std::set<std::string_view> abbreviations, names;
  for (const Language& l : kLanguages) {
    abbreviations.insert(l.abbreviation);
    names.insert(l.displayName);
  }
  EXPECT_EQ(abbreviations.size(), 143u);
  EXPECT_EQ(names.size(), 143u);
  EXPECT_EQ(kLanguages[0].abbreviation, "abenpeno");
  EXPECT_EQ(kLanguages[99].displayName, "Patois d\xC2\xB4Ille et Villaine");
  EXPECT_EQ(kLanguages[142].displayName, "Zulu");
  struct {
    const char* abbreviation;
    int menuId, menu;
  } menus[] = {
      {"eng", 53000, 116},
      {"ENG", 53000, 116},
      {"Deu", 54200, 54201},
      {"zulu", 64200, 64201},
      {"kinyarwanda", 56300, 56301},
      {"BOLIVIANQUECHUA", 51200, 51201},
      {"abenpeno", 50000, 50001},
      {"xx", 0, 1},
      {"", 0, 1},
  };
  for (const auto& c : menus) {
    EXPECT_EQ(LanguageMenuId(c.abbreviation), c.menuId) << c.abbreviation;
    EXPECT_EQ(LanguageMenu(c.abbreviation), c.menu) << c.abbreviation;
  }
  struct {
    const char* name;
    const char* abbreviation;  // null: not found
  } finds[] = {
      {"English", "eng"},
      {"english", nullptr},
      {"German (Platt)", "basall"},
      {"Brazilian (Portugese)", "bra"},
      {"Patois d\xC2\xB4Ille et Villaine", "piv"},
      {"Patois d'Ille et Villaine", nullptr},
      {"", nullptr},
      {"eng", nullptr},
  };
  for (const auto& c : finds) {
    std::string abbreviation = "unchanged";
    EXPECT_EQ(FindLanguageCode(c.name, abbreviation), c.abbreviation != nullptr) << c.name;
    EXPECT_EQ(abbreviation, c.abbreviation ? c.abbreviation : "unchanged") << c.name;
  }
  const auto list = LanguageDisplayNames();
  ASSERT_EQ(list.size(), 143u);
  EXPECT_EQ(list[30], "English");
}

// What a parse handed on, one line per effect.
struct Recorded {
  bool result = false;
  std::vector<std::string> effects;
};

Recorded Parse(std::string_view bytes) {
  Recorded r;
  auto record = [&r](const char* kind) {
    return [&r, kind](int id, const std::string& text) {
      r.effects.push_back(std::string(kind) + " " + std::to_string(id) + " [" + text + "]");
    };
  };
  r.result = ParseLanguageText(bytes, {record("control"), record("menu"), record("string")});
  return r;
}

TEST(LanguageFile, LineGrammar) {
  using V = std::vector<std::string>;
  struct Case {
    const char* name;
    std::string bytes;
    bool result;
    V effects;
  } cases[] = {
      {"quoted text loses its quotes and line end",
       "a=CONTROL;b=1017;c=\"Antwort\"\n",
       true,
       {"control 1017 [Antwort]"}},
      {"unquoted text keeps its line end",
       "a=CONTROL;b=1017;c=Antwort\n",
       true,
       {"control 1017 [Antwort\n]"}},
      {"runs of separators count once, leading ones are skipped",
       ";;=a==X;;=;b=40009;=;c=Go;x=y\n",
       true,
       {"control 40009 [Go]"}},
      {"fields after the sixth are ignored", "a=X;b=7;c=T;d=e\n", true, {"control 7 [T]"}},
      {"an empty second line ends the reading",
       "a=X;b=1;c=\"one\"\n\na=X;b=2;c=\"two\"\n",
       true,
       {"control 1 [one]"}},
      {"a line of four fields ends it with failure",
       "a=X;b=1;c=\"one\"\na=X;b=2\na=X;b=3;c=t\n",
       false,
       {"control 1 [one]"}},
      {"a line of one field ends it",
       "a=X;b=1;c=\"one\"\nabc\na=X;b=2;c=\"two\"\n",
       true,
       {"control 1 [one]"}},
      {"STRINGTABLE sets the control text and the string",
       "a=STRINGTABLE;b=127;c=\"Prüfe\"\n",
       true,
       {"control 127 [Prüfe]", "string 127 [Prüfe]"}},
      {"stringtable in lower case too",
       "a=stringtable;b=116;c=\"Fehlt.\"\n",
       true,
       {"control 116 [Fehlt.]", "string 116 [Fehlt.]"}},
      {"0127 is no string number", "a=STRINGTABLE;b=0127;c=\"x\"\n", true, {"control 127 [x]"}},
      {"nor is 127x", "a=STRINGTABLE;b=127x;c=\"x\"\n", true, {"control 127 [x]"}},
      {"MENUITEM sets a menu text only",
       "a=MENUITEM;b=40010;c=\"Senden\"\n",
       true,
       {"menu 40010 [Senden]"}},
      {"menuitem in lower case is a control line",
       "a=menuitem;b=40010;c=\"S\"\n",
       true,
       {"control 40010 [S]"}},
      {"no digits give 0", "a=X;b=abc;c=\"t\"\n", true, {"control 0 [t]"}},
      {"a number beyond 32 bits names nothing",
       "a=X;b=99999999999;c=\"t\"\n",
       true,
       {"control -1 [t]"}},
      {"a quote alone gives an empty text", "a=X;b=5;c=\"\n", true, {"control 5 []"}},
      {"no line end at the end of the file", "a=X;b=5;c=\"abc\"", true, {"control 5 [ab]"}},
      {"a NUL byte ends the line", std::string("a=X;b=5;c=\"ab\0\"\n", 14), true, {"control 5 []"}},
      {"invalid UTF-8 becomes U+FFFD",
       "a=X;b=5;c=\"a\xFF\"\n",
       true,
       {"control 5 [a\xEF\xBF\xBD]"}},
      {"an empty file", "", true, {}},
  };
  for (const Case& c : cases) {
    const Recorded r = Parse(c.bytes);
    EXPECT_EQ(r.result, c.result) << c.name;
    EXPECT_EQ(r.effects, c.effects) << c.name;
  }
}

TEST(LanguageFile, LongLinesAreReadInPiecesOfWholeCharacters) {
  // 258 bytes, then "ü" (2 bytes) across the 259th: the first piece ends
  // before it, the second starts with it.
  const std::string x(248, 'x');
  const Recorded r = Parse("a=X;b=9;c=" + x + "\xC3\xBCy;z;w;v;u=t\n");
  EXPECT_TRUE(r.result);
  EXPECT_EQ(r.effects, (std::vector<std::string>{"control 9 [" + x + "]", "control 0 [t\n]"}));
  // A line of 10,000 bytes: every text handed on is valid and within the
  // buffer.
  std::string huge = "a=X;b=1;c=\"";
  while (huge.size() < 10000) huge += "\xE2\x82\xAC;";  // "€;"
  for (const std::string& e : Parse(huge + "\"\n").effects) EXPECT_LE(e.size(), 280u) << e;
}

TEST(LanguageFile, FilesThatCannotBeReadGiveFalse) {
  const TempRoot folder;
  ASSERT_TRUE(WriteFile(folder / "Varnox.emn.deu", "a=X;b=1;c=\"eins\"\n"));
  std::filesystem::create_directories(folder / "dir");
  int calls = 0;
  auto count = [&calls](int, const std::string&) { ++calls; };
  const LanguageFileHandlers h{count, count, count};
  EXPECT_TRUE(ParseLanguageFile(folder / "Varnox.emn.deu", h));
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(ParseLanguageFile(folder / "dir", h));
  EXPECT_FALSE(ParseLanguageFile(folder / "missing", h));
  EXPECT_EQ(calls, 1);
}

TEST(InterfaceStrings, TextsAreCutAt99Utf16Units) {
  auto repeat = [](std::string_view s, int n) {
    std::string out;
    while (n-- > 0) out += s;
    return out;
  };
  const std::string emoji = "\xF0\x9F\x98\x80";  // two UTF-16 units
  const struct {
    std::string text, kept;
  } cases[] = {
      {repeat("a", 120), repeat("a", 99)},
      {repeat("\xD0\xB6", 120), repeat("\xD0\xB6", 99)},  // "ж": 2 bytes, 1 unit
      {emoji + repeat("a", 98), emoji + repeat("a", 97)},
      {repeat("a", 98) + emoji, repeat("a", 98)},
  };
  InterfaceStrings strings;
  for (const auto& c : cases) {
    ASSERT_TRUE(strings.Set(127, c.text));
    EXPECT_EQ(strings.Get(127), c.kept);
  }
  EXPECT_FALSE(strings.Set(121, "no such string"));
}

}  // namespace
}  // namespace varnox
