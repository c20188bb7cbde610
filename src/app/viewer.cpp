#include "app/viewer.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "analysis/fixed_text.h"
#include "mailstore/extract.h"
#include "platform/sms_incoming.h"
#include "storage/classify.h"

namespace varnox {
namespace {

constexpr int kDayField = 1022;
constexpr std::size_t kDayFieldChars = 260;
constexpr std::size_t kLongLine = 512;  // characters a line may have uncut
constexpr std::size_t kCutLine = 256;   // characters kept of a longer one

bool IsLeadByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
}

// The list's text of a line: cut to its first 256 characters when it has
// more than 512 (counted up to that point only: a logged message can be
// large), then made valid UTF-8 for the browser.
std::string ListLine(std::string_view text, bool cutLong) {
  if (cutLong) {
    std::size_t chars = 0, cut = text.size();
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (!IsLeadByte(text[i])) continue;
      if (chars == kCutLine) cut = i;
      if (++chars > kLongLine) {
        text = text.substr(0, cut);
        break;
      }
    }
  }
  return ValidUtf8(text);
}

// The standard decimal conversion of the day field, kept within int.
long DayValue(const std::string& field) {
  errno = 0;
  const long v = std::strtol(field.c_str(), nullptr, 10);
  return v > INT_MAX ? INT_MAX : v;
}

}  // namespace

bool SameUpToLineEnds(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  // The next character, CR LF and a lone CR read as LF; -1 past the end.
  auto next = [](std::string_view t, std::size_t& k) -> int {
    if (k == t.size()) return -1;
    const char c = t[k++];
    if (c != '\r') return static_cast<unsigned char>(c);
    if (k < t.size() && t[k] == '\n') ++k;
    return '\n';
  };
  for (;;) {
    const int x = next(a, i), y = next(b, j);
    if (x != y) return false;
    if (x < 0) return true;
  }
}

Viewer::Viewer(WindowModel& model, Storage& storage, const StoreScan& stores,
               std::string pageFolder, const InterfaceStrings& strings)
    : model_(model),
      storage_(storage),
      stores_(stores),
      pageFolder_(std::move(pageFolder)),
      strings_(strings) {}

void Viewer::SetListReloadStarter(std::function<bool()> start) {
  std::lock_guard<std::mutex> guard(dayMutex_);  // guards startReload_
  startReload_ = std::move(start);
}

void Viewer::Open() {
  Dialog d;
  d.key = kViewerDialog;
  d.title = strings_.Get(113);
  d.Add(1019, ControlKind::kField);
  d.Add(1037, ControlKind::kField);
  d.Add(1010, ControlKind::kList);
  d.Add(1021, ControlKind::kField);
  d.Add(1015, ControlKind::kLabel, "Sender");
  d.Add(1014, ControlKind::kField);
  d.Add(1023, ControlKind::kLabel, "Time");
  d.Add(1025, ControlKind::kField);
  d.Add(1016, ControlKind::kLabel, "Message");
  d.Add(1017, ControlKind::kField).multiline = true;
  d.Add(kWhyLabel, ControlKind::kLabel, "Why");
  d.Add(kWhyField, ControlKind::kField);
  d.Add(1020, ControlKind::kLabel, "Messages from Today (in Days)");
  d.Add(kDayField, ControlKind::kEdit);
  d.Add(1027, ControlKind::kButton, "+");
  d.Add(1029, ControlKind::kButton, "-");
  d.Add(1011, ControlKind::kCheck, "Spam");
  d.Add(1012, ControlKind::kCheck, "Normal");
  d.Add(1018, ControlKind::kButton, "Update");
  model_.Open(std::move(d));
  ReloadMessageList();
}

void Viewer::Show() {
  model_.SetVisible(kViewerDialog, true);
  model_.SetMinimized(kViewerDialog, false);
}

void Viewer::Command(int id) {
  switch (id) {
    case 1:
      model_.SetMinimized(kViewerDialog, true);
      break;
    case 2:
      model_.SetVisible(kViewerDialog, false);
      break;
    case 1018: {
      std::function<bool()> start;
      {
        std::lock_guard<std::mutex> guard(dayMutex_);  // guards startReload_
        start = startReload_;
      }
      if (start) start();
      break;
    }
    case 1027:
      ChangeDayCount(1);
      break;
    case 1029:
      ChangeDayCount(-1);
      break;
    default:
      break;
  }
}

bool Viewer::ChangeDayCount(int delta) {
  // Held until the reload has started or the change is taken back, so a
  // reload reads either the old count or the new one it was started for.
  std::lock_guard<std::mutex> guard(dayMutex_);  // guards dayCount_ and the day field
  if ((delta < 0 && dayCount_ < 1) || (delta > 0 && dayCount_ == INT_MAX)) return false;
  const std::string old = model_.Text(kViewerDialog, kDayField);
  dayCount_ += delta;
  model_.SetText(kViewerDialog, kDayField, std::to_string(dayCount_));
  if (startReload_ && startReload_()) return true;
  dayCount_ -= delta;
  model_.SetText(kViewerDialog, kDayField, old);
  return false;
}

void Viewer::SelectionChanged(int control) {
  if (control == 1010) ShowSelectedMessage();
}

void Viewer::ReloadMessageList() {
  std::lock_guard<std::mutex> list(listMutex_);  // the list lock
  int day = 0;
  {
    std::lock_guard<std::mutex> guard(dayMutex_);  // guards dayCount_ and the day field
    const std::string field = Utf8Prefix(model_.Text(kViewerDialog, kDayField), kDayFieldChars);
    const long value = DayValue(field);
    if (value < 1) {
      model_.SetText(kViewerDialog, kDayField, "0");
    } else {
      day = static_cast<int>(value);
    }
    dayCount_ = day;
  }
  const bool spam = model_.Checked(kViewerDialog, 1011);
  bool normal = model_.Checked(kViewerDialog, 1012);
  if (!spam && !normal) {
    model_.SetChecked(kViewerDialog, 1012, true);
    normal = true;
  }

  std::string dayText;
  storage_.smsLog.LoadSmsLog(day, spam, normal, dayText);
  model_.SetText(kViewerDialog, 1019, ValidUtf8(dayText));

  std::vector<std::string> lines;
  std::vector<bool> spamFlags;
  std::array<MessageKey, kMaxListedMessages> ids{};
  int counter = 0;
  auto add = [&](std::string header, std::string_view sender, std::string_view time,
                 std::string_view text, MessageKey key, int status) {
    lines.push_back(std::move(header));
    lines.push_back(ListLine(sender, false));
    lines.push_back(ListLine(time, false));
    lines.push_back(ListLine(text, key.kind == MessageKey::Kind::kMail));
    spamFlags.push_back(status == 1);
    if (counter < kMaxListedMessages) ids[static_cast<std::size_t>(counter)] = key;
    ++counter;
  };

  std::string sender, message, time, subject;
  int id = 0, status = 0;
  const int smsCount = storage_.smsLog.GetSmsEntryCount();
  for (int i = 0; i < smsCount; ++i) {
    if (!storage_.smsLog.GetSmsEntry(i, sender, message, time, id, &status)) continue;
    add("____________" + std::to_string(i + 1) + ". SMS________________________________", sender,
        time, message, {MessageKey::Kind::kSms, -1, id}, status);
  }
  int mailNumber = 0;
  const int storeCount = stores_.GetStoreCount();
  for (int s = 0; s < storeCount; ++s) {
    std::string store;
    if (!stores_.GetStoreName(s, store)) continue;
    std::string storeDay;
    storage_.messages.LoadMAPI(store, day, spam, normal, storeDay);
    const int entries = storage_.messages.GetLogEntryCount();
    for (int i = 0; i < entries; ++i) {
      if (!storage_.messages.GetLogEntry(i, sender, subject, message, time, id, &status)) continue;
      add("____________" + std::to_string(++mailNumber) +
              ". E-MAIL________________________________",
          sender, time, subject + "  " + message, {MessageKey::Kind::kMail, s, id}, status);
    }
  }
  {
    std::lock_guard<std::mutex> guard(stateMutex_);  // guards ids_
    ids_ = ids;
  }
  model_.SetLines(kViewerDialog, 1010, std::move(lines), std::move(spamFlags));
  model_.SetText(kViewerDialog, 1037, std::to_string(counter));
}

void Viewer::ShowSelectedMessage() {
  const int selected = model_.Selected(kViewerDialog, 1010);
  if (selected < 0) return;
  const int h = selected / 4 * 4;
  std::string line;
  ViewerSelectionTexts chosen = ViewerSelection();
  if (model_.Line(kViewerDialog, 1010, h + 1, line)) {
    model_.SetText(kViewerDialog, 1014, line);
    chosen.sender = line;
  }
  if (model_.Line(kViewerDialog, 1010, h + 2, line)) model_.SetText(kViewerDialog, 1025, line);
  if (model_.Line(kViewerDialog, 1010, h + 3, line)) {
    model_.SetText(kViewerDialog, 1017, line);
    chosen.text = line;
  }
  chosen.response.clear();
  {
    std::lock_guard<std::mutex> guard(stateMutex_);  // guards selection_, mailShownAs_
    selection_ = chosen;
    mailShownAs_.reset();
  }

  // A message beyond the table's 512 has no key: its fields are filled, the
  // page stays.
  const MessageKey key = MessageIdTable(h / 4);
  model_.SetText(kViewerDialog, kWhyField, WhySpam(key));
  std::string page;
  if (key.kind == MessageKey::Kind::kMail) {
    std::string store, original, subject, text;
    if (!stores_.GetStoreName(key.store, store) ||
        !storage_.messages.MAPIGetMessageBody(store, key.id, original, subject, text))
      return;
    {
      std::lock_guard<std::mutex> guard(stateMutex_);  // guards mailText_, mailShownAs_
      mailText_ = subject + " " + text;
      mailShownAs_ = chosen.text;
    }
    if (!FindDecodedMimePart(original, "content-type: text/html", page))
      page = "<HTML><BODY><H2>" + subject + "</H2>" + text + "</BODY></HTML>";
  } else if (key.kind == MessageKey::Kind::kSms) {
    page = "<HTML><BODY>" + chosen.text + "</BODY></HTML>";
  } else {
    return;
  }
  std::string path;
  if (WritePageFile(ValidUtf8(page), path)) model_.PageWritten();
}

std::string Viewer::WhySpam(const MessageKey& key) {
  // The verdict is made afresh from the logged address and tokens, as the
  // re-check would make it, so the line says what the rules say now.
  std::string sender, tokens, store;
  bool read = false;
  if (key.kind == MessageKey::Kind::kMail) {
    read = stores_.GetStoreName(key.store, store) &&
           storage_.messages.MAPIGetVerdictFields(store, key.id, sender, tokens);
  } else if (key.kind == MessageKey::Kind::kSms) {
    read = storage_.smsLog.GetSmsVerdictFields(key.id, sender, tokens);
  }
  if (!read) return {};
  RuleMatch match;
  if (!Classify(storage_.rules.Table(), sender, tokens, &match)) {
    // Rules that could not be read mark nothing, but that says nothing.
    return storage_.rules.RulesLoaded() ? strings_.Get(137) : std::string();
  }
  const MatchWords words{strings_.Get(138), strings_.Get(139), strings_.Get(140), strings_.Get(141),
                         strings_.Get(142), strings_.Get(143), strings_.Get(144)};
  std::string why = strings_.Get(136) + " " + DescribeMatch(match, words);
  std::string ruleSender, response;
  int useResponse = 0;
  if (match.bySender && storage_.rules.FindRuleById(match.id, ruleSender, response, useResponse))
    why += ": " + ruleSender;
  return ValidUtf8(why);
}

bool Viewer::WritePageFile(const std::string& page, std::string& path) {
  path = pageFolder_ + "/cmsg.htm";
  // Written aside and renamed over the page, so the server never sends a
  // page half written.
  const std::string temporary = path + ".new";
  std::FILE* f = std::fopen(temporary.c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(page.data(), 1, page.size(), f) == page.size();
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  std::lock_guard<std::mutex> guard(stateMutex_);  // guards pagePath_
  pagePath_ = path;
  return true;
}

void Viewer::ShowStatus(const std::string& text) {
  model_.ShowStatus(ValidUtf8(text));
}

std::string Viewer::PageFilePath() const {
  std::lock_guard<std::mutex> guard(stateMutex_);  // guards pagePath_
  return pagePath_;
}

std::unique_lock<std::mutex> Viewer::HoldList() {
  return std::unique_lock<std::mutex>(listMutex_);  // the list lock, for the caller
}

MessageKey Viewer::MessageIdTable(int index) const {
  if (index < 0 || index >= kMaxListedMessages) return {};
  std::lock_guard<std::mutex> guard(stateMutex_);  // guards ids_
  return ids_[static_cast<std::size_t>(index)];
}

ViewerSelectionTexts Viewer::ViewerSelection() const {
  std::lock_guard<std::mutex> guard(stateMutex_);  // guards selection_
  return selection_;
}

std::optional<std::string> Viewer::SelectedMailText() const {
  std::lock_guard<std::mutex> guard(stateMutex_);  // guards mailText_
  return mailText_;
}

std::optional<std::string> Viewer::SelectedMailTextFor(const std::string& shown) const {
  std::lock_guard<std::mutex> guard(stateMutex_);  // guards mailText_, mailShownAs_
  if (!mailShownAs_ || !SameUpToLineEnds(*mailShownAs_, shown)) return std::nullopt;
  return mailText_;
}

int Viewer::DayCount() const {
  std::lock_guard<std::mutex> guard(dayMutex_);  // guards dayCount_
  return dayCount_;
}

}  // namespace varnox
