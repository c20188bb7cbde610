#include "platform/device.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/unique_fd.h"

namespace varnox {

std::string ResolveDeviceRoot(const std::string& rootOption) {
  if (!rootOption.empty()) return rootOption;
  if (const char* v = std::getenv("VARNOX_ROOT"); v != nullptr && *v != '\0') return v;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x != nullptr && *x == '/')
    return std::string(x) + "/varnox";
  std::string home;
  if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0') {
    home = h;
  } else if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    home = pw->pw_dir;
  }
  return home + "/.local/share/varnox";
}

void StorageCards::EnumStorageCards() {
  names_.clear();
  const DirPtr dir(opendir(root_.c_str()));
  if (!dir) return;
  struct stat rootStat {};
  const bool haveRoot = stat(root_.c_str(), &rootStat) == 0;
  std::vector<std::string> found;
  while (const dirent* e = readdir(dir.get())) {
    const std::string name = e->d_name;
    if (name == "." || name == ".." || name == "Varnox" || name == "Mail" || name == "spool")
      continue;
    if (name.size() > kMaxCardName) continue;
    const std::string path = root_ + "/" + name;
    struct stat l {
    }, s{};
    if (lstat(path.c_str(), &l) != 0 || stat(path.c_str(), &s) != 0 || !S_ISDIR(s.st_mode))
      continue;
    const bool link = S_ISLNK(l.st_mode);
    const bool mountPoint = haveRoot && s.st_dev != rootStat.st_dev;
    if (link || mountPoint) found.push_back(name);
  }
  std::sort(found.begin(), found.end());
  if (found.size() > static_cast<std::size_t>(kMaxStorageCards)) found.resize(kMaxStorageCards);
  names_ = std::move(found);
}

}  // namespace varnox
