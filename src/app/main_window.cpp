#include "app/main_window.h"

#include "app/about_box.h"
#include "app/language_dialog.h"
#include "app/rule_editor.h"
#include "app/shipped_content.h"
#include "app/viewer.h"
#include "app/workers.h"

#include <utility>

namespace varnox {

std::vector<MenuItem> MainMenu() {
  MenuItem action{
      0, "Action", false, {{kCmdSend, "Send", false, {}}, {kCmdUpdate, "Update", false, {}}}};
  MenuItem use{0, "Use", false, {action, {kCmdRules, "Rules", false, {}}}};
  MenuItem help{0,
                "Help",
                false,
                {{kCmdHelp, "Help", false, {}},
                 {kCmdLanguage, "Language", false, {}},
                 {0, "", true, {}},
                 {kCmdAbout, "About", false, {}},
                 {0, "", true, {}},
                 {kCmdHide, "Hide", false, {}},
                 {kCmdExit, "Exit", false, {}}}};
  return {use, help};
}

MainWindow::MainWindow(WindowModel& model, Viewer& viewer, Workers& workers, RuleEditor& ruleEditor,
                       std::function<void()> requestExit, SendAndHelp sendAndHelp)
    : model_(model),
      viewer_(viewer),
      workers_(workers),
      ruleEditor_(ruleEditor),
      requestExit_(std::move(requestExit)),
      sendAndHelp_(std::move(sendAndHelp)),
      send_(model, viewer, sendAndHelp_.sms, sendAndHelp_.strings),
      language_(model, sendAndHelp_.ui, sendAndHelp_.strings, sendAndHelp_.helpFolders,
                ShippedFiles()) {}

void MainWindow::Create() {
  // The words the page writes itself, as labels a language file can reach.
  static constexpr std::pair<int, const char*> kPageWords[] = {
      {1103, "Page"},
      {1104, "Done: show the page"},
      {1105, "Reconnecting…"},
      {1106, "Help is ready"},
      {1107, "Open help"},
      {1108, "Dismiss"},
      {1109, "Varnox has ended"},
      {1110, "The program is no longer running. Start it again to see the messages."},
      {1111, "Back to the list"},
      {1112, "Close"},
      {1113, "Show Varnox"},
      {1114, "Messages"},
      {1115, "Selected message"},
      {1116, "Menu"},
      {1117, "Listed day"},
      {1118, "Messages listed"},
      {1119, "One day nearer"},
      {1120, "One day further back"},
      {1121, "Select a message to see its page."},
      {1122, "No messages on this day."},
      {1123, "Message page"},
      {1124, "Back"},
      {1125, "Count"},
      {1126, "Message"},
  };
  for (const auto& [id, text] : kPageWords) model_.AddMainControl(id, ControlKind::kLabel, text);
  language_.SelectLanguageMenu(language_.Abbreviation());
  viewer_.Open();
  Opened();
}

void MainWindow::Command(const std::string& dialog, int id) {
  if (dialog == "main") {
    MainCommand(id);
  } else if (dialog == kViewerDialog) {
    viewer_.Command(id);
  } else if (dialog == kAboutDialog) {
    AboutBoxCommand(model_, id);
  } else if (dialog == kRuleEditorDialog) {
    ruleEditor_.Command(id);
  } else if (dialog == kSendDialog) {
    send_.Command(id);
  } else if (dialog == kLanguageDialog) {
    LanguageDialogCommand(model_, language_, id);
  }
}

void MainWindow::SelectionChanged(const std::string& dialog, int control) {
  if (dialog == kViewerDialog) viewer_.SelectionChanged(control);
  if (dialog == kRuleEditorDialog) ruleEditor_.SelectionChanged(control);
}

void MainWindow::MainCommand(int id) {
  switch (id) {
    case kCmdAbout:
      language_.NameIfUnnamed();
      OpenAboutBox(model_);
      Opened();
      break;
    case kCmdSend:
      send_.Open();
      Opened();
      break;
    case kCmdLanguage:
      OpenLanguageDialog(model_, language_);
      break;
    case kCmdHelp:
      ShowHelp(model_, sendAndHelp_.ui, sendAndHelp_.strings, sendAndHelp_.helpFolders,
               language_.Abbreviation(), helpPage_);
      break;
    case kCmdHide:
      model_.SetMainMinimized(true);
      break;
    case kCmdStatusIcon:
      model_.SetMainMinimized(false);
      break;
    case kCmdExit:
      requestExit_();
      break;
    case kCmdUpdate:
      workers_.StartRecheck();
      break;
    case kCmdRules:
      ruleEditor_.Open();
      Opened();
      break;
    case kCmdShowPage:
      // The browser is the HTML view: it is always there.
      model_.SetVisible(kViewerDialog, false);
      break;
    case kCmdShowViewer:
      viewer_.Show();
      break;
    default:
      break;  // commands whose dialogs the program does not have yet
  }
}

}  // namespace varnox
