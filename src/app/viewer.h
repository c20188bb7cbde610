// The message viewer (dialog 120): the messages logged on one chosen day,
// filtered by verdict, four list lines per message; the selected one fills
// the sender, time and message fields and becomes the page of the main
// window's HTML view. It also owns the status line and the list lock.
#pragma once

#include <array>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "i18n/interface_strings.h"
#include "mailstore/scan.h"
#include "storage/init_storage.h"
#include "web/control_model.h"

namespace varnox {

inline constexpr char kViewerDialog[] = "120";
inline constexpr int kMaxListedMessages = 512;
// Under the selected message: which rule marks it as spam now, or that none
// does.
inline constexpr int kWhyField = 1101;
inline constexpr int kWhyLabel = 1102;

// Which logged message a group of list lines stands for: by kind, store and
// Id, so no Id of either log can be mistaken for the other kind.
struct MessageKey {
  enum class Kind { kNone, kSms, kMail };
  Kind kind = Kind::kNone;
  int store = -1;  // kMail: index in the scan's store table
  int id = 0;
  bool operator==(const MessageKey&) const = default;
};

// What the send dialog and the rule editor pre-fill their fields from.
struct ViewerSelectionTexts {
  std::string sender;
  std::string text;
  std::string response;
};

// Whether two texts are equal once CR LF and a lone CR count as LF: a
// browser's multi-line field hands its text back with LF line ends.
bool SameUpToLineEnds(std::string_view a, std::string_view b);

class Viewer {
 public:
  // stores: the scan's store table (read, never changed); pageFolder: where
  // cmsg.htm is written (the install folder).
  Viewer(WindowModel& model, Storage& storage, const StoreScan& stores, std::string pageFolder,
         const InterfaceStrings& strings);
  Viewer(const Viewer&) = delete;
  Viewer& operator=(const Viewer&) = delete;

  // What "Update", "+" and "-" start: a list reload on a worker; true when
  // one was started. Until it is set no reload starts.
  void SetListReloadStarter(std::function<bool()> start);

  // Creates the dialog, visible, and fills the list for today (Normal
  // checked) on the calling thread.
  void Open();
  // Shows the dialog again after Cancel or Done (the main window's 40020).
  void Show();
  // The dialog procedure, on the user-interface thread: 1 Done (minimise),
  // 2 Cancel (hide), 1018 Update, 1027 "+", 1029 "-".
  void Command(int id);
  void SelectionChanged(int control);

  // Refills the list under the list lock; any thread.
  void ReloadMessageList();
  // Fills the fields and writes the page for the list's selection.
  void ShowSelectedMessage();
  // Writes page as <page folder>/cmsg.htm; path receives its path. False
  // when it cannot be written (the previous page then stays).
  bool WritePageFile(const std::string& page, std::string& path);
  // The status line; any thread; empty text clears it.
  void ShowStatus(const std::string& text);

  // The path of the page last written (GET /page), empty before.
  std::string PageFilePath() const;
  // Keeps the list still: no reload fills it while the lock is held.
  std::unique_lock<std::mutex> HoldList();

  // Thread-safe copies for the rule editor and the send dialog.
  MessageKey MessageIdTable(int index) const;  // kNone beyond the table
  ViewerSelectionTexts ViewerSelection() const;
  std::optional<std::string> SelectedMailText() const;
  // The full text of the e-mail selected last (as SelectedMailText), but
  // only while shown is still the text that this selection put into the
  // fields (SameUpToLineEnds): after an edit, or once another message is
  // selected, none.
  std::optional<std::string> SelectedMailTextFor(const std::string& shown) const;
  int DayCount() const;

 private:
  bool ChangeDayCount(int delta);
  // The why line of a listed message; empty when its row cannot be read.
  std::string WhySpam(const MessageKey& key);

  WindowModel& model_;
  Storage& storage_;
  const StoreScan& stores_;
  const std::string pageFolder_;
  const InterfaceStrings& strings_;

  std::mutex listMutex_;  // the list lock: one filling of the list at a time

  // guards: the day field's change by "+"/"-" and its reading by a reload,
  // dayCount_ and startReload_
  mutable std::mutex dayMutex_;
  int dayCount_ = 0;
  std::function<bool()> startReload_;

  // guards: ids_, selection_, mailText_, mailShownAs_, pagePath_
  mutable std::mutex stateMutex_;
  std::array<MessageKey, kMaxListedMessages> ids_{};
  ViewerSelectionTexts selection_;
  std::optional<std::string> mailText_;
  // The selection's text when the selection is the e-mail of mailText_.
  std::optional<std::string> mailShownAs_;
  std::string pagePath_;
};

}  // namespace varnox
