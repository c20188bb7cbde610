#include "support/storage_helpers.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "storage/sms_log.h"
#include "storage/sqlite_db.h"

namespace varnox::testsupport {

namespace fs = std::filesystem;

std::vector<std::string> Query(const std::string& path, const std::string& sql) {
  Database db;
  std::string error;
  EXPECT_EQ(db.Open(path, error), SQLITE_OK) << error;
  Statement stmt;
  EXPECT_EQ(db.Prepare(sql, stmt), SQLITE_OK) << db.ErrorMessage();
  std::vector<std::string> rows;
  while (stmt.Step() == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < stmt.DataCount(); ++i) row += (i ? "|" : "") + stmt.ColumnText(i);
    rows.push_back(row);
  }
  return rows;
}

void Exec(const std::string& path, const std::string& sql) {
  Database db;
  std::string error;
  ASSERT_EQ(db.Open(path, error), SQLITE_OK) << error;
  ASSERT_EQ(db.Exec(sql, &error), SQLITE_OK) << error;
}

std::vector<std::string> FilesUnder(const std::string& folder) {
  std::vector<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) files.push_back(e.path().string());
  return files;
}

std::string WithoutWriteAccess(const std::string& root, const std::string& folder,
                               const std::function<std::string()>& check) {
  for (const auto& e : fs::directory_iterator(folder))
    fs::permissions(e.path(),
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read |
                              fs::perms::others_exec);
  std::string failure;
  if (geteuid() != 0) {
    failure = check();
  } else {
    fs::permissions(root, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return "pipe failed";
    const pid_t child = fork();
    if (child == 0) {
      close(pipeFds[0]);
      std::string result = "could not drop privileges";
      if (setgid(65534) == 0 && setuid(65534) == 0) result = check();
      if (write(pipeFds[1], result.data(), result.size()) < 0) _exit(2);
      _exit(0);
    }
    close(pipeFds[1]);
    char buf[512];
    ssize_t n;
    while ((n = read(pipeFds[0], buf, sizeof buf)) > 0) failure.append(buf, static_cast<size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) failure += " (child did not end cleanly)";
  }
  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add);
  for (const auto& e : fs::directory_iterator(folder))
    fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add);
  return failure;
}

void Garble(const std::string& db) {
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(db + suffix);
  std::mt19937 rng(9);
  std::string bytes(8192, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  std::ofstream(db, std::ios::binary) << bytes;
}

DataRoot::DataRoot(bool resolve) {
  fs::create_directories(DataFolder());
  CreateLog();
  std::string path, table;
  if (resolve) {
    EXPECT_TRUE(locations_.ResolveSmsLogPath(path, table));
  }
}

void DataRoot::CreateLog() const {
  ExecOnce(LogPath(), SmsLogCreateStatement());
  ExecOnce(LogPath(), SmsLogIndexStatement());
}

WorkingDirectory::WorkingDirectory(const std::string& path) : old_(fs::current_path()) {
  fs::current_path(path);
}

WorkingDirectory::~WorkingDirectory() {
  std::error_code ec;
  fs::current_path(old_, ec);
}

}  // namespace varnox::testsupport
