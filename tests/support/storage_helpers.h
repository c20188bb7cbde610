// Helpers for tests on real database files.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "storage/data_locations.h"
#include "support/corpus.h"
#include "support/temp_root.h"

namespace varnox::testsupport {

// Rows of a query on a connection of its own, columns joined by '|'.
std::vector<std::string> Query(const std::string& path, const std::string& sql);

// Runs sql on a connection of its own; a failure fails the test.
void Exec(const std::string& path, const std::string& sql);

// Every regular file below folder.
std::vector<std::string> FilesUnder(const std::string& folder);

// Runs check where folder cannot be written: in a child process without
// privileges when the tests run as root (root writes anywhere), otherwise here
// with the folder and its files made read-only. check returns what went
// wrong, empty when nothing did.
std::string WithoutWriteAccess(const std::string& root, const std::string& folder,
                               const std::function<std::string()>& check);

// Replaces a database by random bytes, its -wal and -shm files removed: a
// new file, which no connection open on the old one reads.
void Garble(const std::string& db);

// A temporary device root whose data folder holds an SMS log with its index;
// found by locations_ at once unless told otherwise.
class DataRoot {
 public:
  explicit DataRoot(bool resolve = true);
  std::string DataFolder() const { return root_.path() + "/Varnox/dba/"; }
  std::string LogPath() const { return DataFolder() + kSmsLogFile; }
  std::string RulesPath() const { return DataFolder() + kRulesFile; }
  // Makes the SMS log anew (after a test removed it).
  void CreateLog() const;

 protected:
  TempRoot root_;
  FixedClock clock_{1796000000};
  DataLocations locations_{root_.path(), clock_};
};

// Runs the rest of a scope in another working directory, where a stray
// relative path would create its file.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::string& path);
  ~WorkingDirectory();
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  std::filesystem::path old_;
};

}  // namespace varnox::testsupport
