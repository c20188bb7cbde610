#include "i18n/interface_strings.h"

#include "analysis/fixed_text.h"

namespace varnox {
namespace {

constexpr int kFirst = 113;
constexpr int kLast = 130;

}  // namespace

InterfaceStrings::InterfaceStrings() {
  const char* english[] = {
      "Varnox",                                 // 113
      "",                                       // 114: the icon, no string
      "Information",                            // 115
      "The required file is not available.",    // 116
      "Unable to locate help file.",            // 117
      "Error",                                  // 118
      "Failed to start help.",                  // 119
      "Specify a Sender, a Message, or both!",  // 120
      "",                                       // 121: the send dialog, no string
      "Maximum rule limit exceeded!",           // 122
      "Warning",                                // 123
      "Select a rule first!",                   // 124
      "Failed to delete rule.",                 // 125
      "Updating database",                      // 126
      "Checking",                               // 127
      "Loading",                                // 128
      "Use CF Card?",                           // 129
      "Question",                               // 130
  };
  for (int i = 0; i <= kLast - kFirst; ++i) texts_[i] = english[i];
}

bool InterfaceStrings::Known(int id) {
  return id >= kFirst && id <= kLast && id != 114 && id != 121;
}

std::string InterfaceStrings::Get(int id) const {
  if (!Known(id)) return {};
  std::lock_guard<std::mutex> lock(mutex_);
  return texts_[id - kFirst];
}

bool InterfaceStrings::Set(int id, const std::string& text) {
  if (!Known(id)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  texts_[id - kFirst] = std::string(Utf8Prefix(text, 99));
  return true;
}

}  // namespace varnox
