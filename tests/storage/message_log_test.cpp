#include "storage/message_log.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "analysis/fingerprint.h"
#include "support/storage_helpers.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

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

class MessageLogTest : public ::testing::Test, protected testsupport::DataRoot {
 protected:
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

  // Ids of the rows the cursor delivers, or {-1} when it does not open.
  std::set<int> Walk(const std::string& path, int sms, int mms, int other, int day, int spam,
                     int normal) {
    LogRow row;
    if (!log.MAPIGetNextMessage(0, path, sms, mms, other, day, spam, normal, row)) return {-1};
    std::set<int> ids;
    while (log.MAPIGetNextMessage(2, "", 0, 0, 0, 0, 0, 0, row)) ids.insert(row.id);
    return ids;
  }

  DataLocations& loc = locations_;
  MessageLog log{locations_};
  const std::string dba = DataFolder();
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

  // Apostrophes are stored as blanks, but the fingerprint is of the given body.
  ASSERT_EQ(Add(log, "Mail", "Don't 'quote' me", "O'Brien <ob@x.ie>", "It's here"), 3);
  EXPECT_EQ(Query(dba + "Mail.db",
                  "SELECT SenderEMAIL, Subject, OrgMessage, Message, Hash FROM Msg WHERE Id = 3;"),
            (Rows{"O Brien <ob@x.ie>|It s here|Don t  quote  me|don t  quote  me|" +
                  Fingerprint("Don't 'quote' me")}));
  EXPECT_TRUE(log.MAPIExists("Mail", "Don't 'quote' me", found, status, tokens));
  EXPECT_FALSE(log.MAPIExists("Mail", "Don t  quote  me", found, status, tokens));
  EXPECT_EQ(Add(log, "Mail", "x'); DROP TABLE Msg; --"), 4);  // never closes the quotes
  ExpectUniqueRows(dba + "Mail.db", 4);
}

TEST_F(MessageLogTest, LoadMapiListsTheDaysChosenVerdictsUpTo256) {
  log.MAPICreateLog("Mail");
  const int normal = Add(log, "Mail", "Normal today", "Ann <ann@example.org>", "n", 0, 0);
  const int spam = Add(log, "Mail", "Spam today", "spam@example.org", "s", 1, 0);
  const int old = Add(log, "Mail", "spam yesterday", "old@example.org", "y", 1, 1);
  std::string a, s, m, t, day;
  int id = 0;
  auto load = [&](int n, int withSpam, int withNormal) {
    EXPECT_TRUE(log.LoadMAPI("Mail", n, withSpam, withNormal, day));
    EXPECT_EQ(day, loc.DayText(n));
    std::set<int> ids;
    for (int i = 0; i < log.GetLogEntryCount(); ++i) {
      EXPECT_TRUE(log.GetLogEntry(i, a, s, m, t, id));
      EXPECT_EQ(t, kTime);
      ids.insert(id);
    }
    return ids;
  };
  EXPECT_EQ(load(0, 1, 1), (std::set<int>{normal, spam}));
  EXPECT_EQ(load(0, 1, 0), (std::set<int>{spam}));
  EXPECT_EQ(load(0, 0, 1), (std::set<int>{normal}));
  EXPECT_EQ(a + "|" + s + "|" + m, "ann@example.org|n|normal today");  // its entry
  EXPECT_EQ(load(1, 1, 1), (std::set<int>{old}));
  EXPECT_EQ(load(0, 0, 0), (std::set<int>{}));
  EXPECT_FALSE(log.GetLogEntry(0, a, s, m, t, id));

  for (int i = 0; i < 300; ++i) Add(log, "Mail", "message " + std::to_string(i));
  ASSERT_TRUE(log.LoadMAPI("Mail", 0, 1, 1, day));
  EXPECT_EQ(log.GetLogEntryCount(), 256);
  // A load that cannot open its log leaves the list empty.
  EXPECT_FALSE(log.LoadMAPI("no-such-folder/Mail", 0, 1, 1, day));
  EXPECT_EQ(log.GetLogEntryCount(), 0);
}

TEST_F(MessageLogTest, CursorTakesTheAskedKindDayAndVerdicts) {
  ExecOnce(dba + "Rules_0.db", "CREATE TABLE Rules (Id INT UNIQUE, Sender TEXT);");
  log.MAPICreateLog("MMS");
  log.MAPICreateLog("Mail");
  Add(log, "MMS", "mms body");
  const int normal = Add(log, "Mail", "Mail Body", "e@x", "mail", 0, 0);
  const int spam = Add(log, "Mail", "b", "x", "s", 1, 0);
  const int old = Add(log, "Mail", "c", "x", "s", 1, 3);
  ExecOnce(dba + "Spam_0.db",
           "INSERT INTO Spam VALUES (7, '+491721234567', 'Win a prize', 'tok ', '" +
               loc.DayText(0) + "', '" + kTime + "', 1), (1, '', '', '', '" + loc.DayText(0) +
               "', '', 0), (3, '', '', '', '" + loc.DayText(2) + "', '', 1);");
  const struct {
    const char* db;
    int sms, mms, other, day, spam, normal;
    std::set<int> ids;  // {-1}: the cursor does not open
  } cases[] = {
      {"Rules_0.db", 1, 1, 1, -1, 1, 1, {-1}},
      {"Spam_0.db", 0, 1, 1, -1, 1, 1, {-1}},
      {"MMS.db", 1, 0, 1, -1, 1, 1, {-1}},
      {"MMS.db", 0, 1, 0, -1, 1, 1, {1}},
      {"Mail.db", 1, 1, 0, -1, 1, 1, {-1}},
      {"Mail.db", 0, 0, 1, 0, 1, 1, {normal, spam}},
      {"Mail.db", 0, 0, 1, 1, 1, 1, {}},
      {"Mail.db", 0, 0, 1, -1, 0, 1, {normal, spam, old}},  // no day: every verdict
      {"Mail.db", 0, 0, 1, -1, 0, 0, {-1}},
      {"Spam_0.db", 1, 0, 0, 0, 1, 0, {7}},
      {"Spam_0.db", 1, 0, 0, -1, 1, 0, {1, 3, 7}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Walk(dba + c.db, c.sms, c.mms, c.other, c.day, c.spam, c.normal), c.ids)
        << c.db << " " << c.sms << c.mms << c.other << " day " << c.day << " " << c.spam
        << c.normal;

  LogRow row;
  row.subject = row.lowerBody = "left over";
  ASSERT_TRUE(log.MAPIGetNextMessage(0, dba + "Spam_0.db", 1, 0, 0, 0, 1, 0, row));
  ASSERT_TRUE(log.MAPIGetNextMessage(2, "", 0, 0, 0, 0, 0, 0, row));
  // Sender rules test the address field: an SMS's number is its address.
  EXPECT_EQ(Texts(row),
            "+491721234567|+491721234567||Win a prize||tok |" + loc.DayText(0) + "|" + kTime);
  EXPECT_EQ(row.status * 100 + row.id, 107);
  EXPECT_FALSE(log.MAPIGetNextMessage(2, "", 0, 0, 0, 0, 0, 0, row));
  EXPECT_EQ(row.rawBody + row.tokens, "");  // the last row's texts are released
  EXPECT_FALSE(log.MAPIGetNextMessage(2, "", 0, 0, 0, 0, 0, 0, row));
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
  ASSERT_TRUE(log.MAPIAdd("Long", std::string(253, 'n') + euro, std::string(300, 'f'), "s", "B",
                          "b", "b", "tok ", 0, std::string(258, 'd') + euro,
                          std::string(30, 't') + euro, id));
  LogRow row;
  ASSERT_TRUE(log.MAPIGetNextMessage(0, dba + "Long.db", 0, 0, 1, -1, 1, 1, row));
  ASSERT_TRUE(log.MAPIGetNextMessage(2, "", 0, 0, 0, 0, 0, 0, row));
  EXPECT_EQ(Texts(row), std::string(253, 'n') + "|" + std::string(255, 'f') + "|s|B|b|tok |" +
                            std::string(258, 'd') + "|" + std::string(30, 't') + euro);
  ExecOnce(dba + "Long.db", "UPDATE Msg SET ReceivedDate = '" + loc.DayText(0) + "';");
  std::string a, s, m, time, day;
  ASSERT_TRUE(log.LoadMAPI("Long", 0, 1, 1, day));
  ASSERT_TRUE(log.GetLogEntry(0, a, s, m, time, id));
  EXPECT_EQ(time, std::string(30, 't'));  // the entry keeps 31 bytes
}

TEST_F(MessageLogTest, ConcurrentProcessesNeverShareAnId) {
  // The parent holds no connection while the children write (none may cross
  // a fork); they leave with _exit so that the root is removed once.
  ExecOnce(dba + "Mail.db", MsgCreateStatement());
  std::vector<pid_t> writers;
  for (const char* tag : {"a", "b"}) {
    writers.push_back(::fork());
    if (writers.back() != 0) continue;
    DataLocations childLocations(root_.path(), clock_);
    std::string path, table;
    childLocations.ResolveSmsLogPath(path, table);
    MessageLog childLog(childLocations);
    bool ok = true;
    for (int i = 0; i < 200; ++i) {
      int id = 0;
      const std::string body = (i % 2 ? "shared " : tag) + std::to_string(i);
      ok = childLog.MAPIAdd("Mail", "s", "a", "subj", body, body, body, "", 0, "d", "t", id) && ok;
    }
    ::_exit(ok ? 0 : 1);
  }
  for (pid_t pid : writers) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ExpectUniqueRows(dba + "Mail.db", 300);
}

TEST(ExtractAddress, TakesTheTextBetweenTheLastAngleBrackets) {
  const std::pair<const char*, const char*> cases[] = {
      {"Ann Smith <ann@example.org>", "ann@example.org"},
      {"<>", ""},
      {"x>", "x"},
      {"ann@example.org", "ann@example.org"},
      {">", ">"},  // '>' at the start closes nothing
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
