// The viewer's test fixture: a real temporary root with its logs, Maildir
// stores and rules database, a scan that is not started, the viewer and its
// workers on a window model. Shared by the tests of the dialogs built on the
// viewer.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "analysis/tokenizer.h"
#include "app/viewer.h"
#include "app/workers.h"
#include "support/run_command.h"
#include "support/storage_helpers.h"
#include "support/temp_root.h"

namespace varnox::testsupport {

inline std::string Quoted(std::string s) {
  for (std::size_t i = 0; (i = s.find('\'', i)) != std::string::npos; i += 2) s.insert(i, "'");
  return "'" + s + "'";
}

// A MIME text with CR LF line ends, as the store logs it.
inline std::string Mime(const std::string& text) {
  std::string out;
  for (char c : text) c == '\n' ? out += "\r\n" : out += c;
  return out;
}

class ViewerFixture : public ::testing::Test {
 protected:
  ViewerFixture() : storage(root.path(), clock, table) {
    storage.InitStorage(1, nullptr);
    std::filesystem::create_directories(root / "Mail");
    model.SetListener([this](const ModelEvent& e) {
      std::lock_guard<std::mutex> guard(statusMutex);  // guards statuses
      if (e.kind == ModelEvent::Kind::kStatus) statuses.push_back(e.status);
    });
  }
  // Maildir stores under Mail/, read into the scan's store table.
  void Stores(std::initializer_list<const char*> names) {
    for (const char* name : names)
      for (const char* sub : {"new", "cur", "tmp"})
        std::filesystem::create_directories(root / ("Mail/" + std::string(name) + "/" + sub));
    ASSERT_TRUE(scan.LogonMailStore());
    scan.EnumerateStores();
  }
  void Sms(int id, const std::string& sender, const std::string& text, int status = 0,
           int daysAgo = 0) {
    Exec(storage.locations.DataFolder() + kSmsLogFile,
         "INSERT INTO Spam VALUES (" + std::to_string(id) + ", " + Quoted(sender) + ", " +
             Quoted(text) + ", " + Quoted(BuildTokenString(text)) + ", " +
             Quoted(storage.locations.DayText(daysAgo)) + ", '10:0" + std::to_string(id % 10) +
             ":00 AM', " + std::to_string(status) + ");");
  }
  void Mail(const std::string& store, int id, const std::string& from, const std::string& subject,
            const std::string& mime, const std::string& text, int status = 0) {
    std::string lowered = mime;
    for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    Exec(storage.locations.DataFolder() + store + ".db",
         "INSERT INTO Msg VALUES (" + std::to_string(id) + ", " + Quoted(from) + ", " +
             Quoted(from) + ", " + Quoted(subject) + ", " + Quoted(mime) + ", " + Quoted(lowered) +
             ", " + Quoted(text) + ", " + Quoted(BuildTokenString(subject + " " + text)) + ", " +
             Quoted(storage.locations.DayText(0)) + ", '9:15:00 AM', " + std::to_string(status) +
             ", 'h" + std::to_string(id) + "');");
  }
  int Status(const std::string& db, int id) {
    const auto rows =
        Query(storage.locations.DataFolder() + db,
              "SELECT Status FROM " + std::string(db == kSmsLogFile ? "Spam" : "Msg") +
                  " WHERE Id = " + std::to_string(id) + ";");
    return rows.size() == 1 ? std::stoi(rows[0]) : -1;
  }
  void Update() {
    viewer.Command(1018);
    workers.Wait();
  }
  std::string Text(int id) { return model.Text(kViewerDialog, id); }
  // Line 4 of each listed message.
  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    const auto lines = model.Lines(kViewerDialog, 1010);
    for (std::size_t i = 3; i < lines.size(); i += 4) out.push_back(lines[i]);
    return out;
  }
  std::string Select(int line) {
    model.SetSelected(kViewerDialog, 1010, line);
    viewer.SelectionChanged(1010);
    return ReadAll(viewer.PageFilePath());
  }
  int Count(const std::string& status) {
    std::lock_guard<std::mutex> guard(statusMutex);  // guards statuses
    return static_cast<int>(std::count(statuses.begin(), statuses.end(), status));
  }

  // Before the workers, so that a worker still ending may report its status.
  std::mutex statusMutex;  // guards: statuses
  std::vector<std::string> statuses;
  TempRoot root;
  FixedClock clock{1796000000};
  RuleTable table;
  Storage storage;
  PauseGate gate{false};
  StoreScan scan{root / "Mail", storage.messages, storage.rules, table, gate};
  WindowModel model;
  InterfaceStrings strings;
  Viewer viewer{model, storage, scan, root / "Varnox", strings};
  Workers workers{viewer, storage, table, scan, gate, strings};
};

}  // namespace varnox::testsupport
