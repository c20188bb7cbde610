#include <benchmark/benchmark.h>

#include "analysis/fingerprint.h"
#include "bench_corpus.h"

namespace {

void BM_Md4Corpus(benchmark::State& state) {
  const auto& texts = varnox::bench::CorpusTexts();
  if (texts.empty()) return state.SkipWithError("corpus missing");
  std::size_t bytes = 0;
  char out[varnox::kFingerprintSize];
  for (auto _ : state) {
    for (const auto& t : texts) {
      varnox::MessageFingerprint(t.c_str(), out);
      benchmark::DoNotOptimize(out);
      bytes += t.size();
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_Md4Corpus)->Unit(benchmark::kMillisecond);

}  // namespace
