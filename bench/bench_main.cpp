#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench_corpus.h"
#include "support/corpus.h"

namespace varnox::bench {

const std::vector<std::string>& CorpusTexts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> t;
    for (const auto& path : testsupport::CorpusFiles()) {
      std::string bytes = testsupport::ReadAll(path);
      bytes.resize(std::strlen(bytes.c_str()));
      t.push_back(std::move(bytes));
    }
    return t;
  }();
  return texts;
}

std::size_t CorpusBytes() {
  std::size_t n = 0;
  for (const auto& t : CorpusTexts()) n += t.size();
  return n;
}

}  // namespace varnox::bench

int main(int argc, char** argv) {
  std::printf("corpus: %zu messages, %.1f MB\n", varnox::bench::CorpusTexts().size(),
              varnox::bench::CorpusBytes() / 1e6);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  // VARNOX_BENCH_NO_RULES=1 leaves out the (long) rule-check comparison.
  const char* skip = std::getenv("VARNOX_BENCH_NO_RULES");
  if (skip != nullptr && std::strcmp(skip, "1") == 0) return 0;
  return varnox::bench::RunRuleComparison() ? 0 : 1;
}
