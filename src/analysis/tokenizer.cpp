// The tokenizer on the hot path: every message and every logged message at a
// re-check goes through it. Stemming a word costs more than everything else,
// so each thread keeps a cache from word to stem, and only the distinct stems
// of a text are sorted; no allocation happens per token once the cache is warm.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "analysis/delimiters.h"
#include "analysis/hash.h"
#include "analysis/tokenizer.h"
#include "platform/ascii_text.h"
#include "platform/stemmer.h"

namespace varnox {
namespace {

constexpr std::size_t kMaxCachedWord = 64;         // longer words are stemmed every time
constexpr std::size_t kMaxCachedWords = 1u << 18;  // then the cache starts again
constexpr std::size_t kMaxArena = 32u << 20;

class StemCache {
 public:
  // Where one stem lies: in the cache's arena or in the caller's text.
  struct StemRef {
    std::uint32_t offset;
    std::uint32_t length;
    bool inText;
  };

  void BeginCall() {
    if (++call_ == 0) {  // the stamp wrapped: forget which call saw what
      for (Slot& s : slots_) s.stamp = 0;
      call_ = 1;
    }
    if (used_ >= kMaxCachedWords || arena_.size() >= kMaxArena) Clear();
  }

  // Adds the stem of the lower-case word at text[offset, offset + len) to
  // refs unless this call has seen the word already. May stem in place.
  // The hash Add wants for a word of len bytes (0 for words not cached).
  static std::uint64_t HashOf(const char* word, std::size_t len) {
    return len > kMaxCachedWord ? 0 : HashBytes(word, len);
  }

  // Brings the slot a word's probe starts at into the cache: a text's words
  // are hashed first and probed a few words later, so the probes do not
  // wait for memory one after the other.
  void Prefetch(std::uint64_t h) const {
    if (!slots_.empty()) __builtin_prefetch(&slots_[h & (slots_.size() - 1)]);
  }

  // h is HashOf the word.
  void Add(char* text, std::size_t offset, std::size_t len, std::uint64_t h,
           std::vector<StemRef>& refs) {
    char* word = text + offset;
    if (len > kMaxCachedWord) {
      StemInText(text, offset, len, refs);
      return;
    }
    if (slots_.empty()) Rehash(1u << 12);
    const auto tag = static_cast<std::uint32_t>(h >> 32);
    std::size_t mask = slots_.size() - 1;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
      Slot& s = slots_[i];
      if (s.wordLen == 0) break;
      if (s.tag == tag && s.wordLen == len && SameBytes(&arena_[s.offset], word, len)) {
        if (s.stamp != call_) {
          s.stamp = call_;
          if (s.stemLen > 0) refs.push_back({s.offset + s.wordLen, s.stemLen, false});
        }
        return;
      }
    }
    if (used_ >= kMaxCachedWords || arena_.size() + 2 * len > kMaxArena) {
      StemInText(text, offset, len, refs);
      return;
    }
    // A miss: remember the word, its stem right behind it.
    if ((used_ + 1) * 2 > slots_.size()) {
      Rehash(slots_.size() * 2);
      mask = slots_.size() - 1;
    }
    Slot fresh;
    fresh.tag = tag;
    fresh.offset = static_cast<std::uint32_t>(arena_.size());
    fresh.wordLen = static_cast<std::uint16_t>(len);
    arena_.insert(arena_.end(), word, word + len);
    arena_.insert(arena_.end(), word, word + len);
    const std::size_t stemLen = PorterStem(&arena_[fresh.offset + len], len);
    arena_.resize(fresh.offset + len + stemLen);
    fresh.stemLen = static_cast<std::uint16_t>(stemLen);
    fresh.stamp = call_;
    std::size_t i = h & mask;
    while (slots_[i].wordLen != 0) i = (i + 1) & mask;
    slots_[i] = fresh;
    ++used_;
    if (stemLen > 0) refs.push_back({fresh.offset + fresh.wordLen, fresh.stemLen, false});
  }

  std::string_view View(const char* text, const StemRef& r) const {
    return {(r.inText ? text : arena_.data()) + r.offset, r.length};
  }

 private:
  // 16 bytes, so that the table of a large vocabulary stays in the caches.
  struct Slot {
    std::uint32_t tag = 0;      // high half of the word's hash
    std::uint32_t offset = 0;   // the word in the arena, its stem right behind
    std::uint32_t stamp = 0;    // the call that saw the word last
    std::uint16_t wordLen = 0;  // 0: empty slot
    std::uint16_t stemLen = 0;
  };

  // Words are short: compare them without a library call.
  static bool SameBytes(const char* a, const char* b, std::size_t n) {
    while (n >= 8) {
      std::uint64_t x, y;
      std::memcpy(&x, a, 8);
      std::memcpy(&y, b, 8);
      if (x != y) return false;
      a += 8;
      b += 8;
      n -= 8;
    }
    for (; n > 0; --n)
      if (*a++ != *b++) return false;
    return true;
  }

  static void StemInText(char* text, std::size_t offset, std::size_t len,
                         std::vector<StemRef>& refs) {
    const std::size_t stemLen = PorterStem(text + offset, len);
    if (stemLen > 0 && offset <= UINT32_MAX && stemLen <= UINT32_MAX)
      refs.push_back(
          {static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(stemLen), true});
  }

  void Rehash(std::size_t capacity) {
    std::vector<Slot> old(capacity);
    old.swap(slots_);
    const std::size_t mask = capacity - 1;
    for (const Slot& s : old) {
      if (s.wordLen == 0) continue;
      std::size_t i = HashBytes(&arena_[s.offset], s.wordLen) & mask;
      while (slots_[i].wordLen != 0) i = (i + 1) & mask;
      slots_[i] = s;
    }
  }

  void Clear() {
    slots_.clear();
    arena_.clear();
    used_ = 0;
  }

  std::vector<Slot> slots_;
  std::vector<char> arena_;
  std::size_t used_ = 0;
  std::uint32_t call_ = 0;
};

// A stem with its first eight bytes as a big-endian number: most stems differ
// there, so sorting seldom needs to compare bytes. Stems hold no NUL, so the
// zero padding of short ones orders them before their extensions.
struct SortKey {
  std::uint64_t prefix;
  std::string_view stem;

  explicit SortKey(std::string_view s) : prefix(0), stem(s) {
    const std::size_t n = std::min<std::size_t>(8, s.size());
    for (std::size_t i = 0; i < n; ++i)
      prefix |= static_cast<std::uint64_t>(static_cast<unsigned char>(s[i])) << (56 - 8 * i);
  }
  bool operator<(const SortKey& o) const {
    if (prefix != o.prefix) return prefix < o.prefix;
    if (stem.size() <= 8 || o.stem.size() <= 8) return stem.size() < o.stem.size();
    return stem.substr(8) < o.stem.substr(8);
  }
  bool operator==(const SortKey& o) const { return prefix == o.prefix && stem == o.stem; }
};

// One token of the text: where it lies, and its hash for the cache.
struct Word {
  std::size_t offset;
  std::size_t length;
  std::uint64_t hash;
};

struct Workspace {
  StemCache cache;
  std::vector<Word> words;
  std::vector<StemCache::StemRef> refs;
  std::vector<SortKey> stems;
};

Workspace& ThreadWorkspace() {
  thread_local Workspace ws;
  return ws;
}

}  // namespace

void BuildTokenString(char* text, char* out) {
  out[0] = '\0';
  Workspace& ws = ThreadWorkspace();
  ws.cache.BeginCall();
  ws.words.clear();
  ws.refs.clear();

  auto* p = reinterpret_cast<unsigned char*>(text);
  const std::size_t len = std::strlen(text);
  std::size_t i = 0;
  while (i < len) {
    // Skip delimiters.
    unsigned char cls = detail::kByteClass[p[i]];
    if (cls == detail::kDelimiter) {
      ++i;
      continue;
    }
    bool delimiter = false;
    std::size_t step = 1;
    if (cls == detail::kNonAscii) {
      step = detail::ClassifyNonAscii(p + i, len - i, delimiter);
      if (delimiter) {
        i += step;
        continue;
      }
    }
    // A token: lower-case it in place up to the first delimiter.
    const std::size_t start = i;
    for (;;) {
      if (cls == detail::kToken) {
        if (p[i] >= 'A' && p[i] <= 'Z') p[i] |= 0x20;
        ++i;
      } else {
        i += step;
      }
      if (i >= len) break;
      cls = detail::kByteClass[p[i]];
      if (cls == detail::kDelimiter) break;
      if (cls == detail::kNonAscii) {
        step = detail::ClassifyNonAscii(p + i, len - i, delimiter);
        if (delimiter) break;
      }
    }
    const std::size_t end = i;
    if (end < len) {
      // Cut the token off; the delimiter's own length is taken on the next turn.
      const bool twoByteDelimiter = (cls == detail::kNonAscii && step == 2);
      p[end] = '\0';
      i = end + (twoByteDelimiter ? 2 : 1);
    }
    ws.words.push_back({start, end - start, StemCache::HashOf(text + start, end - start)});
  }
  constexpr std::size_t kPrefetchDistance = 8;
  for (std::size_t k = 0; k < ws.words.size(); ++k) {
    if (k + kPrefetchDistance < ws.words.size())
      ws.cache.Prefetch(ws.words[k + kPrefetchDistance].hash);
    const Word& w = ws.words[k];
    ws.cache.Add(text, w.offset, w.length, w.hash, ws.refs);
  }

  ws.stems.clear();
  ws.stems.reserve(ws.refs.size());
  for (const auto& r : ws.refs) ws.stems.emplace_back(ws.cache.View(text, r));
  std::sort(ws.stems.begin(), ws.stems.end());
  const auto last = std::unique(ws.stems.begin(), ws.stems.end());

  char* o = out;
  for (auto it = ws.stems.begin(); it != last; ++it) {
    std::memcpy(o, it->stem.data(), it->stem.size());
    o += it->stem.size();
    *o++ = ' ';
  }
  *o = '\0';
}

std::string BuildTokenString(std::string_view text) {
  std::string scratch(UpToNul(text));
  std::string out(scratch.size() + 2, '\0');
  BuildTokenString(scratch.data(), out.data());
  out.resize(std::strlen(out.c_str()));
  return out;
}

}  // namespace varnox
