// The program's windows as data: every dialog is an object holding its
// controls under their numeric identifiers. Dialog procedures work only on
// this model; the browser renders it from its JSON and sends commands back.
// The user-interface thread and the workers (status line, list reloads)
// write it, so every access takes the model's lock.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace varnox {

enum class ControlKind {
  kLabel,      // static text
  kField,      // read-only field
  kEdit,       // editable field
  kButton,     // push button
  kCheck,      // check box that toggles itself
  kList,       // list box, single selection
  kMultiList,  // list box, several lines selected
};

struct Control {
  ControlKind kind = ControlKind::kLabel;
  std::string text;  // caption or field text
  bool checked = false;
  std::vector<std::string> lines;
  int selected = -1;  // kList: the selected line or -1
  // kList: a verdict per message of the viewer's list (four lines each),
  // true for spam, so the page can set spam apart; "spam" in the JSON.
  std::vector<bool> spam;
  std::vector<int> selection;  // kMultiList: the selected lines
  bool enabled = true;
  bool multiline = false;  // kField/kEdit shown over several lines
  // kEdit: the page lets only digits be typed ("digits" in the JSON); a text
  // set here or sent back is kept as it is, a pre-filled "+" included.
  bool digitsOnly = false;

  // What a browser may set through a request's "controls".
  bool Editable() const {
    return kind == ControlKind::kEdit || kind == ControlKind::kCheck ||
           kind == ControlKind::kList || kind == ControlKind::kMultiList;
  }
};

struct MenuItem {
  int id = 0;  // 0 for a separator or a submenu
  std::string text;
  bool separator = false;
  std::vector<MenuItem> items;  // a submenu when not empty
};

struct Dialog {
  std::string key;    // "main", "messagebox" or the resource number, "120"
  std::string title;  // shown at the top of a full-screen dialog
  bool modal = false;
  bool visible = true;
  bool minimized = false;
  std::vector<int> order;           // the controls, top to bottom
  std::map<int, Control> controls;  // by identifier

  // Adds a control at the bottom.
  Control& Add(int id, ControlKind kind, std::string text = {});
};

struct MessageBoxState {
  std::string text;
  std::string caption;
  std::vector<std::string> buttons;  // "OK", "Cancel": answered by 1 and 2
};

// What the event stream tells the browsers.
struct ModelEvent {
  enum class Kind { kStatus, kChanged, kBye } kind;
  std::string status;                // kStatus: the new status text
  std::vector<std::string> dialogs;  // kChanged: the keys that changed
};

class WindowModel {
 public:
  using Listener = std::function<void(const ModelEvent&)>;

  // The listener hears every change; it is called outside the model's lock.
  void SetListener(Listener listener);

  // Main window.
  void SetMenu(std::vector<MenuItem> menu);
  std::vector<MenuItem> Menu() const;
  // The text of the menu item that carries this command; false when none.
  bool SetMenuText(int command, const std::string& text);
  // A control of the main window itself: the words its page writes, so a
  // language file reaches them like a dialog's captions.
  void AddMainControl(int id, ControlKind kind, std::string text);
  void SetMainMinimized(bool minimized);
  bool MainMinimized() const;
  // The page file was written anew / the help page was found: the browser
  // shows it again.
  void PageWritten();
  void HelpFound();
  int PageVersion() const;
  int HelpVersion() const;

  // Dialogs. Opening a modal dialog makes it the model's modal one.
  void Open(Dialog dialog);
  void Close(const std::string& key);
  bool IsOpen(const std::string& key) const;
  void SetVisible(const std::string& key, bool visible);
  void SetMinimized(const std::string& key, bool minimized);
  std::optional<Dialog> Get(const std::string& key) const;  // a copy
  // The key of the open modal dialog, or empty.
  std::string Modal() const;

  // Controls; a missing dialog or control reads empty and ignores writes.
  void SetText(const std::string& key, int id, std::string text);
  std::string Text(const std::string& key, int id) const;
  // The text of control id in every open dialog where it is a caption
  // (label, button, check box); fields and lists that hold the user's data
  // keep theirs.
  void SetCaptions(int id, const std::string& text);
  void SetChecked(const std::string& key, int id, bool checked);
  bool Checked(const std::string& key, int id) const;
  void SetEnabled(const std::string& key, int id, bool enabled);
  // Replaces the list's lines at once and clears its selection. The lines
  // of a kMultiList are kept sorted (byte order of the ASCII-lower-cased
  // text), so the indexes a browser sends name the lines it shows.
  void SetLines(const std::string& key, int id, std::vector<std::string> lines);
  // The same with the list's spam flags (Control::spam).
  void SetLines(const std::string& key, int id, std::vector<std::string> lines,
                std::vector<bool> spam);
  std::vector<std::string> Lines(const std::string& key, int id) const;
  bool Line(const std::string& key, int id, int index, std::string& line) const;
  int Selected(const std::string& key, int id) const;
  void SetSelected(const std::string& key, int id, int index);
  std::vector<int> Selection(const std::string& key, int id) const;
  void SetSelection(const std::string& key, int id, std::vector<int> indexes);

  // The status line: control 1021 of the viewer; told as a status event.
  void ShowStatus(const std::string& text);

  // Message box: one at a time.
  void ShowMessageBox(MessageBoxState box);
  void CloseMessageBox();
  std::optional<MessageBoxState> MessageBox() const;

  // Sets a dialog's editable controls from a request's "controls" object;
  // anything else in it is ignored. False when it is no object or a value
  // has the wrong type.
  bool ApplyControls(const std::string& key, const nlohmann::json& controls);

  // The whole model, as the browser reads it.
  nlohmann::json ToJson() const;

  // Tells the browsers that these dialogs changed.
  void Changed(std::vector<std::string> keys);
  // Tells the browsers that the program ends.
  void Bye();

 private:
  void Notify(const ModelEvent& event);
  Control* Find(const std::string& key, int id);
  const Control* Find(const std::string& key, int id) const;

  mutable std::mutex mutex_;  // guards: everything below but the listener
  std::map<std::string, Dialog> dialogs_;
  std::vector<MenuItem> menu_;
  Dialog main_;  // the main window: only its controls are used
  bool mainMinimized_ = false;
  int pageVersion_ = 0;
  int helpVersion_ = 0;
  std::string modal_;
  std::optional<MessageBoxState> messageBox_;

  std::mutex listenerMutex_;  // guards: listener_
  Listener listener_;
};

}  // namespace varnox
