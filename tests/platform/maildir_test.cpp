#include "platform/maildir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "support/corpus.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using namespace testsupport;

constexpr std::time_t kBase = 1760000000;

void SetTime(const std::string& path, std::time_t t, long nsec = 0) {
  const timespec times[2] = {{t, nsec}, {t, nsec}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

timespec MTime(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mtim;
}

std::string Message(const std::string& subject, const std::string& from = "a@example.org") {
  return "From: " + from + "\nSubject: " + subject + "\nTo: me@example.net\n\nBody\n";
}

// A Maildir inbox with new/ cur/ tmp/ in a temporary folder.
struct Inbox {
  TempRoot root;
  std::string path = root / "Store";
  MailStore store{"Store", path};
  Inbox() {
    for (const char* sub : {"", "/new", "/cur", "/tmp"}) fs::create_directories(path + sub);
  }
  std::string Put(const std::string& rel, const std::string& bytes, std::time_t t = kBase) {
    const std::string p = path + "/" + rel;
    EXPECT_TRUE(WriteFile(p, bytes));
    SetTime(p, t);
    return p;
  }
  std::vector<MailRow> Rows() {
    std::vector<MailRow> rows;
    EXPECT_TRUE(store.ContentsTable(rows));
    return rows;
  }
  // The count, then each row's subject, "(S)" when read, newest first.
  std::string Listing() {
    std::string out = std::to_string(store.InboxRowCount()) + ":";
    for (const MailRow& r : Rows()) out += r.subject + (r.read ? "(S)," : ",");
    return out;
  }
  // Folder times in the past: the state of an inbox nobody touched lately.
  void Settle() {
    SetTime(path + "/new", kBase);
    SetTime(path + "/cur", kBase);
  }
};

// The columns of a header block: subject, sender name and sender address.
TEST(MailHeaders, ColumnsOfHeaderBlocks) {
  const std::pair<std::string, std::string> cases[] = {
      // Encoded words in any charset become UTF-8.
      {"Subject: =?UTF-8?B?w7xiZXIgYWxsZXM=?=", "über alles||"},
      {"Subject: =?utf-8?q?caf=C3=A9_cr=C3=A8me?=", "café crème||"},
      {"Subject: =?ISO-8859-1?Q?Gr=FC=DFe?= aus K=?iso-8859-1?b?9mxu?=", "Grüße aus Köln||"},
      {"Subject: =?UTF-8?Q?one?=\n =?UTF-8?Q?_two?=\n\tthree", "one two three||"},
      {"Subject:   plain text  ", "plain text||"},
      {"Subject: =?UTF-8?Q?a=0D=0Ab?=", "a  b||"},  // no line breaks in a column
      // A charset nobody knows: the bytes still become valid UTF-8.
      {"Subject: =?x-unknown?Q?caf=C3=A9?=", "café||"},
      // From gives the mailbox or nothing.
      {"from: \"Doe, John\" <john@example.org>", "|Doe, John|john@example.org"},
      {"from: =?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?= <j@example.de>", "|Jürgen Müller|j@example.de"},
      {"from: bare@example.org", "||bare@example.org"},
      {"from: <angle@example.org>", "||angle@example.org"},
      {"from: first@example.org, second@example.org", "||first@example.org"},
      {"from: undisclosed-recipients:;", "||"},
      {"from: Team: a@example.org, b@example.org;", "||"},
      {"from: Just A Name", "|Just A Name|"},
      // Undecodable bytes: Latin-1 in a name, U+FFFD in an address.
      {"From: <x\xff@example.com>", "||x\uFFFD@example.com"},
      {"From: x\xff@example.com", "||x\uFFFD@example.com"},
      {"From: J\xfcrgen <j@example.com>", "|J\u00fcrgen|j@example.com"},
      {"From: J\xfcrgen <j\xfc@example.com>", "|J\uFFFDrgen|j\uFFFD@example.com"},
      {"From: =?UTF-8?Q?a=FF?= <x\xff@example.com>", "|a?|x\uFFFD@example.com"},
      {"From: <a b@example.com>", "||a b@example.com"},
      // Only the header block counts, and its first subject.
      {"Received: x\nsubject : first\nSubject: second\nFrom: a@example.org\n\nSubject: body",
       "first||a@example.org"},
      {"\nSubject: body", "||"},
      {"", "||"},
  };
  for (const auto& [block, columns] : cases) {
    const MailHeaders h = ParseMailHeaders(block + "\r\n\r\n");
    EXPECT_EQ(h.subject + "|" + h.senderName + "|" + h.senderAddress, columns) << block;
  }
}

TEST(MailHeaders, BadBytesGiveValidUtf8) {
  const std::string subject =
      ParseMailHeaders(std::string("Subject: caf\xe9 \xff\xfe\x80 "
                                   "=?UTF-8?B?////?= =?x-unknown?Q?caf=E9?= a") +
                       '\0' + "b\n")
          .subject;
  EXPECT_TRUE(IsUtf8(subject) && subject.starts_with("caf") && subject.rfind("caf") > 0 &&
              subject.find('\0') == std::string::npos)
      << subject;

  std::mt19937 rng(7);
  const std::string alphabet = "Subject:From=?UTF-8?Q?B?<>@\"\\;,\r\n \t\x80\xc3\xff";
  for (int i = 0; i < 2000; ++i) {
    std::string block = i % 2 ? "Subject: " : "From: ";
    const std::size_t n = rng() % 400;
    for (std::size_t k = 0; k < n; ++k) {
      block += rng() % 3 ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng());
    }
    const MailHeaders r = ParseMailHeaders(block);
    ASSERT_TRUE(IsUtf8(r.subject) && IsUtf8(r.senderName) && IsUtf8(r.senderAddress)) << i;
  }
}

TEST(MailHeaders, MegabytesOfHeaders) {
  std::string block = "From: Big <big@example.org>\nSubject: =?UTF-8?Q?gro=C3=9F?=";
  for (int i = 0; i < 100000; ++i) block += "\n x";  // one folded Subject of 300 KB
  for (int i = 0; i < 100000; ++i) block += "\nX-Filler-" + std::to_string(i) + ": 0123456789";
  const MailHeaders h = ParseMailHeaders(block + "\n\nbody");
  EXPECT_EQ(h.subject.substr(0, 7) + "|" + std::to_string(h.subject.size()) + "|" + h.senderAddress,
            "groß x|200005|big@example.org");
}

TEST(CanonicalLineEnds, EveryBareLineFeedGetsItsCarriageReturn) {
  // The first byte, the last, runs of LFs, CRs on their own, and a NUL.
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"\n\na\nb", "\r\n\r\na\r\nb"},
      {"a\r\nb\rc\r", "a\r\nb\rc\r"},
      {"\r\r\n\n\r", "\r\r\n\r\n\r"},
      {"x\n\r\ny\n", "x\r\n\r\ny\r\n"},
      {std::string("a\0\nb", 4), std::string("a\0\r\nb", 5)},
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(CanonicalLineEnds(in), out) << in;
    // In place, with room for the CRs and without.
    for (const std::size_t room : {std::size_t{0}, out.size()}) {
      std::string text = in;
      text.reserve(room);
      ExpandBareLineFeeds(text);
      EXPECT_EQ(text, out) << in;
    }
  }
}

TEST(ContentsTable, RowsIdsFlagsAndOrder) {
  Inbox box;
  const std::string first = Message("=?UTF-8?Q?Gr=C3=BC=C3=9Fe?=", "\"Ann\" <ann@example.org>");
  box.Put("new/1001.M1.host", first, kBase + 30);
  box.Put("cur/1002.M2.host,S=99:2,RS", Message("seen"), kBase + 20);
  box.Put("cur/1003.M3.host:2,FT", Message("flagged"), kBase + 20);
  box.Put("cur/1004.M4.host:2,a", Message("keyword"), kBase + 40);
  box.Put("cur/1005.M5.host", Message("no info"), kBase + 10);
  box.Put("tmp/1006.M6.host", Message("being delivered"), kBase + 50);
  box.Put("cur/.hidden", Message("dot"), kBase + 50);
  fs::create_directories(box.path + "/cur/folder");
  fs::create_directories(box.path + "/.Spam/cur");
  box.Put(".Spam/cur/1007.M7.host:2,S", Message("spam"), kBase + 50);

  EXPECT_EQ(box.Listing(), "5:keyword,Grüße,seen(S),flagged,no info,");  // equal times by name
  const std::vector<MailRow> rows = box.Rows();
  const auto columns = [](const MailRow& r) {
    return r.entryId + "|" + r.fileName + "|" + r.subfolder + "|" + r.senderName + "|" +
           r.senderAddress + "|" + std::to_string(r.deliveryTime) + "|" + std::to_string(r.size);
  };
  EXPECT_EQ(columns(rows[1]), "1001.M1.host|1001.M1.host|new|Ann|ann@example.org|" +
                                  std::to_string(kBase + 30) + "|" + std::to_string(first.size()));
  EXPECT_EQ(columns(rows[2]).substr(0, 45), "1002.M2.host,S=99|1002.M2.host,S=99:2,RS|cur|");
}

TEST(ContentsTable, ListingFollowsEveryChangeTheFolderTimesShow) {
  Inbox box;
  box.Put("new/1.M1.h", Message("one"), kBase + 1);
  box.Put("new/2.M2.h", Message("two"), kBase + 2);
  box.Settle();
  ASSERT_EQ(box.Listing(), "2:two,one,");
  // A file slipped in without the folder's time moving is not seen...
  box.Put("new/3.M3.h", Message("three"), kBase + 3);
  box.Settle();
  EXPECT_EQ(box.Listing(), "2:two,one,");
  // ...until the time moves, by a single nanosecond.
  SetTime(box.path + "/new", kBase, 1);
  EXPECT_EQ(box.Listing(), "3:three,two,one,");
  fs::rename(box.path + "/new/1.M1.h", box.path + "/cur/1.M1.h:2,S");
  EXPECT_EQ(box.Listing(), "3:three,two,one(S),");
  EXPECT_EQ(box.Rows()[2].fileName, "1.M1.h:2,S");
  fs::remove(box.path + "/new/2.M2.h");
  EXPECT_EQ(box.Listing(), "2:three,one(S),");
  // Same name, new bytes and size, same time: the columns are read again.
  box.Put("tmp/3.M3.h", Message("three, rewritten"), kBase + 3);
  fs::rename(box.path + "/tmp/3.M3.h", box.path + "/new/3.M3.h");
  EXPECT_EQ(box.Listing(), "2:three, rewritten,one(S),");

  // A folder changed just now may change again within the same timestamp
  // tick, leaving its time as it was: such a listing is not kept.
  box.Put("new/4.M4.h", Message("four"), kBase + 4);
  ASSERT_EQ(box.Listing(), "3:four,three, rewritten,one(S),");
  const timespec t = MTime(box.path + "/new");
  box.Put("new/5.M5.h", Message("five"), kBase + 5);
  SetTime(box.path + "/new", t.tv_sec, t.tv_nsec);
  EXPECT_EQ(box.Listing(), "4:five,four,three, rewritten,one(S),");
}

// Odd files are listed, with the columns their header blocks allow, and
// read as canonical text or refused.
TEST(ContentsTable, GarbageFilesAreListedAndRead) {
  Inbox box;
  box.Put("new/1.M1.h", "Subject: a\n\nline\r\nbare\nlone\rend\n", kBase + 1);
  box.Put("new/2.M2.h", "", kBase + 2);
  box.Put("new/3.M3.h", "\n\n\n", kBase + 3);
  box.Put("new/4.M4.h", std::string(100000, '\n'), kBase + 4);
  box.Put("new/5.M5.h", std::string("Subject: nul\0byte\nFrom: \0\n\nx", 28), kBase + 5);
  box.Put("new/6.M6.h", "Subject: no body, no end of line", kBase + 6);
  // Three megabytes of header lines: the columns come from the block's start.
  std::string headers = "Subject: big\nFrom: Big <big@example.org>\n";
  while (headers.size() < 3'000'000) headers += "X-Filler: 0123456789abcdef\n";
  box.Put("cur/7.M7.h:2,S", headers + "\nbody\n", kBase);
  ASSERT_EQ(box.Listing(), "7:no body, no end of line,nul byte,,,,a,big(S),");
  const auto rows = box.Rows();
  EXPECT_EQ(rows[1].senderName + rows[1].senderAddress + "|" + rows[6].senderAddress + "|" +
                std::to_string(rows[4].size),
            "|big@example.org|0");

  std::string text = "old", error;
  const auto read = [&](const MailRow& row) {
    return box.store.ReadMimeText(row, text, error) ? text : text + "failed: " + error;
  };
  EXPECT_EQ(read(rows[5]), "Subject: a\r\n\r\nline\r\nbare\r\nlone\rend\r\n");
  EXPECT_EQ(read(rows[4]), "failed: BodySize failed.");
  EXPECT_EQ(read(rows[3]), "\r\n\r\n\r\n");
  std::string crlf;  // more CRs than spare room
  for (int i = 0; i < 100000; ++i) crlf += "\r\n";
  EXPECT_TRUE(read(rows[2]) == crlf);
  fs::remove(box.path + "/new/1.M1.h");
  EXPECT_EQ(read(rows[5]), "failed: OpenProperty failed.");
  MailRow outside = rows[3];
  outside.subfolder = "../..";
  outside.entryId.clear();
  EXPECT_EQ(read(outside), "failed: OpenProperty failed.");
}

// Moves keep name, bytes and time; a gone message or a name taken in
// .Spam fails the move and replaces nothing.
TEST(SpamFolder, CreatedThenMovesKeepOrRefuse) {
  Inbox box;
  const std::string bytes = Message("spam") + std::string(5000, 'x');
  box.Put("new/1.M1.h", bytes, kBase + 1);
  SetTime(box.path + "/new/1.M1.h", kBase + 1, 123456789);
  box.Put("cur/2.M2.h:2,S", Message("seen spam"), kBase + 2);
  box.Put("cur/3.M3.h:2,", Message("ham"), kBase + 3);
  box.Put("new/4.M4.h", Message("gone"), kBase + 4);
  box.Put("new/5.M5.h", Message("five"), kBase + 5);
  ASSERT_TRUE(box.store.OpenSpamFolder());
  ASSERT_TRUE(box.store.OpenSpamFolder());  // opens the existing one
  for (const char* sub : {"cur", "new", "tmp"})
    EXPECT_TRUE(fs::is_directory(box.path + "/.Spam/" + sub));
  EXPECT_EQ(ReadAll(box.path + "/.Spam/maildirfolder"), "");
  const auto rows = box.Rows();
  ASSERT_EQ(rows.size(), 5u);

  EXPECT_TRUE(box.store.MoveToSpam(rows[4]));
  EXPECT_TRUE(box.store.MoveToSpam(rows[3]));
  EXPECT_EQ(ReadAll(box.path + "/.Spam/new/1.M1.h"), bytes);
  const timespec t = MTime(box.path + "/.Spam/new/1.M1.h");
  EXPECT_EQ(std::to_string(t.tv_sec - kBase) + "." + std::to_string(t.tv_nsec), "1.123456789");
  EXPECT_TRUE(fs::exists(box.path + "/.Spam/cur/2.M2.h:2,S"));

  fs::remove(box.path + "/new/4.M4.h");
  EXPECT_FALSE(box.store.MoveToSpam(rows[1]));
  box.Put(".Spam/new/5.M5.h", "already here");
  EXPECT_FALSE(box.store.MoveToSpam(rows[0]));
  EXPECT_EQ(ReadAll(box.path + "/.Spam/new/5.M5.h") + "|" + ReadAll(box.path + "/new/5.M5.h"),
            "already here|" + Message("five"));
  EXPECT_EQ(box.Listing(), "2:five,ham,");
}

// Dovecot's keyword letters name a keyword only within their folder: moved
// to .Spam they take the spam folder's letters for the same names.
TEST(SpamFolder, DovecotKeywordsKeepTheirNames) {
  Inbox box, plain;
  box.Put("dovecot-keywords", "0 $Forwarded\n1 $NotJunk\n2 Project_X\n");
  ASSERT_TRUE(box.store.OpenSpamFolder());
  box.Put(".Spam/dovecot-keywords", "0 Project_X\n2 Other\n");
  const struct {
    const char* name;   // in the inbox's cur/
    const char* moved;  // its name in .Spam/cur/
  } cases[] = {
      {"1.M1.h:2,FSa", "1.M1.h:2,FSb"},  // a name new to .Spam takes the first free index
      {"2.M2.h:2,bc", "2.M2.h:2,ad"},    // an existing name keeps its index there
      {"3.M3.h:2,Sd", "3.M3.h:2,S"},     // no name in the inbox: dropped
      {"4.M4.h:2,RS", "4.M4.h:2,RS"},   {"5.M5.h", "5.M5.h"},
  };
  for (const auto& c : cases) box.Put(std::string("cur/") + c.name, Message(c.name));
  for (const MailRow& row : box.Rows()) EXPECT_TRUE(box.store.MoveToSpam(row)) << row.fileName;
  for (const auto& c : cases) EXPECT_TRUE(fs::exists(box.path + "/.Spam/cur/" + c.moved)) << c.name;
  EXPECT_EQ(ReadAll(box.path + "/.Spam/dovecot-keywords"),
            "0 Project_X\n1 $Forwarded\n2 Other\n3 $NotJunk\n");
  EXPECT_FALSE(fs::exists(box.path + "/.Spam/dovecot-keywords.lock"));

  // Without a dovecot-keywords the letters are not Dovecot's: kept as they are.
  plain.Put("cur/6.M6.h:2,Sa", Message("plain"));
  ASSERT_TRUE(plain.store.OpenSpamFolder());
  EXPECT_TRUE(plain.store.MoveToSpam(plain.Rows().at(0)));
  EXPECT_TRUE(fs::exists(plain.path + "/.Spam/cur/6.M6.h:2,Sa"));
}

// Permissions bind ordinary users only; the test suite also runs as one. A
// spam folder that cannot be made is the scan's test (a file in its way).
TEST(Permissions, AnUnreadableMessageIsARowWithoutColumns) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  Inbox box;
  box.Put("new/1.M1.h", Message("secret"), kBase + 1);
  box.Put("new/2.M2.h", Message("open"), kBase + 2);
  fs::permissions(box.path + "/new/1.M1.h", fs::perms::none);
  EXPECT_EQ(box.Listing(), "2:open,,");  // still a row, as counted
  std::string text, error;
  EXPECT_FALSE(box.store.ReadMimeText(box.Rows()[1], text, error));
  EXPECT_EQ(error, "OpenProperty failed.");
  // Readable again: the columns are read now, though nothing else changed.
  fs::permissions(box.path + "/new/1.M1.h", fs::perms::owner_read);
  SetTime(box.path + "/new", kBase, 5);
  EXPECT_EQ(box.Listing(), "2:open,secret,");
}

TEST(MailStores, ListedByNameAndCreatedWhenMissing) {
  TempRoot root;
  std::vector<std::pair<std::string, std::string>> stores{{"stale", "x"}};
  ASSERT_TRUE(ListMailStores(root / "deep/Mail", stores));
  EXPECT_TRUE(stores.empty());
  EXPECT_TRUE(fs::is_directory(root / "deep/Mail"));

  const std::string mail = root / "deep/Mail";
  fs::create_directories(mail + "/Work");
  fs::create_directories(mail + "/.hidden");
  fs::create_directories(root / "elsewhere/Maildir");
  fs::create_symlink(root / "elsewhere/Maildir", mail + "/Personal");
  fs::create_symlink(root / "nowhere", mail + "/Dangling");
  ASSERT_TRUE(WriteFile(mail + "/afile", "x"));
  fs::create_directories(mail + "/MMS");
  ASSERT_TRUE(ListMailStores(mail, stores));
  std::string listed;
  for (const auto& [name, path] : stores) listed += name + "=" + path + ",";
  EXPECT_EQ(listed, "MMS=" + mail + "/MMS,Personal=" + mail + "/Personal,Work=" + mail + "/Work,");

  ASSERT_TRUE(WriteFile(root / "file", "x"));
  EXPECT_FALSE(ListMailStores(root / "file", stores));

  // A store without new/ has no inbox and no rows.
  fs::create_directories(mail + "/MMS/cur");
  MailStore mms("MMS", mail + "/MMS");
  EXPECT_FALSE(mms.HasInbox());
  std::vector<MailRow> rows(3);
  EXPECT_FALSE(mms.ContentsTable(rows));
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(MailStore("T", root / "missing").InboxRowCount(), 0);
}

}  // namespace
}  // namespace varnox
