// The rule editor (dialog 119): lists, adds and deletes the spam rules,
// modal over the main window and pre-filled with the viewer's selection, so
// that a rule is made from a message in two taps. The store scan stands
// still while it is open; closing after a change reloads the rules and
// re-checks every logged message.
#pragma once

#include <functional>
#include <string>

#include "i18n/interface_strings.h"
#include "storage/init_storage.h"
#include "web/control_model.h"

namespace varnox {

class Viewer;
class Workers;

inline constexpr char kRuleEditorDialog[] = "119";

// Shows a message box (text, caption) with OK and Cancel and waits for the
// answer (1 OK, 2 Cancel).
using RuleEditorMessageBox =
    std::function<int(const std::string& text, const std::string& caption)>;

class RuleEditor {
 public:
  RuleEditor(WindowModel& model, Storage& storage, Viewer& viewer, Workers& workers,
             const InterfaceStrings& strings, RuleEditorMessageBox messageBox);
  RuleEditor(const RuleEditor&) = delete;
  RuleEditor& operator=(const RuleEditor&) = delete;

  // Opens the dialog (modal) and pauses the scan until it closes.
  void Open();
  // The dialog procedure, on the user-interface thread: 1033 Add, 1034
  // Delete; 1, 2, 20013 and 20015 close.
  void Command(int id);
  void SelectionChanged(int control);
  // Reloads the rule table and refills the list and the count.
  void FillRuleList();

 private:
  void Add();
  void Delete();
  void Close();

  WindowModel& model_;
  Storage& storage_;
  Viewer& viewer_;
  Workers& workers_;
  const InterfaceStrings& strings_;
  RuleEditorMessageBox messageBox_;
  bool changed_ = false;  // a rule was added or deleted since the opening
};

}  // namespace varnox
