#include <benchmark/benchmark.h>

#include <string>

#include "analysis/tokenizer.h"
#include "bench_corpus.h"
#include "reference/tokenizer_plain.h"

namespace {

void BM_TokenizerCorpus(benchmark::State& state) {
  const auto& texts = varnox::bench::CorpusTexts();
  if (texts.empty()) return state.SkipWithError("corpus missing");
  std::string scratch, out;
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (const auto& t : texts) {
      scratch.assign(t);
      out.resize(t.size() + 2);
      varnox::BuildTokenString(scratch.data(), out.data());
      benchmark::DoNotOptimize(out.data());
      bytes += t.size();
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_TokenizerCorpus)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The step-by-step reference on the smaller messages, for comparison.
void BM_TokenizerPlainSmallMessages(benchmark::State& state) {
  std::vector<const std::string*> small;
  for (const auto& t : varnox::bench::CorpusTexts())
    if (t.size() < 4000) small.push_back(&t);
  if (small.empty()) return state.SkipWithError("corpus missing");
  std::string scratch, out;
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (const auto* t : small) {
      scratch.assign(*t);
      out.resize(t->size() + 2);
      varnox::BuildTokenStringPlain(scratch.data(), out.data());
      benchmark::DoNotOptimize(out.data());
      bytes += t->size();
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_TokenizerPlainSmallMessages)->Unit(benchmark::kMillisecond);

}  // namespace
