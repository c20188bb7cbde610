// Where the program's files live: the install folder, the data folder with
// its databases and signal files, the language folder; and the helpers every
// storage part shares (candidate search, one-shot statements, SQL quoting,
// the walk over the log databases, the text of a day).
#pragma once

#include <dirent.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/device.h"
#include "platform/unique_fd.h"

namespace varnox {

constexpr char kProductName[] = "Varnox";
constexpr char kSmsLogFile[] = "Spam_0.db";
constexpr char kRulesFile[] = "Rules_0.db";
constexpr char kSmsLogTable[] = "Spam";
constexpr char kRulesTable[] = "Rules";
constexpr std::size_t kMaxPath = 259;
constexpr std::size_t kMaxResponseRequests = 1000;

struct CalendarDate {
  int year;
  int month;  // 1-12
  int day;    // 1-31
  bool operator==(const CalendarDate&) const = default;
};

// The date n days before date (Gregorian, any n >= 0).
CalendarDate DaysAgo(CalendarDate date, int n);

// Replaces every apostrophe by a blank: the only quoting SQL texts get.
void SanitizeSqlText(std::string& text);

// Creates every folder of path from the root down; failures are ignored.
void CreateDirectoryChain(const std::string& path);

// Opens the database at path, runs statement, closes it. Failures go to
// standard error ("Can't open database: %s\n", "SQL error: %s\n"); result 1
// (an existing table) passes silently.
void ExecOnce(const std::string& path, const std::string& statement);

// Modification time of <dataFolder>rs.dat in nanoseconds, -1 without it:
// every change of the rules renews it, so readers of the rules reload when it
// changes.
std::int64_t RulesSignalStamp(const std::string& dataFolder);

// True when path names the SMS log ("Spam_0.db").
bool IsSmsLogPath(const std::string& path);

// Asks the user a yes/no question (text, caption); true for Yes.
using YesNoQuestion = std::function<bool(const std::string& text, const std::string& caption)>;

class DataLocations {
 public:
  DataLocations(std::string deviceRoot, const Clock& clock);
  ~DataLocations();
  DataLocations(const DataLocations&) = delete;
  DataLocations& operator=(const DataLocations&) = delete;

  const std::string& DeviceRoot() const { return root_; }
  // The phone's program-files folder is the device root itself.
  const std::string& ProgramFilesFolder() const { return root_; }
  const Clock& clock() const { return clock_; }

  // The install-folder search of start-up: <program files>/Varnox/Varnox
  // exists and is not writable (the running program), else the same on each
  // storage card; none found leaves it empty.
  void FindInstallFolder();
  // The install folder; "<root>/Varnox" while none was found.
  std::string InstallFolder() const;
  void SetInstallFolder(const std::string& folder);
  // <install folder>/emn
  std::string LanguageFolder() const;

  // The folder of the databases, ending with '/'; empty until Spam_0.db was
  // found. Set once, then fixed for the run.
  std::string DataFolder() const;
  // Fixes the data folder to one handed over (the SMS companion gets it from
  // the program): the databases are then looked for there and nowhere else.
  void UseDataFolder(std::string folder);

  StorageCards& Cards() { return cards_; }
  std::string StorageCardName() const;
  void SetStorageCardName(const std::string& name);

  // The candidate search for file: <root>/<card>/<tail>/<file> (with a card
  // name), <root>/<tail>/<file>, <program files>/<tail>/<file>. True with the
  // folder (ending in '/') of the first readable one.
  bool FindDataFile(const std::string& file, const std::string& cardName, const std::string& tail,
                    std::string& folder) const;
  bool ResolveSmsLogPath(std::string& path, std::string& table);
  bool ResolveRulesPath(std::string& path, std::string& table) const;

  // Long-date text of the local date n days before today.
  std::string DayText(int n) const;
  // Time text of now, and the long date of today, as logs store them.
  std::string NowTimeText() const;

  // Creates (truncates) <data folder>rs.dat.
  bool SignalRulesChanged();
  // Takes the response requests of ss.dat: the Ids, one per line. The file is
  // taken by renaming it under the lock every writer holds while appending,
  // so no request appended meanwhile is lost. False when there was no file.
  bool TakeResponseRequests(std::vector<int>& ids);
  // Appends one request to ss.dat under that lock (the companion's side).
  bool AppendResponseRequest(int id);

  // mode 0 begin, 1 next (false after the last), 2 end: every *.db file of
  // the data folder.
  bool EnumLogDatabases(int mode, std::string& path);

 private:
  std::string root_;
  const Clock& clock_;
  StorageCards cards_;
  mutable std::mutex mutex_;  // guards: installFolder_, dataFolder_, cardName_
  std::string installFolder_;
  std::string dataFolder_;
  std::string cardName_;
  bool handedOver_ = false;  // UseDataFolder was called
  DirPtr enumeration_;       // the re-check thread's walk
  std::string enumerationFolder_;
};

}  // namespace varnox
