// The interface language: which one is current, its translated menu, and
// its language file applied to the open dialogs and the interface strings.
// Everything here runs on the user-interface thread.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/help.h"
#include "i18n/interface_strings.h"
#include "platform/embedded_file.h"
#include "web/control_model.h"
#include "web/ui_thread.h"

namespace varnox {

// A menu bar from the JSON of a translated menu (share/menus/<abbr>.json:
// an array of {"text", "items"}, items {"id", "text"} or {"separator":
// true}, submenus nested the same way); nothing when it is not of that form.
std::optional<std::vector<MenuItem>> ParseMenuJson(std::string_view json);

// The menu of a language: the built-in English one for "eng" (any letter
// case), the embedded translation for the others; nothing when the language
// has none.
std::optional<std::vector<MenuItem>> LanguageMenuItems(std::string_view abbreviation,
                                                       std::span<const EmbeddedFile> files);

// The places of a language's file, in the order they are tried:
// <install folder>/emn/Varnox.emn.<abbr>, then the program-files form
// <program files>/Varnox/emn/Varnox.emn.<abbr>.
std::vector<std::string> LanguageFileCandidates(const HelpFolders& folders,
                                                const std::string& abbreviation);

class LanguageState {
 public:
  // files: the embedded content that holds the translated menus.
  LanguageState(WindowModel& model, UiThread& ui, InterfaceStrings& strings, HelpFolders folders,
                std::span<const EmbeddedFile> files);

  const std::string& Abbreviation() const { return abbreviation_; }
  const std::string& DisplayName() const { return displayName_; }
  int MenuId() const { return menuId_; }
  // Opening the about box names the language: until one is chosen that is English.
  void NameIfUnnamed() {
    if (displayName_.empty()) displayName_ = "English";
  }
  const std::string& FilePath() const { return filePath_; }

  // The window's menu becomes the language's menu (116, the English one, or
  // the language's translation); the same one again, or a language without
  // a menu, changes nothing.
  void SelectLanguageMenu(std::string_view abbreviation);

  // Applies the current language file: captions of every open dialog (never
  // the fields and lists holding the user's data), menu item texts by
  // command, interface strings. False when no file is chosen, it cannot be
  // read, or it ends at a line of two to five fields.
  bool ApplyLanguageFile();

  // Finds the language's file; none: message box 116 with caption 115 (OK
  // only) and false. With apply, the language becomes current (menu, display
  // name, file, abbreviation) and its file is applied.
  bool LocateLanguageFile(const std::string& abbreviation, const std::string& displayName,
                          bool apply);

 private:
  WindowModel& model_;
  UiThread& ui_;
  InterfaceStrings& strings_;
  HelpFolders folders_;
  std::span<const EmbeddedFile> files_;
  std::string abbreviation_ = "eng";
  std::string displayName_;
  int menuId_ = 0;
  std::string filePath_;
};

}  // namespace varnox
