#include "i18n/interface_strings.h"

#include <iterator>
#include <string_view>

namespace varnox {
namespace {

constexpr int kFirst = 113;

// By resource number from 113; empty where a number names no string. From
// 131 on, texts the program added to the original ones.
const char* const kEnglish[] = {
    "Varnox",                                 // 113
    "",                                       // 114: the icon
    "Information",                            // 115
    "The required file is not available.",    // 116
    "Unable to locate help file.",            // 117
    "Error",                                  // 118
    "Failed to start help.",                  // 119
    "Specify a Sender, a Message, or both!",  // 120
    "",                                       // 121: the send dialog
    "Maximum rule limit exceeded!",           // 122
    "Warning",                                // 123
    "Select a rule first!",                   // 124
    "Failed to delete rule.",                 // 125
    "Updating database",                      // 126
    "Checking",                               // 127
    "Loading",                                // 128
    "Use CF Card?",                           // 129
    "Question",                               // 130
    "Specify a Sender for a sender rule.",    // 131
    "Sent.",                                  // 132
    "Not sent: the recipient is empty.",      // 133
    "Not sent: the message is empty.",        // 134
    "Not sent: the spool is not writable:",   // 135, then the reason
    "Spam by",                                // 136, then the rule
    "No rule marks it as spam.",              // 137
    "rule",                                   // 138: the words of the why line
    "sender rule",                            // 139
    "message rule",                           // 140
    "hits",                                   // 141
    "similarity 1",                           // 142
    "similarity 2",                           // 143
    "certainty",                              // 144
};
constexpr int kCount = static_cast<int>(std::size(kEnglish));
static_assert(kCount <= 48, "InterfaceStrings::texts_ holds 48");

// The longest prefix of whole characters that fits a buffer of 100 UTF-16
// code units with its terminator: 99 units, a character beyond U+FFFF
// taking two.
std::string_view Utf16Prefix(std::string_view text) {
  std::size_t units = 0, i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    const std::size_t need = length == 4 ? 2 : 1;
    if (units + need > 99 || i + length > text.size()) break;
    units += need;
    i += length;
  }
  return text.substr(0, i);
}

}  // namespace

InterfaceStrings::InterfaceStrings() {
  for (int i = 0; i < kCount; ++i) texts_[i] = kEnglish[i];
}

bool InterfaceStrings::Known(int id) {
  return id >= kFirst && id < kFirst + kCount && kEnglish[id - kFirst][0] != '\0';
}

std::string InterfaceStrings::Get(int id) const {
  if (!Known(id)) return {};
  std::lock_guard<std::mutex> lock(mutex_);
  return texts_[id - kFirst];
}

bool InterfaceStrings::Set(int id, const std::string& text) {
  if (!Known(id)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  texts_[id - kFirst] = std::string(Utf16Prefix(text));
  return true;
}

}  // namespace varnox
