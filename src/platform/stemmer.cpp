#include "platform/stemmer.h"

#include <libstemmer.h>

#include <cstring>
#include <memory>

namespace varnox {
namespace {

struct StemmerDeleter {
  void operator()(sb_stemmer* s) const { sb_stemmer_delete(s); }
};

// A Snowball stemmer is re-entrant but not thread-safe: one per thread.
sb_stemmer* ThreadStemmer() {
  thread_local std::unique_ptr<sb_stemmer, StemmerDeleter> stemmer(
      sb_stemmer_new("porter", "UTF_8"));
  return stemmer.get();
}

}  // namespace

std::size_t PorterStem(char* word, std::size_t len) {
  sb_stemmer* s = ThreadStemmer();
  if (s == nullptr || len == 0 || len > static_cast<std::size_t>(INT32_MAX)) return len;
  const sb_symbol* stem =
      sb_stemmer_stem(s, reinterpret_cast<const sb_symbol*>(word), static_cast<int>(len));
  if (stem == nullptr) return len;  // out of memory: keep the word as it is
  const int n = sb_stemmer_length(s);
  // The stem must fit over the word; a longer one (never seen) keeps the word.
  if (n < 0 || static_cast<std::size_t>(n) > len) return len;
  // A NUL inside the stem would end it for every reader of the terminated form.
  const void* nul = std::memchr(stem, 0, static_cast<std::size_t>(n));
  const std::size_t stemLen =
      nul ? static_cast<std::size_t>(static_cast<const sb_symbol*>(nul) - stem)
          : static_cast<std::size_t>(n);
  std::memmove(word, stem, stemLen);
  return stemLen;
}

void p_PorterStem(char* word) {
  if (word == nullptr) return;
  const std::size_t n = PorterStem(word, std::strlen(word));
  word[n] = '\0';
}

}  // namespace varnox
