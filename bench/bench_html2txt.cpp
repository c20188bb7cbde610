#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bench_corpus.h"
#include "html2txt/html_converter.h"
#include "reference/html_converter_plain.h"

namespace {

// Messages with an HTML part: the input the converter really gets.
const std::vector<const std::string*>& HtmlMessages() {
  static const std::vector<const std::string*> messages = [] {
    std::vector<const std::string*> m;
    for (const auto& t : varnox::bench::CorpusTexts()) {
      const std::string_view text = t;
      if (text.find("<html") != std::string_view::npos ||
          text.find("<HTML") != std::string_view::npos) {
        m.push_back(&t);
      }
    }
    return m;
  }();
  return messages;
}

std::vector<const std::string*> AllMessages() {
  std::vector<const std::string*> m;
  for (const auto& t : varnox::bench::CorpusTexts()) m.push_back(&t);
  return m;
}

// Converts each message as the program does: through HtmlToText into a
// caller's buffer of the bound's size.
void ConvertMessages(benchmark::State& state, const std::vector<const std::string*>& messages) {
  if (messages.empty()) return state.SkipWithError("corpus missing");
  std::size_t longest = 0;
  for (const auto* t : messages) longest = std::max(longest, t->size());
  std::vector<char> out(varnox::HtmlOutputBound(longest));
  varnox::HtmlConverter converter;
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (const auto* t : messages) {
      varnox::HtmlToText(&converter, t->c_str(), out.data());
      benchmark::DoNotOptimize(out.data());
      bytes += t->size();
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_HtmlToTextCorpus(benchmark::State& state) {
  ConvertMessages(state, AllMessages());
}
BENCHMARK(BM_HtmlToTextCorpus)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_HtmlToTextHtmlMessages(benchmark::State& state) {
  ConvertMessages(state, HtmlMessages());
}
BENCHMARK(BM_HtmlToTextHtmlMessages)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The step-by-step reference form over the same messages, for comparison.
void ConvertMessagesPlain(benchmark::State& state,
                          const std::vector<const std::string*>& messages) {
  if (messages.empty()) return state.SkipWithError("corpus missing");
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (const auto* t : messages) {
      benchmark::DoNotOptimize(varnox::HtmlToTextPlain(*t));
      bytes += t->size();
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_HtmlToTextPlainCorpus(benchmark::State& state) {
  ConvertMessagesPlain(state, AllMessages());
}
BENCHMARK(BM_HtmlToTextPlainCorpus)->Unit(benchmark::kMillisecond);

void BM_HtmlToTextPlainHtmlMessages(benchmark::State& state) {
  ConvertMessagesPlain(state, HtmlMessages());
}
BENCHMARK(BM_HtmlToTextPlainHtmlMessages)->Unit(benchmark::kMillisecond);

}  // namespace
