// The 143 interface languages: each an abbreviation, which names its language
// file and translated menu, and the display name the language dialog shows.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace varnox {

struct Language {
  std::string_view abbreviation;
  std::string_view displayName;  // UTF-8
};

constexpr int kLanguageCount = 143;
constexpr int kEnglishMenu = 116;  // the menu built into the main window

extern const std::array<Language, kLanguageCount> kLanguages;

// The catalogue position of an abbreviation (letter case ignored), or -1.
int LanguageIndex(std::string_view abbreviation);

// 50000 + 100·k for entry k, 0 for an abbreviation that is none.
int LanguageMenuId(std::string_view abbreviation);

// The menu a language selects: 116 for English, LanguageMenuId + 1 for the
// others, 1 (no menu) for an abbreviation that is none.
int LanguageMenu(std::string_view abbreviation);

// The abbreviation of the entry whose display name is exactly displayName.
bool FindLanguageCode(std::string_view displayName, std::string& abbreviation);

// The display names in catalogue order, as the language list is filled.
std::vector<std::string> LanguageDisplayNames();

}  // namespace varnox
