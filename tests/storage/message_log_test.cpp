#include "storage/message_log.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "analysis/fingerprint.h"
#include "support/storage_helpers.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

using testsupport::TempRoot;
using Rows = std::vector<std::string>;
using testsupport::Query;

constexpr char kTime[] = "6:03:57 PM";

// Rows of a log, each with an Id and a fingerprint of its own.
void ExpectUniqueRows(const std::string& path, std::size_t rows) {
  const std::string n = std::to_string(rows);
  EXPECT_EQ(Query(path, "SELECT COUNT(*), COUNT(DISTINCT Id), COUNT(DISTINCT Hash) FROM Msg;"),
            Rows{n + "|" + n + "|" + n});
}

// A cursor row's texts joined by '|'.
std::string Texts(const LogRow& r) {
  return r.sender + "|" + r.senderEmail + "|" + r.subject + "|" + r.rawBody + "|" + r.lowerBody +
         "|" + r.tokens + "|" + r.date + "|" + r.time;
}

// A device root whose Varnox/dba/Spam_0.db made it the data folder.
class MessageLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDirectoryChain(root.path() + "/Varnox/dba");
    ExecOnce(root.path() + "/Varnox/dba/Spam_0.db",
             "CREATE TABLE Spam (Id INT UNIQUE, Sender TEXT, Message TEXT, Tokens TEXT, "
             "ReceivedDate TEXT, ReceivedTime TEXT, Status INT);");
    std::string path, table;
    ASSERT_TRUE(loc.ResolveSmsLogPath(path, table));
    dba = loc.DataFolder();
  }

  // MAPIAdd with the lower-case body made from body; -1 when it failed.
  int Add(MessageLog& l, const std::string& store, const std::string& body,
          const std::string& field = "Ann <ann@example.org>", const std::string& subject = "Hi",
          int status = 0, int day = 0) {
    std::string lower = body;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    int id = -2;
    const bool ok = l.MAPIAdd(store, "Ann", field, subject, body, lower, "plain", "tok ", status,
                              loc.DayText(day), kTime, id);
    EXPECT_EQ(ok, id >= 1) << "result and Id disagree";
    return ok ? id : -1;
  }

  void AddSms(int id, const std::string& sender, int status, int day) {
    ExecOnce(dba + "Spam_0.db", "INSERT INTO Spam VALUES (" + std::to_string(id) + ", '" + sender +
                                    "', 'Win a prize', 'tok ', '" + loc.DayText(day) + "', '" +
                                    kTime + "', " + std::to_string(status) + ");");
  }

  // Ids of the rows the cursor delivers, or {-1} when it does not open.
  std::set<int> Walk(const std::string& path, int sms, int mms, int other, int day, int spam,
                     int normal) {
    LogRow row;
    if (!log.MAPIGetNextMessage(0, path, sms, mms, other, day, spam, normal, row)) return {-1};
    std::set<int> ids;
    while (log.MAPIGetNextMessage(2, "", 0, 0, 0, 0, 0, 0, row)) ids.insert(row.id);
    return ids;
  }

  // Forks a writer with its own connection (none may cross a fork); it leaves
  // with _exit so that the root is removed once, by the parent.
  template <typename Fn>
  pid_t Writer(Fn fn) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    DataLocations l(root.path(), clock);
    std::string path, table;
    l.ResolveSmsLogPath(path, table);
    MessageLog childLog(l);
    childLog.MAPICreateLog("Mail");
    ::_exit(fn(childLog) ? 0 : 1);
  }

  TempRoot root;
  FixedClock clock{1765000000};
  DataLocations loc{root.path(), clock};
  MessageLog log{loc};
  std::string dba;
};

TEST_F(MessageLogTest, CreateLogMakesAnIndexedTableAndReportsTheLargestId) {
  EXPECT_EQ(log.MAPICreateLog("MMS"), 0);
  EXPECT_EQ(Query(dba + "MMS.db", "SELECT name FROM pragma_table_info('Msg');"),
            (Rows{"Id", "Sender", "SenderEMAIL", "Subject", "OrgMessage", "Message", "MsgTxt",
                  "Tokens", "ReceivedDate", "ReceivedTime", "Status", "Hash"}));
  // Neither the look-up by fingerprint nor the day list may scan the table.
  for (const char* where : {"Hash = 'x'", "ReceivedDate = 'x'"}) {
    const Rows plan =
        Query(dba + "MMS.db", std::string("EXPLAIN QUERY PLAN SELECT Id FROM Msg WHERE ") + where);
    EXPECT_NE(plan.at(0).find("USING INDEX"), std::string::npos) << plan[0];
  }
  EXPECT_EQ(Add(log, "MMS", "first"), 1);
  EXPECT_EQ(Add(log, "MMS", "second"), 2);
  EXPECT_EQ(log.MAPICreateLog("MMS"), 2);  // existing rows stay
  // The next Id follows the largest, not the count.
  ExecOnce(dba + "MMS.db", "INSERT INTO Msg (Id, Hash) VALUES (40, 'x');");
  EXPECT_EQ(Add(log, "MMS", "third"), 41);
  ExecOnce(dba + "NoMsg.db", "CREATE TABLE Other (x INT);");
  EXPECT_EQ(log.MAPIMaxId("NoMsg"), -1);
}

TEST_F(MessageLogTest, AddStoresEachBodyOnceWithItsTextsInTheirColumns) {
  log.MAPICreateLog("Mail");
  int id = 0;
  ASSERT_TRUE(log.MAPIAdd("Mail", "Sender", "Field <a@b.c>", "Subj", "RAW Body", "raw body",
                          "Plain", "body raw ", 1, "Friday, December 05, 2025", kTime, id));
  EXPECT_EQ(
      Query(dba + "Mail.db", "SELECT * FROM Msg;"),
      (Rows{"1|Sender|Field <a@b.c>|Subj|RAW Body|raw body|Plain|body raw |Friday, December 05, "
            "2025|" +
            std::string(kTime) + "|1|" + Fingerprint("RAW Body")}));
  // Again, or from someone else: the first row's Id, nothing written.
  EXPECT_EQ(Add(log, "Mail", "RAW Body", "Bob <bob@example.org>", "Other"), 1);
  EXPECT_EQ(Query(dba + "Mail.db", "SELECT Sender, Status FROM Msg;"), (Rows{"Sender|1"}));

  int found = 0, status = -1;
  std::string tokens = "stale";
  ASSERT_TRUE(log.MAPIExists("Mail", "RAW Body", found, status, tokens));
  EXPECT_EQ(std::to_string(found) + std::to_string(status) + tokens, "11body raw ");
  EXPECT_FALSE(log.MAPIExists("Mail", "raw body", found, status, tokens));
  EXPECT_EQ(tokens, "");

  std::string org, subject, text;
  ASSERT_TRUE(log.MAPIGetMessageBody("Mail", 1, org, subject, text));
  EXPECT_EQ(org + "|" + subject + "|" + text, "RAW Body|Subj|Plain");
  EXPECT_FALSE(log.MAPIGetMessageBody("Mail", 2, org, subject, text));

  // A body counts up to its first NUL, for the row and the look-up alike.
  EXPECT_EQ(Add(log, "Mail", std::string("seen\0unseen", 11)), 2);
  EXPECT_TRUE(log.MAPIExists("Mail", "seen", found, status, tokens));
  EXPECT_EQ(found, 2);
}

TEST_F(MessageLogTest, ApostrophesAreStoredAsBlanksButTheFingerprintIsOfTheGivenBody) {
  log.MAPICreateLog("Mail");
  ASSERT_EQ(Add(log, "Mail", "Don't 'quote' me", "O'Brien <ob@x.ie>", "It's here"), 1);
  EXPECT_EQ(
      Query(dba + "Mail.db", "SELECT SenderEMAIL, Subject, OrgMessage, Message, Hash FROM Msg;"),
      (Rows{"O Brien <ob@x.ie>|It s here|Don t  quote  me|don t  quote  me|" +
            Fingerprint("Don't 'quote' me")}));
  int id = 0, status = 0;
  std::string tokens;
  EXPECT_TRUE(log.MAPIExists("Mail", "Don't 'quote' me", id, status, tokens));
  EXPECT_FALSE(log.MAPIExists("Mail", "Don t  quote  me", id, status, tokens));
  EXPECT_EQ(Add(log, "Mail", "x'); DROP TABLE Msg; --"), 2);  // never closes the quotes
  ExpectUniqueRows(dba + "Mail.db", 2);
}

TEST_F(MessageLogTest, UpdateByStoreNameOrByFullPath) {
  log.MAPICreateLog("Mail");
  const int id = Add(log, "Mail", "message");
  const std::string other = root.path() + "/elsewhere/Mail.db";
  CreateDirectoryChain(root.path() + "/elsewhere");
  ExecOnce(other, MsgCreateStatement());
  ExecOnce(other, "INSERT INTO Msg (Id, Status) VALUES (" + std::to_string(id) + ", 0);");
  auto statuses = [&] {
    return Query(dba + "Mail.db", "SELECT Status FROM Msg;")[0] +
           Query(other, "SELECT Status FROM Msg;")[0];
  };
  EXPECT_TRUE(log.MAPIUpdate("Mail", id, 1));
  EXPECT_EQ(statuses(), "10");
  EXPECT_TRUE(log.MAPIUpdate(other, id, 1));
  EXPECT_TRUE(log.MAPIUpdate(dba + "Mail.db", id, 0));
  EXPECT_EQ(statuses(), "01");
  EXPECT_TRUE(log.MAPIUpdate("Mail", 999, 1));  // no such row: nothing changes, no failure
  EXPECT_EQ(statuses(), "01");
  ExecOnce(dba + "NoMsg.db", "CREATE TABLE Other (x INT);");
  EXPECT_FALSE(log.MAPIUpdate("NoMsg", id, 1));
}

TEST_F(MessageLogTest, LoadMapiListsTheDaysChosenVerdictsUpTo256) {
  log.MAPICreateLog("Mail");
  const int normal = Add(log, "Mail", "Normal today", "Ann <ann@example.org>", "n", 0, 0);
  const int spam = Add(log, "Mail", "Spam today", "spam@example.org", "s", 1, 0);
  const int old = Add(log, "Mail", "spam yesterday", "old@example.org", "y", 1, 1);
  auto load = [&](int day, int withSpam, int withNormal) {
    std::string dayText;
    EXPECT_TRUE(log.LoadMAPI("Mail", day, withSpam, withNormal, dayText));
    EXPECT_EQ(dayText, loc.DayText(day));
    std::set<int> ids;
    for (int i = 0; i < log.GetLogEntryCount(); ++i) {
      std::string address, subject, message, time;
      int id = 0;
      EXPECT_TRUE(log.GetLogEntry(i, address, subject, message, time, id));
      if (id == normal) {
        EXPECT_EQ(address + "|" + subject + "|" + message, "ann@example.org|n|normal today");
      }
      EXPECT_EQ(time, kTime);
      ids.insert(id);
    }
    return ids;
  };
  EXPECT_EQ(load(0, 1, 1), (std::set<int>{normal, spam}));
  EXPECT_EQ(load(0, 1, 0), (std::set<int>{spam}));
  EXPECT_EQ(load(0, 0, 1), (std::set<int>{normal}));
  EXPECT_EQ(load(1, 1, 1), (std::set<int>{old}));
  EXPECT_EQ(load(0, 0, 0), (std::set<int>{}));
  std::string a, s, m, t, day;
  int id = 0;
  EXPECT_FALSE(log.GetLogEntry(0, a, s, m, t, id));

  for (int i = 0; i < 300; ++i) Add(log, "Mail", "message " + std::to_string(i));
  ASSERT_TRUE(log.LoadMAPI("Mail", 0, 1, 1, day));
  EXPECT_EQ(log.GetLogEntryCount(), 256);
  // A load that cannot open its log leaves the list empty.
  EXPECT_FALSE(log.LoadMAPI("no-such-folder/Mail", 0, 1, 1, day));
  EXPECT_EQ(log.GetLogEntryCount(), 0);
}

TEST_F(MessageLogTest, CursorWalksTheLogsItIsAskedFor) {
  ExecOnce(dba + "Rules_0.db", "CREATE TABLE Rules (Id INT UNIQUE, Sender TEXT);");
  EXPECT_EQ(Walk(dba + "Rules_0.db", 1, 1, 1, -1, 1, 1), (std::set<int>{-1}));

  AddSms(7, "+491721234567", 1, 0);
  EXPECT_EQ(Walk(dba + "Spam_0.db", 0, 1, 1, -1, 1, 1), (std::set<int>{-1}));
  LogRow row;
  row.subject = row.lowerBody = "left over";
  ASSERT_TRUE(log.MAPIGetNextMessage(0, dba + "Spam_0.db", 1, 0, 0, 0, 1, 1, row));
  ASSERT_TRUE(log.MAPIGetNextMessage(2, "", 0, 0, 0, 0, 0, 0, row));
  // Sender rules test the address field: an SMS's number is its address.
  EXPECT_EQ(Texts(row),
            "+491721234567|+491721234567||Win a prize||tok |" + loc.DayText(0) + "|" + kTime);
  EXPECT_EQ(row.status * 100 + row.id, 107);
  EXPECT_FALSE(log.MAPIGetNextMessage(2, "", 0, 0, 0, 0, 0, 0, row));
  EXPECT_EQ(row.rawBody + row.tokens, "");  // the last row's texts are released
  EXPECT_FALSE(log.MAPIGetNextMessage(2, "", 0, 0, 0, 0, 0, 0, row));

  log.MAPICreateLog("MMS");
  log.MAPICreateLog("Mail");
  Add(log, "MMS", "mms body");
  Add(log, "Mail", "Mail Body", "e@x", "mail");
  EXPECT_EQ(Walk(dba + "MMS.db", 1, 0, 1, -1, 1, 1), (std::set<int>{-1}));
  EXPECT_EQ(Walk(dba + "MMS.db", 0, 1, 0, -1, 1, 1), (std::set<int>{1}));
  EXPECT_EQ(Walk(dba + "Mail.db", 1, 1, 0, -1, 1, 1), (std::set<int>{-1}));
  ASSERT_TRUE(log.MAPIGetNextMessage(0, dba + "Mail.db", 0, 0, 1, -1, 1, 1, row));
  ASSERT_TRUE(log.MAPIGetNextMessage(2, "", 0, 0, 0, 0, 0, 0, row));
  EXPECT_EQ(Texts(row), "Ann|e@x|mail|Mail Body|mail body|tok |" + loc.DayText(0) + "|" + kTime);
  EXPECT_TRUE(log.MAPIGetNextMessage(1, "", 0, 0, 0, 0, 0, 0, row));
  EXPECT_FALSE(log.MAPIGetNextMessage(2, "", 0, 0, 0, 0, 0, 0, row));
}

TEST_F(MessageLogTest, CursorFiltersByDayAndVerdictUnlessTheDayIsNegative) {
  log.MAPICreateLog("Mail");
  const int normal = Add(log, "Mail", "a", "x", "s", 0, 0);
  const int spam = Add(log, "Mail", "b", "x", "s", 1, 0);
  const int old = Add(log, "Mail", "c", "x", "s", 1, 3);
  const std::string mail = dba + "Mail.db";
  EXPECT_EQ(Walk(mail, 0, 0, 1, 0, 1, 1), (std::set<int>{normal, spam}));
  EXPECT_EQ(Walk(mail, 0, 0, 1, 0, 1, 0), (std::set<int>{spam}));
  EXPECT_EQ(Walk(mail, 0, 0, 1, 0, 0, 1), (std::set<int>{normal}));
  EXPECT_EQ(Walk(mail, 0, 0, 1, 3, 1, 1), (std::set<int>{old}));
  EXPECT_EQ(Walk(mail, 0, 0, 1, 1, 1, 1), (std::set<int>{}));
  EXPECT_EQ(Walk(mail, 0, 0, 1, -1, 0, 1), (std::set<int>{normal, spam, old}));
  EXPECT_EQ(Walk(mail, 0, 0, 1, -1, 0, 0), (std::set<int>{-1}));
  AddSms(1, "111", 0, 0);
  AddSms(2, "222", 1, 0);
  AddSms(3, "333", 1, 2);
  EXPECT_EQ(Walk(dba + "Spam_0.db", 1, 0, 0, 0, 1, 0), (std::set<int>{2}));
  EXPECT_EQ(Walk(dba + "Spam_0.db", 1, 0, 0, -1, 1, 0), (std::set<int>{1, 2, 3}));
}

TEST_F(MessageLogTest, LongTextsAreCutAtACharacterBoundary) {
  log.MAPICreateLog("Mail");
  const std::string e = "\xC3\xA9", euro = "\xE2\x82\xAC";
  Add(log, "Mail", "a", "x", std::string(509, 's') + e);  // 511 bytes: fits
  Add(log, "Mail", "b", "x", std::string(510, 's') + e);  // é would be split
  Add(log, "Mail", "c", "x", std::string(2000, 'z'));
  EXPECT_EQ(Query(dba + "Mail.db", "SELECT Subject FROM Msg ORDER BY Id;"),
            (Rows{std::string(509, 's') + e, std::string(510, 's'), std::string(511, 'z')}));

  int id = 0;
  log.MAPICreateLog("Long");
  ASSERT_TRUE(log.MAPIAdd("Long", std::string(253, 'n') + euro, std::string(300, 'f'), "s", "b",
                          "b", "b", "", 0, std::string(258, 'd') + euro,
                          std::string(30, 't') + euro, id));
  LogRow row;
  ASSERT_TRUE(log.MAPIGetNextMessage(0, dba + "Long.db", 0, 0, 1, -1, 1, 1, row));
  ASSERT_TRUE(log.MAPIGetNextMessage(2, "", 0, 0, 0, 0, 0, 0, row));
  EXPECT_EQ(row.sender + row.senderEmail + row.date,
            std::string(253, 'n') + std::string(255, 'f') + std::string(258, 'd'));
  ExecOnce(dba + "Long.db", "UPDATE Msg SET ReceivedDate = '" + loc.DayText(0) + "';");
  std::string a, s, m, time, day;
  ASSERT_TRUE(log.LoadMAPI("Long", 0, 1, 1, day));
  ASSERT_TRUE(log.GetLogEntry(0, a, s, m, time, id));
  EXPECT_EQ(time, std::string(30, 't'));  // the entry keeps 31 bytes
}

TEST_F(MessageLogTest, ConcurrentProcessesNeverShareAnIdAndAKillLosesNoReportedAdd) {
  // The parent holds no connection while the children write.
  ExecOnce(dba + "Mail.db", MsgCreateStatement());
  auto twoHundred = [](const std::string& tag) {
    return [tag](MessageLog& l) {
      bool ok = true;
      for (int i = 0; i < 200; ++i) {
        int id = 0;
        const std::string body = (i % 2 ? "shared " : tag) + std::to_string(i);
        ok = l.MAPIAdd("Mail", "s", "a", "subj", body, body, body, "", 0, "d", "t", id) && ok;
      }
      return ok;
    };
  };
  for (pid_t pid : {Writer(twoHundred("a")), Writer(twoHundred("b"))}) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ExpectUniqueRows(dba + "Mail.db", 300);

  // A writer reports each Id once MAPIAdd returned and is killed mid-stream.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t pid = Writer([&](MessageLog& l) {
    ::close(fds[0]);
    for (int i = 0;; ++i) {
      int id = 0;
      const std::string body = "killed " + std::to_string(i);
      if (!l.MAPIAdd("Mail", "s", "a", "subj", body, body, body, "", 0, "d", "t", id) ||
          ::write(fds[1], &id, sizeof id) != sizeof id)
        return false;
    }
  });
  ::close(fds[1]);
  std::vector<int> reported(300);
  for (int& id : reported) ASSERT_EQ(::read(fds[0], &id, sizeof id), ssize_t{sizeof id});
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  ::close(fds[0]);
  std::map<std::string, std::string> hashById;
  for (const std::string& r : Query(dba + "Mail.db", "SELECT Id, Hash FROM Msg;"))
    hashById[r.substr(0, r.find('|'))] = r.substr(r.find('|') + 1);
  for (std::size_t i = 0; i < reported.size(); ++i)
    EXPECT_EQ(hashById[std::to_string(reported[i])], Fingerprint("killed " + std::to_string(i)))
        << "reported Id " << reported[i];
}

TEST(ExtractAddress, TakesTheTextBetweenTheLastAngleBrackets) {
  const std::pair<const char*, const char*> cases[] = {
      {"Ann Smith <ann@example.org>", "ann@example.org"},
      {"<>", ""},
      {"x>", "x"},
      {"ann@example.org", "ann@example.org"},
      {"", ""},
      {">", ">"},                                // '>' at the start closes nothing
      {"<ann@example.org", "<ann@example.org"},  // no '>'
      {"A <b> C <d@e.f>", "d@e.f"},
      {"<a<b@c.d>", "b@c.d"},    // the '<' nearest the last '>'
      {"<a>b@c.d>", "a>b@c.d"},  // the last '>' closes
      {"a>b<c", "a"},            // a '<' after the last '>' does not open
      {"Name <x@y.z> trailing", "x@y.z"},
  };
  for (const auto& [field, address] : cases) {
    std::string out = "stale";
    ExtractAddress(field, out);
    EXPECT_EQ(out, address) << "field: " << field;
  }
}

}  // namespace
}  // namespace varnox
