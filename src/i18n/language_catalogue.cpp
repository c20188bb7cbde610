#include "i18n/language_catalogue.h"

#include <algorithm>

namespace varnox {
namespace {

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) {
             return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
           };
           return lower(x) == lower(y);
         });
}

}  // namespace

// In this order: an entry's position gives its menu identifier.
const std::array<Language, kLanguageCount> kLanguages = {{
    {"abenpeno", "AbenakiPenobscot"},
    {"afr", "Africaan"},
    {"alb", "Albanian"},
    {"als", "Alsacien"},
    {"arab", "Arabic"},
    {"arabtja", "Arabic (Chad)"},
    {"arm", "Armenian"},
    {"arpsavoy", "Arpitan Savoyard"},
    {"bas", "Basque"},
    {"baya", "Baya"},
    {"belrus", "Belarussian"},
    {"blackfoot", "Blackfoot"},
    {"BolivianQuechua", "BolivianQuechua"},
    {"bra", "Brazilian (Portugese)"},
    {"breton", "Breton"},
    {"bul", "Bulgarian"},
    {"catalan", "Catalan"},
    {"cheyenne", "Cheyenne"},
    {"chti", "Ch'ti"},
    {"ccd", "Chinese (Cantonese PinYin)"},
    {"cpy", "Chinese (Mandarin PinYin)"},
    {"choctaw", "Choctaw"},
    {"creanti", "Creole (Antilles)"},
    {"cornish", "Cornish"},
    {"corse", "Corse"},
    {"croate", "Croatian"},
    {"chz", "Czech"},
    {"dan", "Danish"},
    {"doljensko", "Doljensko"},
    {"dut", "Dutch"},
    {"eng", "English"},
    {"est", "Estonian"},
    {"epo", "Esperanto"},
    {"fae", "Faeroese"},
    {"fin", "Finnish"},
    {"fre", "French"},
    {"anfre", "French (Ancient)"},
    {"fri", "Frisian"},
    {"galicien", "Galicien"},
    {"gallo", "Gallo"},
    {"gallois", "Gallois"},
    {"gbari", "Gbari"},
    {"deu", "German"},
    {"basall", "German (Platt)"},
    {"gothic", "Gothic"},
    {"grk", "Greek"},
    {"gujarati", "Gujarati"},
    {"hindiorg", "Indian (Hindi)"},
    {"shabdanjali", "Indian (Shabdanjali)"},
    {"telugu", "Indian (Telugu)"},
    {"hindi", "Indian (Hindi Latin)"},
    {"haitian", "Haitian"},
    {"hun", "Hungarian"},
    {"ice", "Icelandic"},
    {"ind", "Indonesian"},
    {"inuit", "Inuit"},
    {"ira", "Iranian"},
    {"galire", "Irish (Gaelic)"},
    {"heb", "Israel (Hebrew)"},
    {"ita", "Italian"},
    {"jap", "Japanese"},
    {"kir", "Kirundi"},
    {"kipsigis", "Kipsigis"},
    {"Kinyarwanda", "Kinyarwanda"},
    {"konkani", "Congo (Konkani)"},
    {"krsko", "Krsko"},
    {"kor", "Korean (Latin)"},
    {"kurdish", "Kurdish"},
    {"laorom", "Laos (Romanic)"},
    {"lao", "Laos"},
    {"lat", "Latin"},
    {"latvian", "Latvian"},
    {"ligure", "Ligure"},
    {"lingala", "Lingala"},
    {"lithuanian", "Lithuanian"},
    {"lux", "Luxembourg"},
    {"mac", "Macedonian"},
    {"malay", "Malaysian"},
    {"malgache", "Malayalam (Malgache)"},
    {"maliseet", "Maliseet"},
    {"malta", "Maltese"},
    {"manx", "Manx"},
    {"maori", "Maori"},
    {"mapuche", "Mapuche"},
    {"mohawk", "Mohawk"},
    {"mongol", "Mongolian"},
    {"mar", "Moroccon"},
    {"nahuatl", "Nahuatl"},
    {"nap", "Napolitan"},
    {"naskapi", "Naskapi"},
    {"nicois", "Nicois"},
    {"nor", "Norwegian"},
    {"occitan", "Occitan"},
    {"oldgutnish", "Old Gutnish"},
    {"ossete", "Ossetian"},
    {"ojibwe", "Ojibwe"},
    {"onge", "Onge"},
    {"ourdou", "Ourdou"},
    {"pap", "Papiamen"},
    {"piv", "Patois d´Ille et Villaine"},
    {"persian", "Persian"},
    {"poitevin", "Poitevin"},
    {"pol", "Polish"},
    {"por", "Portugese"},
    {"provencal", "Provencal"},
    {"punjabi", "Punjabi"},
    {"quebec", "Quebec"},
    {"arg", "Quechua Argentina"},
    {"cuzco", "Quechua de Cuzco"},
    {"romanche", "Romanche"},
    {"rom", "Romanian"},
    {"rus", "Russian"},
    {"rusrom", "Russian (Romanic)"},
    {"samoan", "Samoan"},
    {"galeco", "Scottish (Gaelic)"},
    {"srb", "Serbian"},
    {"slovene", "Slovenian"},
    {"sobota", "Sobota"},
    {"somalia", "Somali"},
    {"spa", "Spanish"},
    {"slovak", "Slovak"},
    {"sudan", "Sudanese"},
    {"sumeria", "Sumeria"},
    {"swahili", "Swahili"},
    {"swedish", "Swedish"},
    {"tachelhite", "Tachelhite"},
    {"tadjik", "Tadzhik"},
    {"tagalog", "Philipine (Tagalog)"},
    {"tahitien", "Tahitian"},
    {"tamillp", "Tamil (Spoken)"},
    {"tamilrom", "Tamil (Romanic)"},
    {"tamil", "Tamil"},
    {"tchech", "Chechen"},
    {"tokpisin", "Tok Pisin"},
    {"tur", "Turkish"},
    {"ukr", "Ukrainian"},
    {"urdu", "Urdu"},
    {"vie", "Vietnamese"},
    {"wallonfor", "Wallon de Forrieres"},
    {"wallonlie", "Wallon de Liegeois"},
    {"welsh", "Welsh"},
    {"wolof", "Wolof"},
    {"zulu", "Zulu"},
}};

int LanguageIndex(std::string_view abbreviation) {
  for (int k = 0; k < kLanguageCount; ++k)
    if (EqualsIgnoringAsciiCase(kLanguages[k].abbreviation, abbreviation)) return k;
  return -1;
}

int LanguageMenuId(std::string_view abbreviation) {
  const int k = LanguageIndex(abbreviation);
  return k < 0 ? 0 : 50000 + 100 * k;
}

int LanguageMenu(std::string_view abbreviation) {
  if (EqualsIgnoringAsciiCase(abbreviation, "eng")) return kEnglishMenu;
  return LanguageMenuId(abbreviation) + 1;
}

bool FindLanguageCode(std::string_view displayName, std::string& abbreviation) {
  for (const Language& l : kLanguages) {
    if (l.displayName != displayName) continue;
    abbreviation = l.abbreviation;
    return true;
  }
  return false;
}

std::vector<std::string> LanguageDisplayNames() {
  std::vector<std::string> names;
  names.reserve(kLanguages.size());
  for (const Language& l : kLanguages) names.emplace_back(l.displayName);
  return names;
}

}  // namespace varnox
