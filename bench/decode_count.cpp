// Decodes and renders the corpus a given number of times, for counting
// instructions under callgrind (bench/callgrind_per_record runs it).
//
//   decode_count hex2|json ITERATIONS   prints the records decoded per pass

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/corpus.h"
#include "control/decode/answer_json.h"
#include "control/decode/answer_text.h"

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "hex2") != 0 && std::strcmp(argv[1], "json") != 0)) {
        std::fprintf(stderr, "usage: decode_count hex2|json ITERATIONS\n");
        return 2;
    }
    const bool json = std::strcmp(argv[1], "json") == 0;
    const int iterations = std::atoi(argv[2]);
    const auto corpus = mbus::bench::LoadCorpus();
    MBTelegram t;
    std::string out;
    long records = 0;
    std::size_t bytes = 0;
    for (int i = 0; i < iterations; ++i) {
        records = 0;
        for (const auto& a : corpus) {
            t.InterpretAnswer(a.shape.result, a.shape.C, a.shape.A, a.shape.CI, a.frame.data(),
                              static_cast<int>(a.frame.size()));
            out.clear();
            if (json) mbus::AppendAnswerJson(out, mbus::AnswerView::Of(t));
            else mbus::AppendCooked(out, mbus::AnswerView::Of(t), mbus::CookedVariant::Hex2);
            bytes += out.size();
            records += t.RecordCount();
        }
    }
    std::printf("%zu telegrams %ld records %zu bytes\n", corpus.size(), records, bytes);
    return 0;
}
