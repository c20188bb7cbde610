// The interface strings shown in message boxes and status texts, known by
// their resource numbers. English until a language file replaces them; the
// scan thread reads one while the user-interface thread may replace it.
#pragma once

#include <mutex>
#include <string>

namespace varnox {

class InterfaceStrings {
 public:
  InterfaceStrings();
  // The text of resource number id, or empty for a number that is none.
  std::string Get(int id) const;
  // Replaces it (valid UTF-8 assumed), cut to the whole characters that fit
  // 99 UTF-16 code units; false for a number that is none.
  bool Set(int id, const std::string& text);
  static bool Known(int id);

 private:
  mutable std::mutex mutex_;  // guards: texts_
  std::string texts_[48];     // from 113, as many as the program has
};

}  // namespace varnox
