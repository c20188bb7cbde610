// Choosing the interface language through the main window: language files on
// a real temporary root, the language dialog on the window model, the
// translated menus as embedded content.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>

#include "app/about_box.h"
#include "app/language_dialog.h"
#include "app/main_window.h"
#include "app/rule_editor.h"
#include "app/shipped_content.h"
#include "app/viewer_fixture.h"
#include "i18n/language_catalogue.h"
#include "i18n/language_file.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using namespace testsupport;
using Box = std::pair<std::string, std::string>;

class LanguageTest : public ViewerFixture {
 protected:
  LanguageTest() {
    Stores({"Personal"});
    ui.Run([&] { window.Create(); });
  }
  // A language file where the program-files form looks for it.
  void Emn(const std::string& abbreviation, const std::string& lines) {
    fs::create_directories(root / "Varnox/emn");
    ASSERT_TRUE(WriteFile(root / ("Varnox/emn/Varnox.emn." + abbreviation), lines));
  }
  // Runs a command on the user-interface thread; the message boxes it shows
  // are answered OK and returned.
  std::vector<Box> Command(const std::string& dialog, int id) {
    std::vector<Box> boxes;
    std::atomic<bool> done = false;
    EXPECT_TRUE(ui.Run([&] {
      window.Command(dialog, id);
      done = true;
    }));
    while (!done) {
      const auto box = model.MessageBox();
      if (!box) continue;  // the box is on its way
      EXPECT_EQ(box->buttons, std::vector<std::string>{"OK"});
      boxes.emplace_back(box->text, box->caption);
      ui.Answer(1);  // returns when the procedure has ended or shows its next box
    }
    return boxes;
  }
  // Selects the languages with these display names in the dialog.
  std::vector<Box> Choose(std::vector<std::string> names) {
    const auto lines = model.Lines(kLanguageDialog, kLanguageList);
    std::vector<int> indexes;
    for (const std::string& name : names)
      indexes.push_back(
          static_cast<int>(std::find(lines.begin(), lines.end(), name) - lines.begin()));
    model.SetSelection(kLanguageDialog, kLanguageList, indexes);
    return Command(kLanguageDialog, kLanguageSelect);
  }
  std::string MenuText(int command) {
    for (const MenuItem& bar : model.Menu())
      for (const MenuItem& item : bar.items) {
        if (item.id == command) return item.text;
        for (const MenuItem& inner : item.items)
          if (inner.id == command) return inner.text;
      }
    return "(none)";
  }

  UiThread ui{model};
  SmsSender sms{root / "spool"};
  RuleEditor editor{model,   storage, viewer,
                    workers, strings, [](const std::string&, const std::string&) { return 1; }};
  MainWindow window{model, viewer, workers, editor, [] {}, {ui, sms, strings, {"", root.path()}}};
};

TEST_F(LanguageTest, TheDialogListsTheCatalogueSortedAndAppliesTheFirstSelection) {
  EXPECT_EQ(MenuText(kCmdLanguage), "Language");
  EXPECT_EQ(model.Text("main", 1103), "Page");
  EXPECT_EQ(window.Language().MenuId(), kEnglishMenu);
  Emn("deu",
      "a=CONTROL;b=20011;c=\"Sprache wählen:\"\n"
      "a=CONTROL;b=1017;c=\"Eigene Antwort\"\n"
      "a=MENUITEM;b=40004;c=\"Hilfe\"\n"
      "a=MENUITEM;b=99;c=\"nirgends\"\n"
      "a=STRINGTABLE;b=127;c=\"Prüfe\"\n"
      "a=STRINGTABLE;b=0128;c=\"Lade\"\n"
      "a=CONTROL;b=20013;c=\"Schließen\"\n"
      "a=CONTROL;b=1103;c=\"Seite\"\n");
  Emn("spa", "a=CONTROL;b=20011;c=\"Elegir idioma:\"\n");
  Command("main", kCmdAbout);  // the about box names the language when none is named yet
  EXPECT_EQ(window.Language().DisplayName(), "English");
  Command(kAboutDialog, 2);
  EXPECT_TRUE(Command("main", kCmdLanguage).empty());
  EXPECT_EQ(model.Modal(), kLanguageDialog);
  auto lines = model.Lines(kLanguageDialog, kLanguageList);
  ASSERT_EQ(lines.size(), 143u);
  EXPECT_EQ(lines.front(), "AbenakiPenobscot");
  EXPECT_EQ(lines.back(), "Zulu");
  // "BolivianQuechua" sorts lower-cased; "Brazilian" comes after it.
  EXPECT_LT(std::find(lines.begin(), lines.end(), "BolivianQuechua"),
            std::find(lines.begin(), lines.end(), "Brazilian (Portugese)"));
  EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end(), [](std::string a, std::string b) {
    std::transform(a.begin(), a.end(), a.begin(), ::tolower);
    std::transform(b.begin(), b.end(), b.begin(), ::tolower);
    return a < b;
  }));

  // Spanish after German in the list: German is taken, Spanish only checked.
  const std::string message = model.Text(kViewerDialog, 1017);
  const ScanHooks hooks = ViewerScanHooks(viewer, strings);  // as the scan holds them
  EXPECT_TRUE(Choose({"Spanish", "German"}).empty());
  EXPECT_EQ(window.Language().Abbreviation(), "deu");
  EXPECT_EQ(window.Language().DisplayName(), "German");
  EXPECT_EQ(model.Text(kLanguageDialog, kLanguagePrompt), "Sprache wählen:");
  EXPECT_EQ(model.Text(kViewerDialog, 1017), message);  // the message field keeps its text
  EXPECT_EQ(model.Text("main", 1103), "Seite");         // the page's own words too
  EXPECT_EQ(MenuText(kCmdHelp), "Hilfe");
  EXPECT_EQ(strings.Get(127), "Prüfe");
  EXPECT_EQ(hooks.checkingText(), "Prüfe");  // the running scan's status follows
  EXPECT_EQ(strings.Get(128), "Loading");    // 0128 names no string

  // Dialogs opened later show the language too; captions only.
  Command(kLanguageDialog, kLanguageOk);
  Command("main", kCmdRules);
  EXPECT_EQ(model.Text(kRuleEditorDialog, 1017), "Eigene Antwort");
  Command(kRuleEditorDialog, 2);
  Command("main", kCmdAbout);
  EXPECT_EQ(model.Text(kAboutDialog, 20013), "Schließen");
}

TEST_F(LanguageTest, MissingFilesSayNotAvailableAndLeaveTheLanguage) {
  Emn("deu", "a=STRINGTABLE;b=116;c=\"Die Datei fehlt.\"\na=STRINGTABLE;b=115;c=\"Hinweis\"\n");
  Command("main", kCmdLanguage);
  // Both missing: two boxes, in English; nothing changes.
  EXPECT_EQ(Choose({"Dutch", "Zulu"}),
            (std::vector<Box>{{"The required file is not available.", "Information"},
                              {"The required file is not available.", "Information"}}));
  EXPECT_EQ(window.Language().Abbreviation(), "eng");
  EXPECT_EQ(window.Language().FilePath(), "");
  // German taken, Zulu checked: the box for it speaks German already.
  EXPECT_EQ(Choose({"Zulu", "German"}), (std::vector<Box>{{"Die Datei fehlt.", "Hinweis"}}));
  EXPECT_EQ(window.Language().FilePath(), root / "Varnox/emn/Varnox.emn.deu");
  // A directory under the file's name: nothing is applied.
  fs::create_directories(root / "Varnox/emn/Varnox.emn.spa");
  EXPECT_EQ(Choose({"Spanish"}).size(), 1u);
  EXPECT_EQ(window.Language().Abbreviation(), "deu");
}

TEST_F(LanguageTest, HelpFollowsTheLanguage) {
  Emn("deu", "a=X;b=1;c=\"x\"\n");
  for (const char* abbr : {"eng", "deu"}) {
    fs::create_directories(root / ("Varnox/Help/" + std::string(abbr)));
    ASSERT_TRUE(
        WriteFile(root / ("Varnox/Help/" + std::string(abbr) + "/index." + abbr + ".htm"), abbr));
  }
  Command("main", kCmdLanguage);
  Choose({"German"});
  Command("main", kCmdHelp);
  EXPECT_EQ(window.HelpFilePath(), root / "Varnox/Help/deu/index.deu.htm");
}

TEST_F(LanguageTest, MenusComeFromTheEmbeddedTranslations) {
  const std::string deu =
      R"([{"text": "Nutzen", "items": [{"text": "Aktion", "items": [{"id": 40010, "text": "Senden"}]}]},)"
      R"( {"text": "Hilfe", "items": [{"id": 40004, "text": "Hilfe"}, {"separator": true}]}])";
  const EmbeddedFile files[] = {{"menus/deu.json", deu}, {"menus/fre.json", "[{\"text\": 1}]"}};
  LanguageState language(model, ui, strings, {"", root.path()}, files);
  struct {
    const char* abbreviation;
    int menuId;
    const char* firstKey;
  } cases[] = {
      {"Deu", 54201, "Nutzen"}, {"fre", 54201, "Nutzen"},  // not of the menu's form
      {"ita", 54201, "Nutzen"},                            // no menu
      {"xx", 54201, "Nutzen"},  {"ENG", 116, "Use"},      {"deu", 54201, "Nutzen"},
  };
  for (const auto& c : cases) {
    language.SelectLanguageMenu(c.abbreviation);
    EXPECT_EQ(language.MenuId(), c.menuId) << c.abbreviation;
    EXPECT_EQ(model.Menu().front().text, c.firstKey) << c.abbreviation;
  }
  // The same language again makes no new menu: a changed text stays.
  ASSERT_TRUE(model.SetMenuText(40010, "Schicken"));
  language.SelectLanguageMenu("deu");
  EXPECT_EQ(MenuText(40010), "Schicken");
  EXPECT_FALSE(model.SetMenuText(40005, "Sprache"));  // no such item in this menu
}

TEST(LanguageFiles, PlacesAndInstall) {
  EXPECT_EQ(
      LanguageFileCandidates({"/r/Varnox", "/r"}, "deu"),
      (std::vector<std::string>{"/r/Varnox/emn/Varnox.emn.deu", "/r/Varnox/emn/Varnox.emn.deu"}));
  EXPECT_EQ(LanguageFileCandidates({"/i", "/r"}, "fre"),
            (std::vector<std::string>{"/i/emn/Varnox.emn.fre", "/r/Varnox/emn/Varnox.emn.fre"}));
  const TempRoot folder;
  const EmbeddedFile files[] = {{"emn/Varnox.emn.deu", "a=X;b=1;c=\"x\"\n"},
                                {"menus/deu.json", "[]"}};
  std::string error;
  ASSERT_TRUE(InstallShippedContent(folder.path(), files, "", error)) << error;
  EXPECT_EQ(FilesUnder(folder.path()), std::vector<std::string>{folder / "emn/Varnox.emn.deu"});
}

// What a language file sets.
struct LanguageTexts {
  bool complete = false;
  int applied = 0, lines = 0;
  std::size_t longest = 0;
  std::map<int, std::string> controls, menu, strings;
};

LanguageTexts ReadLanguage(std::string_view bytes) {
  LanguageTexts t;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t end = std::min(bytes.find('\n', i), bytes.size() - 1) + 1;
    t.longest = std::max(t.longest, end - i);
    ++t.lines;
    i = end;
  }
  t.complete = ParseLanguageText(
      bytes, {[&t](int id, const std::string& s) { ++t.applied, t.controls[id] = s; },
              [&t](int id, const std::string& s) { ++t.applied, t.menu[id] = s; },
              [&t](int id, const std::string& s) { t.strings[id] = s; }});
  return t;
}

std::size_t Utf16Units(const std::string& s) {
  std::size_t units = 0;
  for (unsigned char c : s) units += (c & 0xC0) != 0x80 ? (c >= 0xF0 ? 2 : 1) : 0;
  return units;
}

bool HasLetters(const std::string& s) {
  return std::any_of(s.begin(), s.end(),
                     [](unsigned char c) { return c >= 0x80 || std::isalpha(c); });
}

// The commands and separators of a menu, in order and nesting, without texts.
std::string Shape(const std::vector<MenuItem>& items) {
  std::string out = "[";
  for (const MenuItem& i : items)
    out += i.separator ? "-" : i.items.empty() ? std::to_string(i.id) + "," : Shape(i.items);
  return out + "]";
}

void Texts(const std::vector<MenuItem>& items, std::vector<std::string>& out) {
  for (const MenuItem& i : items) {
    if (!i.separator) out.push_back(i.text);
    Texts(i.items, out);
  }
}

// Every language file shipped with the program (none until they are written)
// against the English one: complete, within the limits, translated, with a
// menu of the English commands.
TEST(ShippedLanguages, AreCompleteTranslatedAndWithinTheLimits) {
  std::map<std::string, std::string_view> files;
  for (const EmbeddedFile& f : ShippedFiles())
    if (f.path.starts_with("emn/Varnox.emn.")) files[std::string(f.path.substr(15))] = f.data;
  if (files.empty()) return;
  ASSERT_TRUE(files.contains("eng"));
  const LanguageTexts eng = ReadLanguage(files["eng"]);
  for (int n = 115; InterfaceStrings::Known(n) || n == 121; ++n)
    EXPECT_TRUE(n == 121 || eng.strings.contains(n)) << "English lacks string " << n;
  std::vector<std::string> englishMenu;
  Texts(MainMenu(), englishMenu);
  for (const auto& [abbr, bytes] : files) {
    SCOPED_TRACE(abbr);
    const LanguageTexts t = ReadLanguage(bytes);
    EXPECT_GE(LanguageIndex(abbr), 0);
    EXPECT_TRUE(t.complete);
    EXPECT_EQ(t.applied, t.lines) << "a line ends the reading early";
    EXPECT_LT(t.longest, kLanguageLineBuffer);
    for (const auto& [n, text] : t.strings) EXPECT_LE(Utf16Units(text), 99u) << n;
    int same = 0, total = 0;
    for (const auto& [id, text] : eng.controls) {
      EXPECT_TRUE(t.controls.contains(id)) << "no text for control " << id;
      if (abbr == "eng" || !t.controls.contains(id) || !HasLetters(text)) continue;
      ++total;
      same += t.controls.at(id) == text;
    }
    for (const auto& [n, text] : eng.strings) EXPECT_TRUE(t.strings.contains(n)) << "string " << n;
    // Names, and words some languages share with English, may stay.
    EXPECT_LE(same * 5, total) << same << " of " << total << " texts are the English ones";
    const auto menu = LanguageMenuItems(abbr, ShippedFiles());
    ASSERT_TRUE(menu) << "no menu";
    EXPECT_EQ(Shape(*menu), Shape(MainMenu()));
    std::vector<std::string> texts;
    Texts(*menu, texts);
    if (abbr != "eng" && texts.size() == englishMenu.size()) {
      int menuSame = 0;
      for (std::size_t i = 0; i < texts.size(); ++i) menuSame += texts[i] == englishMenu[i];
      EXPECT_LE(menuSame * 2, static_cast<int>(texts.size())) << "the menu is not translated";
    }
  }
}

}  // namespace
}  // namespace varnox
