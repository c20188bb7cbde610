// The help command: finds the help page of the interface language (English
// when that language has none) and hands it to the browser, which opens it
// in a new tab from GET /help.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "i18n/interface_strings.h"
#include "web/control_model.h"
#include "web/ui_thread.h"

namespace varnox {

// Where help pages are looked for: the install folder (empty when none was
// found) and the program-files folder, which is the device root.
struct HelpFolders {
  std::string installFolder;
  std::string programFiles;
};

// The candidates, in the order they are tried, for language (an
// abbreviation such as "deu"): the language's page under the install
// folder, then under the program-files folder, then the English ones.
std::vector<std::string> HelpCandidates(const HelpFolders& folders, const std::string& language);

// The page GET /help serves: the one the help command found last.
class HelpPage {
 public:
  std::string Path() const;
  void Set(std::string path);

 private:
  mutable std::mutex mutex_;  // guards: path_ (the UI thread sets it, the server reads it)
  std::string path_;
};

// On the user-interface thread: the first candidate that exists becomes the
// served page and the browser is told (helpVersion). None: message box 117
// with caption 118; found but not readable: 119 with caption 118. Creates
// nothing. Returns the page served, empty when none.
std::string ShowHelp(WindowModel& model, UiThread& ui, const InterfaceStrings& strings,
                     const HelpFolders& folders, const std::string& language, HelpPage& page);

}  // namespace varnox
