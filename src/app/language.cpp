#include "app/language.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "app/main_window.h"
#include "i18n/language_catalogue.h"
#include "i18n/language_file.h"
#include "platform/unique_fd.h"
#include "storage/data_locations.h"

namespace varnox {
namespace {

bool ParseItems(const nlohmann::json& items, std::vector<MenuItem>& out, int depth) {
  if (!items.is_array() || depth > 4) return false;
  for (const auto& j : items) {
    if (!j.is_object()) return false;
    MenuItem item;
    if (j.contains("separator")) {
      if (j["separator"] != true) return false;
      item.separator = true;
    } else if (!j.contains("text") || !j["text"].is_string()) {
      return false;
    } else {
      item.text = j["text"].get<std::string>();
      if (j.contains("items")) {
        if (!ParseItems(j["items"], item.items, depth + 1) || item.items.empty()) return false;
      } else if (j.contains("id") && j["id"].is_number_integer() && j["id"].get<long long>() > 0 &&
                 j["id"].get<long long>() < 65536) {
        item.id = j["id"].get<int>();
      } else {
        return false;
      }
    }
    out.push_back(std::move(item));
  }
  return true;
}

// Whether path opens for reading as a regular file.
bool Readable(const std::string& path) {
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat st {};
  return fd && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::optional<std::vector<MenuItem>> ParseMenuJson(std::string_view json) {
  const nlohmann::json j = nlohmann::json::parse(json, nullptr, false);
  std::vector<MenuItem> menu;
  if (j.is_discarded() || !ParseItems(j, menu, 0) || menu.empty()) return std::nullopt;
  return menu;
}

std::optional<std::vector<MenuItem>> LanguageMenuItems(std::string_view abbreviation,
                                                       std::span<const EmbeddedFile> files) {
  const int k = LanguageIndex(abbreviation);
  if (k < 0) return std::nullopt;
  if (LanguageMenu(abbreviation) == kEnglishMenu) return MainMenu();
  const std::string name = "menus/" + std::string(kLanguages[k].abbreviation) + ".json";
  for (const EmbeddedFile& f : files)
    if (f.path == name) return ParseMenuJson(f.data);
  return std::nullopt;
}

std::vector<std::string> LanguageFileCandidates(const HelpFolders& folders,
                                                const std::string& abbreviation) {
  const std::string file = std::string(kProductName) + ".emn." + abbreviation;
  std::vector<std::string> out;
  if (!folders.installFolder.empty()) out.push_back(folders.installFolder + "/emn/" + file);
  out.push_back(folders.programFiles + "/" + kProductName + "/emn/" + file);
  return out;
}

LanguageState::LanguageState(WindowModel& model, UiThread& ui, InterfaceStrings& strings,
                             HelpFolders folders, std::span<const EmbeddedFile> files)
    : model_(model), ui_(ui), strings_(strings), folders_(std::move(folders)), files_(files) {}

void LanguageState::SelectLanguageMenu(std::string_view abbreviation) {
  const int id = LanguageMenu(abbreviation);
  if (id == menuId_ || id == 0) return;
  auto menu = LanguageMenuItems(abbreviation, files_);
  if (!menu) return;  // no such menu: the bar stays as it was
  model_.SetMenu(std::move(*menu));
  menuId_ = id;
}

bool LanguageState::ApplyLanguageFile() {
  if (filePath_.empty()) return false;
  LanguageFileHandlers handlers;
  handlers.controlText = [this](int id, const std::string& text) { model_.SetCaptions(id, text); };
  handlers.menuText = [this](int id, const std::string& text) { model_.SetMenuText(id, text); };
  handlers.interfaceString = [this](int number, const std::string& text) {
    // Only the strings a language file may replace: not the product name.
    if (number >= 115) strings_.Set(number, text);
  };
  const bool complete = ParseLanguageFile(filePath_, handlers);
  if (complete) model_.Changed({"main"});
  return complete;
}

bool LanguageState::LocateLanguageFile(const std::string& abbreviation,
                                       const std::string& displayName, bool apply) {
  std::string found;
  for (const std::string& candidate : LanguageFileCandidates(folders_, abbreviation)) {
    if (!Readable(candidate)) continue;
    found = candidate;
    break;
  }
  if (found.empty()) {
    ui_.MessageBox(strings_.Get(116), strings_.Get(115));
    return false;
  }
  if (!apply) return true;
  SelectLanguageMenu(abbreviation);
  displayName_ = displayName;
  filePath_ = found;
  abbreviation_ = abbreviation;
  return ApplyLanguageFile();
}

}  // namespace varnox
