// The main window: its two soft keys and their menu, the status icon, and the
// commands that turn into the dialogs and actions of the program.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/help.h"
#include "app/language.h"
#include "app/send_dialog.h"
#include "web/control_model.h"
#include "web/ui_thread.h"

namespace varnox {

class RuleEditor;
class Viewer;
class Workers;

// Main-window commands.
enum MainCommand {
  kCmdHelp = 40004,
  kCmdLanguage = 40005,
  kCmdAbout = 40006,
  kCmdHide = 40007,
  kCmdExit = 40008,
  kCmdSend = 40010,
  kCmdRules = 40016,
  kCmdUpdate = 40018,
  kCmdShowPage = 40019,
  kCmdShowViewer = 40020,
  kCmdStatusIcon = 5000,  // the tap on the status icon
};

// The English menu (116): the soft keys "Use" and "Help" with the
// commands the program offers.
std::vector<MenuItem> MainMenu();

// What "Send" and "Help" work with.
struct SendAndHelp {
  UiThread& ui;
  SmsSender& sms;
  InterfaceStrings& strings;  // a language file replaces them
  // Where help pages and language files are looked for.
  HelpFolders helpFolders;
};

class MainWindow : public DialogProcedures {
 public:
  // requestExit ends the program (from the user-interface thread).
  MainWindow(WindowModel& model, Viewer& viewer, Workers& workers, RuleEditor& ruleEditor,
             std::function<void()> requestExit, SendAndHelp sendAndHelp);

  // Creation: the menu bar, then the viewer over the main window.
  void Create();

  void Command(const std::string& dialog, int id) override;
  void SelectionChanged(const std::string& dialog, int control) override;

  // The help page GET /help serves; any thread.
  std::string HelpFilePath() const { return helpPage_.Path(); }

  LanguageState& Language() { return language_; }

 private:
  void MainCommand(int id);
  // A dialog just opened: it shows the current language too.
  void Opened() { language_.ApplyLanguageFile(); }

  WindowModel& model_;
  Viewer& viewer_;
  Workers& workers_;
  RuleEditor& ruleEditor_;
  std::function<void()> requestExit_;
  SendAndHelp sendAndHelp_;
  SendDialog send_;
  HelpPage helpPage_;
  LanguageState language_;
};

}  // namespace varnox
