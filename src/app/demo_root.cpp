#include "app/demo_root.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

#include "analysis/fingerprint.h"
#include "analysis/rules.h"
#include "analysis/tokenizer.h"
#include "platform/unique_fd.h"
#include "rulehook/sms_log_writer.h"
#include "storage/classify.h"
#include "storage/init_storage.h"

namespace varnox {
namespace {

// One demo e-mail. dayPart places it within its day: today's between
// midnight and now, yesterday's within the whole day.
struct DemoMail {
  const char* store;
  const char* unique;  // the Maildir unique name, which tells whether it is there
  int daysAgo;
  double dayPart;
  bool seen;  // read already: in cur/ with the S flag
  const char* from;
  const char* subject;
  std::string content;  // the content headers, a blank line and the body
};

struct DemoSms {
  const char* name;  // as a spool file name, which tells whether it is logged
  const char* sender;
  const char* text;
  double dayPart;
};

struct DemoRule {
  const char* sender;
  const char* message;
  int bySender;
  float certainty;
};

const DemoRule kRules[] = {
    {"promo", "", 1, 90.0f},
    {"", "Congratulations, you have won a prize in our lottery. Claim your prize now.", 0, 60.0f},
    {"", "Your parcel is waiting. Pay the customs fee at the link to release your parcel.", 0,
     60.0f},
};

const DemoSms kSms[] = {
    {"varnox-demo-sms-1", "+15550101", "Running 10 minutes late, order me a coffee please", 0.95},
    {"varnox-demo-sms-2", "PromoDeals", "2 pizzas for 1 this weekend only! Reply STOP to opt out",
     0.8},
    {"varnox-demo-sms-3", "+15550102", "Don't forget Mia's birthday dinner tonight at 7", 0.7},
    {"varnox-demo-sms-4", "+15550199",
     "Your parcel is waiting. Pay the customs fee at the link to release it: "
     "https://parcel.example.net/p/8x2",
     0.55},
    {"varnox-demo-sms-5", "+15550103", "Code for the library app: 482913", 0.4},
    {"varnox-demo-sms-6", "+15550188",
     "Congratulations! You have won a cruise in our lottery. Claim your prize now", 0.25},
};

std::string Base64(std::string_view bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kDigits[v & 63] : '=';
    if ((i + 3) % 57 == 0) out += '\n';  // 76 characters a line
  }
  if (out.empty() || out.back() != '\n') out += '\n';
  return out;
}

const char kPlain[] = "Content-Type: text/plain; charset=us-ascii\n\n";

std::vector<DemoMail> DemoMails() {
  return {
      {"Personal", "varnox-demo-01", 0, 0.92, false, "Anna Berg <anna.berg@example.org>",
       "Dinner on Friday?",
       std::string(kPlain) +
           "Hi,\n\nare you free on Friday evening? We could try the new Thai place on Elm\n"
           "Street. I can book a table for seven.\n\nAnna\n"},
      {"Personal", "varnox-demo-02", 0, 0.75, false,
       "=?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?= <juergen.mueller@example.net>",
       "=?UTF-8?Q?Gr=C3=BC=C3=9Fe_aus_M=C3=BCnchen?=",
       "Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: quoted-printable\n\n"
       "Hallo,\n\nviele Gr=C3=BC=C3=9Fe aus M=C3=BCnchen! Das Wetter ist sch=C3=B6n, und morgen =\n"
       "gehen wir in den Englischen Garten.\n\nBis bald,\nJ=C3=BCrgen\n"},
      {"Personal", "varnox-demo-03", 0, 0.5, false,
       "International Lottery Board <claims@example.com>", "Congratulations! You have won a prize",
       std::string(kPlain) +
           "Dear winner,\n\nCongratulations, you have won the first prize in our international\n"
           "lottery: 1,000,000 EUR. Claim your prize now: reply with your full name,\n"
           "address and bank details.\n\nThe Claims Department\n"},
      {"Personal", "varnox-demo-04", 0, 0.3, false, "Deals Daily <promo@example.com>",
       "Flash sale: 70% off everything",
       "Content-Type: text/html; charset=UTF-8\n\n"
       "<html><body style=\"font-family:sans-serif\">\n"
       "<h1 style=\"color:#c00\">Flash sale!</h1>\n"
       "<p>Everything <b>70% off</b> for the next 24 hours only.</p>\n"
       "<p><a href=\"https://shop.example.com/sale\">Shop now</a></p>\n"
       "<img src=\"https://shop.example.com/pixel.gif\" width=\"1\" height=\"1\" alt=\"\">\n"
       "</body></html>\n"},
      {"Personal", "varnox-demo-05", 1, 0.8, true, "City Library <library@example.net>",
       "Loans due on Monday",
       "Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: base64\n\n" +
           Base64("Hello,\n\nthese items are due on Monday:\n\n  \xE2\x80\xA2 The Old Man and "
                  "the Sea\n  \xE2\x80\xA2 A Field Guide to Birds\n\nRenew them in the library "
                  "app or at the front desk.\n\nCity Library\n")},
      {"Personal", "varnox-demo-06", 1, 0.55, true, "Tom Reed <tom.reed@example.org>",
       "Photos from the hike",
       "Content-Type: multipart/mixed; boundary=\"b1\"\n\n"
       "--b1\nContent-Type: text/plain; charset=us-ascii\n\n"
       "Here is the summit photo. The view was worth the climb!\n\nTom\n"
       "--b1\nContent-Type: image/png; name=\"summit.png\"\n"
       "Content-Disposition: attachment; filename=\"summit.png\"\n"
       "Content-Transfer-Encoding: base64\n\n"
       "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA60e6kgAAAABJRU5E"
       "rkJggg==\n--b1--\n"},
      {"Personal", "varnox-demo-07", 1, 0.3, true, "Maria Lopez <maria.lopez@example.org>",
       "Re: Saturday",
       std::string(kPlain) +
           "Saturday works for me. I'll bring the cake, you bring the candles.\n\n"
           "> Shall we meet at two?\n\nMaria\n"},
      {"Work", "varnox-demo-08", 0, 0.85, false, "Build Server <builds@example.com>",
       "Nightly build passed",
       std::string(kPlain) +
           "Nightly build #412 passed.\n\n  Tests: 1,204 passed, 0 failed\n  Duration: 18 min\n\n"
           "This message was sent automatically.\n"},
      {"Work", "varnox-demo-09", 0, 0.6, false, "Priya Shah <priya.shah@example.com>",
       "Agenda for Monday's review",
       "Content-Type: multipart/alternative; boundary=\"b2\"\n\n"
       "--b2\nContent-Type: text/plain; charset=us-ascii\n\n"
       "Agenda: 1. Release status 2. Open bugs 3. Next sprint\n"
       "--b2\nContent-Type: text/html; charset=us-ascii\n\n"
       "<p>Agenda:</p><ol><li>Release status</li><li>Open bugs</li><li>Next sprint</li></ol>\n"
       "--b2--\n"},
      {"Work", "varnox-demo-10", 0, 0.4, false, "Parcel Service <delivery@example.net>",
       "Your parcel is waiting: customs fee due",
       std::string(kPlain) +
           "Your parcel is waiting at our depot. Pay the customs fee of 1.99 EUR at the\n"
           "link below to release your parcel within 48 hours:\n\n"
           "https://parcel.example.net/pay\n"},
      {"Work", "varnox-demo-11", 1, 0.7, true, "Accounts <accounts@example.org>",
       "=?ISO-8859-1?Q?Rechnung_f=FCr_M=E4rz?=",
       "Content-Type: text/plain; charset=ISO-8859-1\n"
       "Content-Transfer-Encoding: quoted-printable\n\n"
       "Guten Tag,\n\nanbei die Rechnung f=FCr M=E4rz. Bitte =FCberweisen Sie den Betrag bis =\n"
       "zum Monatsende.\n\nMit freundlichen Gr=FC=DFen\nBuchhaltung\n"},
      {"Work", "varnox-demo-12", 1, 0.45, true, "Lee Chen <lee.chen@example.com>",
       "Quarterly report draft",
       "Content-Type: multipart/mixed; boundary=\"b3\"\n\n"
       "--b3\nContent-Type: text/plain; charset=us-ascii\n\n"
       "The draft figures are attached. Comments welcome before Thursday.\n\nLee\n"
       "--b3\nContent-Type: text/csv; name=\"q3.csv\"\n"
       "Content-Disposition: attachment; filename=\"q3.csv\"\n"
       "Content-Transfer-Encoding: base64\n\n" +
           Base64("region,revenue\nnorth,1200\nsouth,950\n") + "--b3--\n"},
      {"Work", "varnox-demo-13", 1, 0.2, false, "Weekly Offers <promo@example.net>",
       "Last chance: coupon expires",
       std::string(kPlain) + "Your 20% coupon expires tonight. Use code SAVE20 at checkout.\n"},
  };
}

// The Date header's text of t (RFC 5322, English names whatever the locale).
std::string DateHeader(std::time_t t) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::tm tm = LocalTime(t);
  const long offset = tm.tm_gmtoff / 60;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                kDays[tm.tm_wday], tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour,
                tm.tm_min, tm.tm_sec, offset < 0 ? '-' : '+', std::labs(offset) / 60,
                std::labs(offset) % 60);
  return text;
}

// Local midnight daysAgo days before now's day (DST-safe through mktime).
std::time_t Midnight(std::time_t now, int daysAgo) {
  std::tm tm = LocalTime(now);
  tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
  tm.tm_mday -= daysAgo;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

// A time of the day daysAgo days back: today's never lie after now.
std::time_t TimeOfDay(std::time_t now, int daysAgo, double dayPart) {
  const std::time_t start = Midnight(now, daysAgo);
  const std::time_t end = daysAgo == 0 ? now : Midnight(now, daysAgo - 1);
  return start + static_cast<std::time_t>(static_cast<double>(end - start) * dayPart);
}

bool MakeFolder(const std::string& path, std::string& error) {
  if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
  error = "cannot make " + path + ": " + std::strerror(errno);
  return false;
}

// Whether a message with this unique name is in the folder (any flags).
bool HasUnique(const std::string& folder, const std::string& unique) {
  const DirPtr dir(::opendir(folder.c_str()));
  if (!dir) return false;
  while (const dirent* e = ::readdir(dir.get())) {
    const std::string_view name(e->d_name);
    if (name.substr(0, name.find(":2,")) == unique) return true;
  }
  return false;
}

// Delivers a message as a delivery agent does: written in tmp/, its time
// set, renamed into new/ or cur/.
bool Deliver(const std::string& store, const std::string& name, const std::string& bytes,
             std::time_t when, bool seen, std::string& error) {
  const std::string temp = store + "/tmp/" + name;
  const std::string final = store + (seen ? "/cur/" + name + ":2,S" : "/new/" + name);
  {
    const UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    std::size_t done = 0;
    while (fd && done < bytes.size()) {
      const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    const timespec times[2] = {{when, 0}, {when, 0}};
    if (!fd || done != bytes.size() || ::futimens(fd.get(), times) != 0) {
      error = "cannot write " + temp + ": " + std::strerror(errno);
      ::unlink(temp.c_str());
      return false;
    }
  }
  if (::rename(temp.c_str(), final.c_str()) != 0) {
    error = "cannot deliver " + final + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

bool AddMails(const std::string& root, std::time_t now, std::string& error) {
  const std::string mail = root + "/Mail";
  if (!MakeFolder(mail, error)) return false;
  for (const DemoMail& m : DemoMails()) {
    const std::string store = mail + "/" + m.store;
    for (const char* sub : {"", "/new", "/cur", "/tmp"})
      if (!MakeFolder(store + sub, error)) return false;
    bool there = false;
    // A scan may have moved it to .Spam, a mail client from new/ to cur/.
    for (const char* sub : {"/new", "/cur", "/.Spam/new", "/.Spam/cur"})
      there = there || HasUnique(store + sub, m.unique);
    if (there) continue;
    const std::time_t when = TimeOfDay(now, m.daysAgo, m.dayPart);
    const std::string to = std::string(m.store) == "Work" ? "you@example.com" : "you@example.org";
    const std::string bytes = "From: " + std::string(m.from) + "\nTo: You <" + to +
                              ">\nSubject: " + m.subject + "\nDate: " + DateHeader(when) +
                              "\nMessage-ID: <" + m.unique + "@example.org>\nMIME-Version: 1.0\n" +
                              m.content;
    if (!Deliver(store, m.unique, bytes, when, m.seen, error)) return false;
  }
  return true;
}

bool AddRules(Storage& storage, std::string& error) {
  storage.rules.LoadRules();
  bool added = false;
  for (const DemoRule& r : kRules) {
    bool there = false;
    for (int i = 0; i < storage.rules.GetRuleCount() && !there; ++i) {
      std::string sender, message, response;
      int useResponse = 0, bySender = 0, id = 0;
      float certainty = 0;
      storage.rules.GetRule(i, sender, message, response, useResponse, bySender, certainty, id);
      there = sender == r.sender && message == r.message;
    }
    if (there) continue;
    if (!storage.rules.AddRule(r.sender, r.message, "", 0, r.bySender, r.certainty)) {
      error = "cannot add a rule to the rules database";
      return false;
    }
    added = true;
  }
  if (added) storage.locations.SignalRulesChanged();
  if (storage.rules.LoadRules()) return true;
  error = "cannot read the rules database";
  return false;
}

// Logs the SMS as the companion does on receiving them, classified by the
// rules, so a re-check finds every verdict as it stands.
bool AddSms(Storage& storage, RuleTable& table, std::time_t now, std::string& error) {
  rulehook::SmsLogWriter writer(storage.locations.DataFolder());
  for (const DemoSms& s : kSms) {
    const std::tm when = LocalTime(TimeOfDay(now, 0, s.dayPart));
    rulehook::SmsRow row;
    row.sender = s.sender;
    row.message = s.text;
    row.tokens = BuildTokenString(s.text);
    row.receivedDate = LongDateText(when);
    row.receivedTime = TimeText(when);
    row.status = Classify(table, row.sender, row.tokens);
    int id = 0;
    if (writer.Log(row, s.name, Fingerprint(s.text), id, error) == rulehook::LogOutcome::kFailed)
      return false;
  }
  return true;
}

}  // namespace

bool MakeDemoRoot(const std::string& root, const Clock& clock, std::string& error) {
  error.clear();
  CreateDirectoryChain(root);
  struct stat st {};
  if (::stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
      ::access(root.c_str(), W_OK | X_OK) != 0) {
    error = "cannot use " + root + " as the device root";
    return false;
  }
  // The rules are checked here against a table of this root alone.
  RuleTable table;
  Storage storage(root, clock, table);
  storage.locations.FindInstallFolder();
  storage.InitStorage(1, [](const std::string&, const std::string&) { return false; });
  if (storage.locations.DataFolder().empty()) {
    error = "cannot make the data folder under " + root;
    return false;
  }
  return AddMails(root, clock.Now(), error) && AddRules(storage, error) &&
         AddSms(storage, table, clock.Now(), error);
}

}  // namespace varnox
