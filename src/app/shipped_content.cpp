#include "app/shipped_content.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "analysis/fingerprint.h"
#include "platform/unique_fd.h"

VARNOX_EMBEDDED(varnox_shipped);

namespace varnox {
namespace {

constexpr std::string_view kManifestName = "manifest.txt";

enum class ReadResult { kRead, kMissing, kFailed };

ReadResult ReadWhole(const std::string& path, std::string& bytes) {
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
  bytes.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n == 0) return ReadResult::kRead;
    if (n < 0) {
      if (errno == EINTR) continue;
      return ReadResult::kFailed;
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
}

// Writes bytes under a temporary name beside path and renames it over path,
// so a reader never meets half a file.
bool ReplaceFile(const std::string& path, std::string_view bytes, std::string& error) {
  const std::filesystem::path target(path);
  std::error_code ec;
  std::filesystem::create_directories(target.parent_path(), ec);
  std::string temp = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX"));
  const UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (!fd) {
    error = "cannot write in " + target.parent_path().string() + ": " + std::strerror(errno);
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (done != bytes.size() || ::fchmod(fd.get(), 0644) != 0 ||
      ::rename(temp.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace

std::string InstallPath(std::string_view sharedPath) {
  // share/help/<abbr>/ holds the help pages that the help command looks for
  // under <install folder>/Help/<abbr>/.
  if (sharedPath.starts_with("help/")) return "Help/" + std::string(sharedPath.substr(5));
  // share/emn/ holds the language files, looked for under <install folder>/emn/.
  // The translated menus (share/menus/) are read from the program itself.
  if (sharedPath.starts_with("emn/")) return std::string(sharedPath);
  return {};
}

std::string ContentHash(std::string_view bytes) {
  return Fingerprint(bytes);
}

bool ManifestHasVersion(std::string_view manifest, std::string_view sharedPath,
                        std::string_view hash) {
  while (!manifest.empty()) {
    const std::size_t end = manifest.find('\n');
    std::string_view line = manifest.substr(0, end);
    manifest = end == std::string_view::npos ? std::string_view() : manifest.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t blank = line.rfind(' ');
    if (line.starts_with('#') || blank == std::string_view::npos) continue;
    if (line.substr(0, blank) == sharedPath && line.substr(blank + 1) == hash) return true;
  }
  return false;
}

bool InstallShippedContent(const std::string& installFolder, std::span<const EmbeddedFile> files,
                           std::string_view manifest, std::string& error) {
  error.clear();
  for (const EmbeddedFile& f : files) {
    const std::string relative = InstallPath(f.path);
    if (relative.empty()) continue;
    const std::string path = installFolder + "/" + relative;
    std::string present, failure;
    switch (ReadWhole(path, present)) {
      case ReadResult::kMissing:
        break;
      case ReadResult::kFailed:
        failure = "cannot read " + path + ": " + std::strerror(errno);
        break;
      case ReadResult::kRead: {
        const std::string hash = ContentHash(present);
        // Current already, or changed by the user: either way it stays.
        if (hash == ContentHash(f.data) || !ManifestHasVersion(manifest, f.path, hash)) continue;
        break;
      }
    }
    if (failure.empty() && ReplaceFile(path, f.data, failure)) continue;
    if (!error.empty()) error += "; ";
    error += failure;
  }
  return error.empty();
}

std::span<const EmbeddedFile> ShippedFiles() {
  return varnox_shipped_files();
}

std::string_view ShippedManifest() {
  for (const EmbeddedFile& f : ShippedFiles())
    if (f.path == kManifestName) return f.data;
  return {};
}

bool InstallShippedContent(const std::string& installFolder, std::string& error) {
  return InstallShippedContent(installFolder, ShippedFiles(), ShippedManifest(), error);
}

}  // namespace varnox
