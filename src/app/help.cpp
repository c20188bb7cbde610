#include "app/help.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_tests.h"
#include "platform/unique_fd.h"
#include "storage/data_locations.h"

namespace varnox {
namespace {

// Whether the page can be served: a regular file that reads to its end. A
// pipe or device under the page's name would pass the existence test but
// could block the server or send something that is no page.
bool Servable(const std::string& path) {
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd.get(), buffer, sizeof buffer)) > 0) {
  }
  return n == 0;
}

}  // namespace

std::vector<std::string> HelpCandidates(const HelpFolders& folders, const std::string& language) {
  const std::string base = folders.installFolder.empty() ? folders.programFiles + "/" + kProductName
                                                         : folders.installFolder;
  const std::string programs = folders.programFiles + "/" + kProductName;
  auto page = [](const std::string& folder, const std::string& abbr) {
    return folder + "/Help/" + abbr + "/index." + abbr + ".htm";
  };
  return {page(base, language), page(programs, language), page(base, "eng"), page(programs, "eng")};
}

std::string HelpPage::Path() const {
  std::lock_guard<std::mutex> guard(mutex_);  // guards path_
  return path_;
}

void HelpPage::Set(std::string path) {
  std::lock_guard<std::mutex> guard(mutex_);  // guards path_
  path_ = std::move(path);
}

std::string ShowHelp(WindowModel& model, UiThread& ui, const InterfaceStrings& strings,
                     const HelpFolders& folders, const std::string& language, HelpPage& page) {
  for (const std::string& candidate : HelpCandidates(folders, language)) {
    if (!FileExists(candidate)) continue;
    if (!Servable(candidate)) {
      ui.MessageBox(strings.Get(119), strings.Get(118));
      return {};
    }
    page.Set(candidate);
    model.HelpFound();
    return candidate;
  }
  ui.MessageBox(strings.Get(117), strings.Get(118), {"OK", "Cancel"});
  return {};
}

}  // namespace varnox
