#include "storage/data_locations.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/file_tests.h"
#include "platform/unique_fd.h"
#include "storage/sqlite_db.h"

namespace varnox {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
long DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

CalendarDate CivilFromDays(long z) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const long doe = z - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {static_cast<int>(yoe + era * 400 + (m <= 2)), m, d};
}

std::string Join(const std::string& a, const std::string& b) {
  return a.empty() || a.back() == '/' ? a + b : a + "/" + b;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

CalendarDate DaysAgo(CalendarDate date, int n) {
  return CivilFromDays(DaysFromCivil(date.year, date.month, date.day) - (n < 0 ? 0 : n));
}

void SanitizeSqlText(std::string& text) {
  for (char& c : text)
    if (c == '\'') c = ' ';
}

void CreateDirectoryChain(const std::string& path) {
  for (std::size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos == path.size() || path[pos] == '/') ::mkdir(path.substr(0, pos).c_str(), 0755);
  }
}

void ExecOnce(const std::string& path, const std::string& statement) {
  Database db;
  if (!db.OpenOrReport(path)) return;
  std::string error;
  const int rc = db.Exec(statement, &error);
  if (rc != SQLITE_OK && rc != 1) std::fprintf(stderr, "SQL error: %s\n", error.c_str());
  db.Close();
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool IsSmsLogPath(const std::string& path) {
  return path.find(kSmsLogFile) != std::string::npos;
}

DataLocations::DataLocations(std::string deviceRoot, const Clock& clock)
    : root_(std::move(deviceRoot)), clock_(clock), cards_(root_) {
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

DataLocations::~DataLocations() = default;

void DataLocations::FindInstallFolder() {
  auto accepted = [](const std::string& exe) { return FileExists(exe) && !FileWritable(exe); };
  const std::string product = kProductName;
  const std::string folder = Join(root_, product);
  if (accepted(folder + "/" + product)) {
    SetInstallFolder(folder);
    return;
  }
  SetInstallFolder("");
  cards_.EnumStorageCards();
  for (int i = 0; i < cards_.GetStorageCardCount(); ++i) {
    const std::string cardFolder = Join(Join(root_, cards_.GetStorageCardName(i)), product);
    if (accepted(cardFolder + "/" + product)) {
      SetInstallFolder(cardFolder);
      return;
    }
  }
}

std::string DataLocations::InstallFolder() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return installFolder_.empty() ? Join(root_, kProductName) : installFolder_;
}

void DataLocations::SetInstallFolder(const std::string& folder) {
  std::lock_guard<std::mutex> guard(mutex_);
  installFolder_ = folder;
}

std::string DataLocations::LanguageFolder() const {
  return InstallFolder() + "/emn";
}

std::string DataLocations::DataFolder() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return dataFolder_;
}

void DataLocations::UseDataFolder(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  std::lock_guard<std::mutex> guard(mutex_);
  dataFolder_ = std::move(folder);
  handedOver_ = true;
}

std::string DataLocations::StorageCardName() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return cardName_;
}

void DataLocations::SetStorageCardName(const std::string& name) {
  std::lock_guard<std::mutex> guard(mutex_);
  cardName_ = name;
}

bool DataLocations::FindDataFile(const std::string& file, const std::string& cardName,
                                 const std::string& tail, std::string& folder) const {
  std::vector<std::string> candidates;
  if (!cardName.empty()) candidates.push_back(Join(Join(Join(root_, cardName), tail), file));
  candidates.push_back(Join(Join(root_, tail), file));
  candidates.push_back(Join(Join(ProgramFilesFolder(), tail), file));
  for (const std::string& path : candidates) {
    if (FileExists(path)) {
      folder = FolderOf(path);
      return true;
    }
  }
  return false;
}

bool DataLocations::ResolveSmsLogPath(std::string& path, std::string& table) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!dataFolder_.empty()) {
      path = dataFolder_ + kSmsLogFile;
      table = kSmsLogTable;
      return true;
    }
    if (handedOver_) return false;
  }
  path.clear();
  table.clear();
  std::string folder;
  if (!FindDataFile(kSmsLogFile, StorageCardName(), std::string(kProductName) + "/dba", folder))
    return false;
  std::lock_guard<std::mutex> guard(mutex_);
  if (dataFolder_.empty()) dataFolder_ = folder;  // set once, then fixed
  path = dataFolder_ + kSmsLogFile;
  table = kSmsLogTable;
  return true;
}

bool DataLocations::ResolveRulesPath(std::string& path, std::string& table) const {
  path.clear();
  table = kRulesTable;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (handedOver_) {
      if (dataFolder_.empty()) return false;
      path = dataFolder_ + kRulesFile;
      return FileExists(path);
    }
  }
  std::string folder;
  if (FindDataFile(kRulesFile, StorageCardName(), std::string(kProductName) + "/dba", folder)) {
    path = folder + kRulesFile;
    return true;
  }
  const std::string data = DataFolder();
  if (!data.empty()) path = data + kRulesFile;  // empty: nothing to open yet
  return false;
}

std::string DataLocations::DayText(int n) const {
  const std::tm now = LocalTime(clock_.Now());
  const CalendarDate day = DaysAgo({now.tm_year + 1900, now.tm_mon + 1, now.tm_mday}, n);
  std::tm t{};
  t.tm_year = day.year - 1900;
  t.tm_mon = day.month - 1;
  t.tm_mday = day.day;
  const long days = DaysFromCivil(day.year, day.month, day.day);
  t.tm_wday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  return LongDateText(t);
}

std::string DataLocations::NowTimeText() const {
  return TimeText(LocalTime(clock_.Now()));
}

std::int64_t RulesSignalStamp(const std::string& dataFolder) {
  struct stat st {};
  if (dataFolder.empty() || ::stat((dataFolder + "rs.dat").c_str(), &st) != 0) return -1;
  return Nanoseconds(st.st_mtim);
}

bool DataLocations::SignalRulesChanged() {
  const std::string folder = DataFolder();
  if (folder.empty()) return false;
  return static_cast<bool>(UniqueFd(
      ::open((folder + "rs.dat").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)));
}

bool DataLocations::EnumLogDatabases(int mode, std::string& path) {
  path.clear();
  switch (mode) {
    case 0:
      enumerationFolder_ = DataFolder();
      enumeration_.reset(enumerationFolder_.empty() ? nullptr
                                                    : opendir(enumerationFolder_.c_str()));
      return true;
    case 1:
      if (!enumeration_) return false;
      while (const dirent* e = readdir(enumeration_.get())) {
        const std::string name = e->d_name;
        if (name.size() < 4 || name.compare(name.size() - 3, 3, ".db") != 0) continue;
        struct stat st {};
        const std::string full = enumerationFolder_ + name;
        if (::stat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        path = full;
        return true;
      }
      enumeration_.reset();
      return false;
    case 2:
      enumeration_.reset();
      return true;
    default:
      return false;
  }
}

}  // namespace varnox
