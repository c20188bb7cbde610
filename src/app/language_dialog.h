// The language dialog: the catalogue's display names, several of which may
// be selected; "Select" makes the first one the interface language and
// checks that the files of the others are there.
#pragma once

#include "app/language.h"
#include "web/control_model.h"

namespace varnox {

inline constexpr char kLanguageDialog[] = "118";

enum LanguageControl {
  kLanguagePrompt = 20011,
  kLanguageNote = 20012,
  kLanguageList = 20001,
  kLanguageSelect = 40009,
  kLanguageOk = 20015,
  kLanguageClose = 20013,
};

// Opens the dialog (modal), fills its list and applies the language file.
void OpenLanguageDialog(WindowModel& model, LanguageState& language);

void LanguageDialogCommand(WindowModel& model, LanguageState& language, int id);

}  // namespace varnox
