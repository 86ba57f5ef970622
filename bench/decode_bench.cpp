// Decode throughput over the corpus: decode plus the Hex2 text, and decode
// plus JSON. Reports telegrams and records per second.

#include <benchmark/benchmark.h>

#include "bench/corpus.h"
#include "control/decode/answer_json.h"
#include "control/decode/answer_text.h"

namespace {

using mbus::bench::Answer;

template <typename Render>
void Run(benchmark::State& state, Render render) {
    const std::vector<Answer> corpus = mbus::bench::LoadCorpus();
    MBTelegram t;
    std::string out;
    int64_t telegrams = 0, records = 0;
    for (auto _ : state) {
        for (const Answer& a : corpus) {
            t.InterpretAnswer(a.shape.result, a.shape.C, a.shape.A, a.shape.CI, a.frame.data(),
                              static_cast<int>(a.frame.size()));
            out.clear();
            render(out, mbus::AnswerView::Of(t));
            benchmark::DoNotOptimize(out.data());
            records += t.RecordCount();
        }
        telegrams += static_cast<int64_t>(corpus.size());
    }
    state.counters["telegrams/s"] = benchmark::Counter(static_cast<double>(telegrams), benchmark::Counter::kIsRate);
    state.counters["records/s"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
}

void DecodeHex2(benchmark::State& state) {
    Run(state, [](std::string& out, const mbus::AnswerView& v) {
        mbus::AppendCooked(out, v, mbus::CookedVariant::Hex2);
    });
}

void DecodeJson(benchmark::State& state) {
    Run(state, [](std::string& out, const mbus::AnswerView& v) { mbus::AppendAnswerJson(out, v); });
}

BENCHMARK(DecodeHex2);
BENCHMARK(DecodeJson);

}  // namespace

BENCHMARK_MAIN();
