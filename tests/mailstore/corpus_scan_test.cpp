// The whole program on one Maildir store of generated messages and, when it
// is there, the public SpamAssassin corpus: rules made from spam messages,
// `varnox scan --once` killed at random points, and what must hold
// afterwards.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "analysis/fingerprint.h"
#include "html2txt/html_converter.h"
#include "mailstore/extract.h"
#include "mailstore/process.h"
#include "platform/maildir.h"
#include "storage/sqlite_db.h"
#include "support/corpus.h"
#include "support/run_command.h"
#include "support/storage_helpers.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using namespace testsupport;

#ifdef VARNOX_SANITIZED
constexpr std::size_t kCorpusSample = 500;
#else
constexpr std::size_t kCorpusSample = 100000;
#endif

// Rows in the log so far; 0 while it has no table yet.
std::size_t LoggedRows(const std::string& log) {
  Database db;
  std::string error;
  Statement st;
  if (!fs::exists(log) || db.Open(log, error) != 0 ||
      db.Prepare("SELECT COUNT(*) FROM Msg;", st) != 0 || st.Step() != SQLITE_ROW)
    return 0;
  return static_cast<std::size_t>(st.ColumnInt(0));
}

class CorpusScan : public ::testing::Test {
 protected:
  // The corpus first, so the rules come from real spam when it is there.
  // Then generated messages, so the test always runs: spam (every third,
  // named spam-N) from a few senders with offer texts, and ordinary mail,
  // each text of its own.
  void SetUp() override {
    auto all = CorpusFiles();
    // An even sample over every folder keeps ham and spam in it.
    const std::size_t step =
        std::max<std::size_t>(1, all.size() / std::min(kCorpusSample, all.size() + 1));
    for (std::size_t i = 0; i < all.size(); i += step) paths.push_back(all[i]);
    static const char* words[] = {"offer",   "cruise",  "island", "winner", "garden",  "report",
                                  "meeting", "invoice", "travel", "family", "weekend", "project"};
    const std::string originals = root / "originals";
    fs::create_directories(originals);
    for (int i = 0; i < 1500; ++i) {
      const bool spam = i % 3 == 0;
      std::string body;
      for (int w = 0; w < 40; ++w) body += std::string(words[(i * 7 + w * (w + i)) % 12]) + " ";
      const std::string from = spam ? "Deals <offers" + std::to_string(i % 29) + "@promo" +
                                          std::to_string(i % 5) + ".example>"
                                    : "Friend <f" + std::to_string(i) + "@example.org>";
      paths.push_back(originals + (spam ? "/spam-" : "/ham-") + std::to_string(i));
      ASSERT_TRUE(WriteFile(paths.back(), "From: " + from + "\nSubject: Note " + std::to_string(i) +
                                              "\nContent-Type: text/plain; charset=us-ascii\n\n" +
                                              body + "number " + std::to_string(i) + "\n"));
    }
    // The store Corpus with a copy of every message.
    inbox = root / "Mail/Corpus";
    for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(inbox + "/" + sub);
    for (std::size_t i = 0; i < paths.size(); ++i) {
      const std::string name = std::to_string(1600000000 + i) + ".M" + std::to_string(i) +
                               ".corpus" + (i % 3 ? ":2,S" : "");
      const std::string dest = inbox + (i % 3 ? "/cur/" : "/new/") + name;
      fs::copy_file(paths[i], dest);
      names.push_back(name);
    }
  }

  // Message rules from the text of 20 spam messages, sender rules from the
  // addresses of 20 others; returns the indexes of those 40 messages.
  std::set<std::size_t> AddRules() {
    InitMailHeaderParser();
    CreateHtmlConverter();
    std::set<std::size_t> chosen;
    int messageRules = 0, senderRules = 0;
    for (std::size_t i = 0; i < paths.size() && senderRules < 20; ++i) {
      if (paths[i].find("/spam-") == std::string::npos) continue;
      MessageRecord m;
      m.mimeText = CanonicalLineEnds(ReadAll(paths[i]).c_str());  // up to a NUL
      ReadHeaderFromText(m.mimeText, m);
      m.lowered = m.mimeText;
      LowerAscii(m.lowered);
      ExtractMessageText(m.lowered, m.mimeText, m.subject, m.tokens, m.text,
                         [](std::chrono::milliseconds) {});
      std::string args;
      if (messageRules < 20) {
        if (m.text.size() < 40) continue;
        args = "rules add --sender '' --message '" + Quote(m.subject + " " + m.text) + "'";
        ++messageRules;
      } else {
        if (m.senderEmail.find('@') == std::string::npos) continue;
        args = "rules add --by-sender --sender '" + Quote(m.senderEmail) + "' --message ''";
        ++senderRules;
      }
      EXPECT_EQ(RunVarnox(args + " --root '" + root.path() + "'"), 0) << args;
      chosen.insert(i);
    }
    EXPECT_EQ(chosen.size(), 40u);
    return chosen;
  }

  static std::string Quote(const std::string& s) {  // for a shell's single quotes
    std::string out;
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out;
  }

  std::string Scan() { return "scan --once --root '" + root.path() + "'"; }

  // Where message i is now: "inbox", "spam", or its places joined when it is
  // in none or several. Each copy must be unchanged.
  std::string Where(std::size_t i) {
    std::string where;
    for (const std::string place : {"/new/", "/cur/", "/.Spam/new/", "/.Spam/cur/"}) {
      if (!fs::exists(inbox + place + names[i])) continue;
      where += (where.empty() ? "" : "+") + std::string(place[1] == '.' ? "spam" : "inbox");
      EXPECT_EQ(ReadAll(inbox + place + names[i]), ReadAll(paths[i])) << names[i] << " changed";
    }
    return where;
  }

  // Checks what must hold after any run: every message once, unchanged, one
  // row per fingerprint. After a complete run also: exactly the messages whose
  // row says spam are in .Spam (a killed run may stop between the two).
  // Returns the rows in the log.
  std::size_t CheckNothingLost(bool complete = true) {
    const std::string log = root / "Varnox/dba/Corpus.db";
    std::map<std::string, int> status;  // Hash -> Status
    for (const std::string& row : Query(log, "SELECT Hash, Status FROM Msg;")) {
      const auto bar = row.find('|');
      EXPECT_TRUE(status.emplace(row.substr(0, bar), std::stoi(row.substr(bar + 1))).second)
          << "two rows for one fingerprint";
    }
    for (std::size_t i = 0; i < paths.size(); ++i) {
      const std::string where = Where(i);
      EXPECT_TRUE(where == "inbox" || where == "spam") << names[i] << ": " << where;
      if (!complete) continue;
      // In .Spam exactly when its row says spam; without a row, in the inbox.
      const auto it = status.find(Print(paths[i]));
      EXPECT_EQ(where == "spam", it != status.end() && it->second == 1) << names[i];
    }
    return status.size();
  }

  // The fingerprint the scan logs for a message file: of its text up to a NUL.
  static std::string Print(const std::string& path) {
    return Fingerprint(CanonicalLineEnds(ReadAll(path).c_str()));
  }
  std::size_t DistinctFingerprints() {
    std::set<std::string> all;
    for (const auto& p : paths) all.insert(Print(p));
    return all.size();
  }

  TempRoot root;
  std::string inbox;
  std::vector<std::string> paths;  // original files
  std::vector<std::string> names;  // their file names in the store
};

TEST_F(CorpusScan, AKilledScanLosesNothingAndTheNextRunLogsAndFilesEverything) {
  const std::set<std::size_t> chosen = AddRules();
  const std::string log = root / "Varnox/dba/Corpus.db";
  const std::size_t total = DistinctFingerprints();
  std::mt19937 rng(20261206);
  for (int round = 0; round < 10; ++round) {
    const std::size_t logged = LoggedRows(log);
    ASSERT_LT(logged, total) << "no work left for round " << round;
    // Kill after a random number of further rows, well before the end.
    const std::size_t left = total - logged;
    const std::size_t target = logged + 1 + rng() % std::max<std::size_t>(1, left / 4);
    const pid_t scan = StartScan(VARNOX_BINARY, root.path(), true);
    bool ended = false;
    WaitFor(
        [&] {
          return (ended = waitpid(scan, nullptr, WNOHANG) == scan) || LoggedRows(log) >= target;
        },
        std::chrono::milliseconds(1));
    ASSERT_FALSE(ended) << "the scan finished before the kill in round " << round;
    StopScan(scan, SIGKILL);
    CheckNothingLost(false);
  }
  ASSERT_EQ(RunVarnox(Scan()), 0);
  EXPECT_EQ(CheckNothingLost(), total);
  for (std::size_t i : chosen) EXPECT_EQ(Where(i), "spam") << paths[i];
}

}  // namespace
}  // namespace varnox
