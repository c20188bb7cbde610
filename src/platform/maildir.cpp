#include "platform/maildir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <thread>
#include <unordered_map>
#include <utility>

#include "platform/clock.h"
#include "platform/unique_fd.h"

namespace varnox {
namespace {

// A header block larger than this is cut: the columns come from its start,
// and a huge message never costs more than this much reading.
constexpr std::size_t kMaxHeaderBytes = 256 * 1024;
constexpr std::size_t kHeaderReadStep = 16 * 1024;

// A folder changed this recently may change again within the same timestamp
// tick without its time moving; such a listing is used once, not kept.
constexpr long long kRacyNanoseconds = 2'000'000'000LL;

constexpr const char* kSubfolders[] = {"new", "cur"};

// What identifies a folder's state: the folder itself and its modification
// time, which every create, rename and delete inside it moves.
struct DirStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  long long mtime = 0;
  bool operator==(const DirStamp&) const = default;
};

DirStamp StampOf(const struct stat& st) {
  return DirStamp{st.st_dev, st.st_ino, Nanoseconds(st.st_mtim)};
}

bool StampPath(const std::string& path, DirStamp& stamp) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  stamp = StampOf(st);
  return true;
}

long long NowNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return Nanoseconds(now);
}

bool IsSubfolder(const std::string& s) {
  return s == "new" || s == "cur";
}

bool IsPlainName(const std::string& name) {
  return !name.empty() && name.front() != '.' && name.find('/') == std::string::npos;
}

// The unique part of a Maildir name: everything before the ":2," info.
std::string_view EntryIdOf(std::string_view fileName) {
  const std::size_t info = fileName.rfind(":2,");
  return info == std::string_view::npos ? fileName : fileName.substr(0, info);
}

bool IsSeen(std::string_view fileName) {
  const std::size_t info = fileName.rfind(":2,");
  return info != std::string_view::npos &&
         fileName.substr(info + 3).find('S') != std::string_view::npos;
}

// Whether a directory entry is a regular file, asking the file system only
// when readdir cannot tell.
bool IsRegularEntry(int dirFd, const dirent* e) {
  if (e->d_type == DT_REG) return true;
  if (e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) return false;
  struct stat st {};
  return ::fstatat(dirFd, e->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
}

DirPtr OpenDir(const std::string& path, DirStamp& stamp) {
  DirPtr dir(::opendir(path.c_str()));
  if (dir == nullptr) return dir;
  struct stat st {};
  if (::fstat(::dirfd(dir.get()), &st) != 0) return DirPtr();
  stamp = StampOf(st);
  return dir;
}

bool ReadFull(int fd, char* data, std::size_t size, std::size_t& got) {
  got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, data + got, size - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

enum class HeaderRead { kRead, kGone, kUnreadable };

// The start of a file up to its first empty line, at most kMaxHeaderBytes.
HeaderRead ReadHeaderBlock(int dirFd, const char* name, std::string& block) {
  block.clear();
  UniqueFd fd(::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) return errno == ENOENT ? HeaderRead::kGone : HeaderRead::kUnreadable;
  std::size_t scanned = 0;
  while (block.size() < kMaxHeaderBytes) {
    const std::size_t old = block.size();
    const std::size_t want = std::min(kHeaderReadStep, kMaxHeaderBytes - old);
    block.resize(old + want);
    std::size_t got = 0;
    if (!ReadFull(fd.get(), block.data() + old, want, got)) return HeaderRead::kUnreadable;
    block.resize(old + got);
    if (got < want) break;  // the whole file
    if (block.starts_with("\n") || block.starts_with("\r\n")) break;
    const std::string_view view(block);
    const std::size_t from = scanned > 2 ? scanned - 2 : 0;
    if (view.find("\n\n", from) != std::string_view::npos ||
        view.find("\n\r\n", from) != std::string_view::npos)
      break;
    scanned = block.size();
  }
  return HeaderRead::kRead;
}

bool MakeFolder(const std::string& path, mode_t mode) {
  if (::mkdir(path.c_str(), mode) == 0) return true;
  if (errno != EEXIST) return false;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

enum class MoveResult { kMoved, kSourceGone, kFailed };

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

MoveResult SourceGoneOrFailed(const std::string& src) {
  return Exists(src) ? MoveResult::kFailed : MoveResult::kSourceGone;
}

// One rename that never replaces an existing file at dst.
MoveResult RenameNoReplace(const std::string& src, const std::string& dst) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0)
    return MoveResult::kMoved;
  if (errno == ENOENT) return SourceGoneOrFailed(src);
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return MoveResult::kFailed;
#endif
  // The file system cannot refuse to replace: a hard link can.
  if (::link(src.c_str(), dst.c_str()) == 0) {
    if (::unlink(src.c_str()) == 0) return MoveResult::kMoved;
    ::unlink(dst.c_str());  // back to one copy, in the inbox
    return MoveResult::kFailed;
  }
  if (errno == ENOENT) return SourceGoneOrFailed(src);
  if (errno != EPERM && errno != EOPNOTSUPP) return MoveResult::kFailed;
  // No hard links either: check, then rename.
  if (Exists(dst)) return MoveResult::kFailed;
  if (::rename(src.c_str(), dst.c_str()) == 0) return MoveResult::kMoved;
  if (errno == ENOENT) return SourceGoneOrFailed(src);
  return MoveResult::kFailed;
}

// A row as kept between listings.
struct CachedRow {
  MailRow row;
  bool headersRead = false;  // false: could not be read, try again next time
};

// Whether a sorts before b in a contents table: newest first, equal times by
// name (and folder, for two files of one name).
bool RowBefore(const MailRow& a, const MailRow& b) {
  if (a.deliveryTime != b.deliveryTime) return a.deliveryTime > b.deliveryTime;
  if (const int cmp = a.fileName.compare(b.fileName); cmp != 0) return cmp < 0;
  return a.subfolder < b.subfolder;
}

// The rows of one folder (index i of kSubfolders), sorted, every file a row
// of its own (two files may share a unique part). Header columns come from
// the folder's last rows when the file's name, size and time are unchanged
// (they move out of last, which the caller replaces with the result),
// otherwise from its header block.
std::vector<CachedRow> ReadDirRows(DIR* dir, int i, std::vector<CachedRow>& last) {
  std::unordered_map<std::string_view, CachedRow*> known;
  known.reserve(last.size());
  for (CachedRow& r : last) known.emplace(r.row.fileName, &r);

  std::vector<CachedRow> rows;
  rows.reserve(last.size() + 16);
  std::string block;
  const int fd = ::dirfd(dir);
  while (const dirent* e = ::readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) continue;
    struct stat st {};
    // A file renamed or removed since readdir saw it is simply not listed.
    if (::fstatat(fd, e->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
    CachedRow r;
    r.row.fileName = e->d_name;
    r.row.subfolder = kSubfolders[i];
    r.row.deliveryTime = st.st_mtim.tv_sec;
    r.row.deliveryNanos = st.st_mtim.tv_nsec;
    r.row.size = st.st_size;
    r.row.inode = st.st_ino;
    r.row.read = IsSeen(r.row.fileName);
    const auto hit = known.find(r.row.fileName);
    if (hit != known.end() && hit->second->headersRead && hit->second->row.size == r.row.size &&
        hit->second->row.deliveryTime == r.row.deliveryTime &&
        hit->second->row.deliveryNanos == r.row.deliveryNanos) {
      MailRow& cached = hit->second->row;
      r.row.entryId = std::move(cached.entryId);
      r.row.subject = std::move(cached.subject);
      r.row.senderName = std::move(cached.senderName);
      r.row.senderAddress = std::move(cached.senderAddress);
      r.headersRead = true;
    } else {
      r.row.entryId = EntryIdOf(r.row.fileName);
      const HeaderRead read = ReadHeaderBlock(fd, e->d_name, block);
      if (read == HeaderRead::kGone) continue;
      if (read == HeaderRead::kRead) {
        MailHeaders h = ParseMailHeaders(block);
        r.row.subject = std::move(h.subject);
        r.row.senderName = std::move(h.senderName);
        r.row.senderAddress = std::move(h.senderAddress);
        r.headersRead = true;
      }
      // An unreadable file is still a row: the inbox count includes it too.
    }
    rows.push_back(std::move(r));
  }
  // Sorted by index, then moved once: cheaper than swapping whole rows.
  std::vector<std::uint32_t> order(rows.size());
  for (std::uint32_t k = 0; k < order.size(); ++k) order[k] = k;
  std::sort(order.begin(), order.end(),
            [&](std::uint32_t x, std::uint32_t y) { return RowBefore(rows[x].row, rows[y].row); });
  std::vector<CachedRow> sorted;
  sorted.reserve(rows.size());
  for (const std::uint32_t k : order) sorted.push_back(std::move(rows[k]));
  return sorted;
}

}  // namespace

// Every LF not preceded by CR becomes CR LF, within the string's own memory
// when it has room, so a 100 MB message is not held twice.
void ExpandBareLineFeeds(std::string& s) {
  // Counted without a branch per byte, so the compiler can vectorize it;
  // most mail files on Linux need every line end expanded.
  const auto* u = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t size = s.size();
  std::size_t bare = size > 0 && u[0] == '\n' ? 1 : 0;
  for (std::size_t i = 1; i < size; ++i)
    bare += static_cast<std::size_t>((u[i] == '\n') & (u[i - 1] != '\r'));
  if (bare == 0) return;
  if (size + bare > s.capacity()) {
    s = CanonicalLineEnds(s);
    return;
  }
  s.resize(size + bare);
  char* d = s.data();
  // From the end backwards: every write lands at or after the byte being
  // read, so the byte before each LF is still the original one.
  std::size_t src = size;
  std::size_t dst = size + bare;
  while (bare > 0) {
    // An LF lies below src while bare LFs remain.
    const std::size_t i = static_cast<std::size_t>(
        static_cast<const char*>(memrchr(d, '\n', src)) - d);
    const std::size_t tail = src - i - 1;
    dst -= tail;
    std::memmove(d + dst, d + i + 1, tail);
    d[--dst] = '\n';
    if (i == 0 || d[i - 1] != '\r') {
      d[--dst] = '\r';
      --bare;
    }
    src = i;
  }
}

struct MailStore::Cache {
  explicit Cache(const std::string& path) : newPath(path + "/new"), curPath(path + "/cur") {}
  std::string newPath;
  std::string curPath;

  // The last count of new/ and of cur/, and the folder state it was taken
  // at; kept only when that state can be trusted (not racy).
  struct Count {
    bool valid = false;
    DirStamp stamp;
    int count = 0;
  };
  Count counts[2];

  // The last rows of new/ and of cur/, each sorted, and the folder state
  // they were read at: an arrival in new/ does not list cur/ again.
  struct Listing {
    bool valid = false;
    DirStamp stamp;
    std::vector<CachedRow> rows;
  };
  Listing listings[2];

  const std::string& DirPath(int i) const { return i == 0 ? newPath : curPath; }
};

MailStore::MailStore(std::string name, std::string path)
    : name_(std::move(name)), path_(std::move(path)), cache_(std::make_unique<Cache>(path_)) {}
MailStore::MailStore(MailStore&&) noexcept = default;
MailStore& MailStore::operator=(MailStore&&) noexcept = default;
MailStore::~MailStore() = default;

bool MailStore::HasInbox() const {
  DirStamp stamp;
  return StampPath(path_ + "/new", stamp) && StampPath(path_ + "/cur", stamp);
}

int MailStore::InboxRowCount() {
  if (!cache_) cache_ = std::make_unique<Cache>(path_);
  Cache& c = *cache_;
  int count = 0;
  for (int i = 0; i < 2; ++i) {
    Cache::Count& n = c.counts[i];
    DirStamp stamp;
    if (n.valid && StampPath(c.DirPath(i), stamp) && stamp == n.stamp) {
      count += n.count;
      continue;
    }
    n.valid = false;
    const long long now = NowNanoseconds();
    DirPtr dir = OpenDir(c.DirPath(i), n.stamp);
    if (dir == nullptr) continue;
    const int fd = ::dirfd(dir.get());
    n.count = 0;
    while (const dirent* e = ::readdir(dir.get())) {
      if (e->d_name[0] == '.') continue;
      if (IsRegularEntry(fd, e)) ++n.count;
    }
    n.valid = now - n.stamp.mtime >= kRacyNanoseconds;
    count += n.count;
  }
  return count;
}

bool MailStore::OpenSpamFolder() {
  struct stat root {};
  if (::stat(path_.c_str(), &root) != 0 || !S_ISDIR(root.st_mode)) return false;
  // Like Dovecot, a new folder takes the permissions of the Maildir root.
  const mode_t mode = root.st_mode & 0777;
  const std::string spam = path_ + "/.Spam";
  if (!MakeFolder(spam, mode)) return false;
  for (const char* sub : {"tmp", "new", "cur"}) {
    if (!MakeFolder(spam + "/" + sub, mode)) return false;
  }
  const std::string marker = spam + "/maildirfolder";
  struct stat st {};
  if (::stat(marker.c_str(), &st) == 0) return S_ISREG(st.st_mode);
  UniqueFd fd(::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, mode & 0666));
  return static_cast<bool>(fd);
}

bool MailStore::ContentsTable(std::vector<MailRow>& rows) {
  if (!cache_) cache_ = std::make_unique<Cache>(path_);
  Cache& c = *cache_;
  DirStamp stamps[2];
  for (int i = 0; i < 2; ++i) {
    Cache::Listing& l = c.listings[i];
    DirStamp stamp;
    if (l.valid && StampPath(c.DirPath(i), stamp) && stamp == l.stamp) {
      stamps[i] = stamp;
      continue;
    }
    l.valid = false;
    const long long now = NowNanoseconds();
    DirPtr dir = OpenDir(c.DirPath(i), stamps[i]);
    if (dir == nullptr) {
      rows.clear();
      return false;
    }
    l.rows = ReadDirRows(dir.get(), i, l.rows);
    l.stamp = stamps[i];
    l.valid = now - stamps[i].mtime >= kRacyNanoseconds;
    c.counts[i] = Cache::Count{l.valid, l.stamp, static_cast<int>(l.rows.size())};
  }
  const std::vector<CachedRow>& a = c.listings[0].rows;
  const std::vector<CachedRow>& b = c.listings[1].rows;
  // The two folders' rows merged. Element-wise assignment reuses the strings
  // of a caller's vector that already held the table, so an unchanged inbox
  // costs no allocation.
  rows.resize(a.size() + b.size());
  std::size_t i = 0, j = 0, k = 0;
  while (i < a.size() || j < b.size()) {
    const bool fromA = j == b.size() || (i < a.size() && !RowBefore(b[j].row, a[i].row));
    rows[k++] = fromA ? a[i++].row : b[j++].row;
  }
  return true;
}

bool MailStore::ReadMimeText(const MailRow& row, std::string& text, std::string& error) const {
  text.clear();
  error.clear();
  UniqueFd fd;
  std::string subfolder, fileName;
  if (FindRow(row, subfolder, fileName)) {
    const std::string path = path_ + "/" + subfolder + "/" + fileName;
    fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  }
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "OpenProperty failed.";
    return false;
  }
  ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  const auto size = static_cast<std::size_t>(st.st_size);
  // Room for the CRs of typical line lengths, so they go in without a copy.
  text.reserve(size + size / 32 + 64);
  text.resize(size);
  std::size_t got = 0;
  bool ok = ReadFull(fd.get(), text.data(), size, got);
  text.resize(got);
  if (ok && got == size) {
    // A file that grew since fstat is read to its end.
    char chunk[16384];
    std::size_t more = 0;
    while ((ok = ReadFull(fd.get(), chunk, sizeof chunk, more)) && more > 0)
      text.append(chunk, more);
  }
  if (!ok) {
    text.clear();
    error = "OpenProperty failed.";
    return false;
  }
  if (text.empty()) {
    error = "BodySize failed.";
    return false;
  }
  ExpandBareLineFeeds(text);
  return true;
}

bool MailStore::StillThere(const MailRow& row) const {
  std::string subfolder, fileName;
  return FindRow(row, subfolder, fileName);
}

namespace {

// Whether the file at path is the row's (by inode, as the listing saw it; a
// row without one takes any file).
bool IsRowFile(const std::string& path, const MailRow& row) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && (row.inode == 0 || st.st_ino == row.inode);
}

}  // namespace

bool MailStore::FindRow(const MailRow& row, std::string& subfolder, std::string& fileName) const {
  if (!IsSubfolder(row.subfolder) || !IsPlainName(row.fileName)) return false;
  if (IsRowFile(path_ + "/" + row.subfolder + "/" + row.fileName, row)) {
    subfolder = row.subfolder;
    fileName = row.fileName;
    return true;
  }
  if (row.entryId.empty()) return false;
  for (const char* sub : kSubfolders) {
    const std::string folder = path_ + "/" + sub;
    DirPtr dir(::opendir(folder.c_str()));
    if (dir == nullptr) continue;
    while (const dirent* e = ::readdir(dir.get())) {
      if (e->d_name[0] == '.' || EntryIdOf(e->d_name) != row.entryId) continue;
      if (!IsRowFile(folder + "/" + e->d_name, row)) continue;
      subfolder = sub;
      fileName = e->d_name;
      return true;
    }
  }
  return false;
}

namespace {

// Dovecot keeps a message's custom keywords as the letters a-z among its
// flags, each the index of a line "N name" of the folder's dovecot-keywords:
// a letter names a keyword only within its own folder.
constexpr int kMaxKeywords = 26;
using KeywordNames = std::array<std::string, kMaxKeywords>;

bool ReadKeywords(const std::string& folder, KeywordNames& names) {
  names = {};
  std::string text;
  {
    UniqueFd fd(::open((folder + "/dovecot-keywords").c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd) return false;
    char chunk[4096];
    std::size_t got = 0;
    while (ReadFull(fd.get(), chunk, sizeof chunk, got) && got > 0) text.append(chunk, got);
  }
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string_view line = std::string_view(text).substr(at, end - at);
    at = end + 1;
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) continue;
    int index = -1;
    const auto [stop, error] = std::from_chars(line.data(), line.data() + space, index);
    if (error == std::errc() && stop == line.data() + space && index >= 0 && index < kMaxKeywords)
      names[index] = line.substr(space + 1);
  }
  return true;
}

// The name a message takes in .Spam, so that Dovecot shows it with the same
// keywords there: each keyword letter becomes the index the spam folder
// gives that keyword, and a keyword new to the spam folder is added to its
// dovecot-keywords. The whole map is written to dovecot-keywords.lock
// (created exclusively, so two scans never interleave) and renamed over the
// file, as Dovecot replaces it; Dovecot does not wait for that lock, so a
// client adding a keyword in the same instant may win. A letter the inbox
// names no keyword (or one finding no free index) is dropped rather than
// shown as another keyword. Without the inbox's dovecot-keywords the letters
// are not Dovecot's and the name stays; so it does when the lock stays taken.
std::string SpamFileName(const std::string& inbox, const std::string& fileName) {
  const std::size_t info = fileName.rfind(":2,");
  if (info == std::string::npos) return fileName;
  const std::string flags = fileName.substr(info + 3);
  KeywordNames from, to;
  if (std::none_of(flags.begin(), flags.end(), [](char c) { return c >= 'a' && c <= 'z'; }) ||
      !ReadKeywords(inbox, from))
    return fileName;
  const std::string spam = inbox + "/.Spam";
  const std::string lock = spam + "/dovecot-keywords.lock";
  UniqueFd fd;
  for (int attempt = 0; attempt < 20 && !fd; ++attempt) {
    fd = UniqueFd(::open(lock.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600));
    if (!fd && errno != EEXIST) return fileName;
    if (!fd) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!fd) return fileName;
  ReadKeywords(spam, to);
  bool added = false;
  std::string kept;
  for (const char c : flags) {
    if (c < 'a' || c > 'z') {
      kept += c;
      continue;
    }
    const std::string& name = from[c - 'a'];
    if (name.empty()) continue;
    auto slot = std::find(to.begin(), to.end(), name);
    if (slot == to.end()) {
      slot = std::find(to.begin(), to.end(), std::string());
      if (slot == to.end()) continue;
      *slot = name;
      added = true;
    }
    kept += static_cast<char>('a' + (slot - to.begin()));
  }
  bool written = !added;
  if (added) {
    std::string text;
    for (int i = 0; i < kMaxKeywords; ++i)
      if (!to[i].empty()) text += std::to_string(i) + " " + to[i] + "\n";
    written = ::write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
              ::rename(lock.c_str(), (spam + "/dovecot-keywords").c_str()) == 0;
  }
  if (!written || !added) ::unlink(lock.c_str());
  if (!written) return fileName;
  std::sort(kept.begin(), kept.end());
  kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
  return fileName.substr(0, info + 3) + kept;
}

}  // namespace

bool MailStore::MoveToSpam(const MailRow& row) {
  std::string subfolder, fileName;
  // A mail client may rename the message (new flags, new/ to cur/) at any
  // moment: follow it a few times, then give up.
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (!FindRow(row, subfolder, fileName)) return false;
    const MoveResult r =
        RenameNoReplace(path_ + "/" + subfolder + "/" + fileName,
                        path_ + "/.Spam/" + subfolder + "/" + SpamFileName(path_, fileName));
    if (r == MoveResult::kMoved) return true;
    if (r == MoveResult::kFailed) return false;
  }
  return false;
}

bool ListMailStores(const std::string& mailFolder,
                    std::vector<std::pair<std::string, std::string>>& stores, bool create) {
  stores.clear();
  std::error_code ec;
  if (create) std::filesystem::create_directories(mailFolder, ec);
  DirPtr dir(::opendir(mailFolder.c_str()));
  if (dir == nullptr) return false;
  const int fd = ::dirfd(dir.get());
  while (const dirent* e = ::readdir(dir.get())) {
    if (e->d_name[0] == '.') continue;
    struct stat st {};
    if (::fstatat(fd, e->d_name, &st, 0) != 0 || !S_ISDIR(st.st_mode)) continue;
    stores.emplace_back(e->d_name, mailFolder + "/" + e->d_name);
  }
  std::sort(stores.begin(), stores.end());
  return true;
}

}  // namespace varnox
