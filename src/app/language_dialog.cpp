#include "app/language_dialog.h"

#include <algorithm>

#include "i18n/language_catalogue.h"

namespace varnox {

void OpenLanguageDialog(WindowModel& model, LanguageState& language) {
  Dialog d;
  d.key = kLanguageDialog;
  d.title = "Language";
  d.modal = true;
  d.Add(kLanguagePrompt, ControlKind::kLabel, "Select Language:");
  d.Add(kLanguageNote, ControlKind::kLabel);
  d.Add(kLanguageList, ControlKind::kMultiList);
  d.Add(kLanguageSelect, ControlKind::kButton, "Select");
  d.Add(kLanguageOk, ControlKind::kButton, "Ok");
  model.Open(std::move(d));
  // The model shows the names sorted; the catalogue order goes in.
  model.SetLines(kLanguageDialog, kLanguageList, LanguageDisplayNames());
  language.ApplyLanguageFile();
}

void LanguageDialogCommand(WindowModel& model, LanguageState& language, int id) {
  switch (id) {
    case 1:
    case 2:
    case kLanguageClose:
    case kLanguageOk:
      model.Close(kLanguageDialog);
      break;
    case kLanguageSelect: {
      std::vector<int> selection = model.Selection(kLanguageDialog, kLanguageList);
      std::sort(selection.begin(), selection.end());  // list order
      selection.erase(std::unique(selection.begin(), selection.end()), selection.end());
      for (std::size_t i = 0; i < selection.size(); ++i) {
        std::string name, abbreviation;
        if (!model.Line(kLanguageDialog, kLanguageList, selection[i], name) ||
            !FindLanguageCode(name, abbreviation))
          continue;
        language.LocateLanguageFile(abbreviation, name, i == 0);
      }
      break;
    }
    default:
      break;
  }
}

}  // namespace varnox
