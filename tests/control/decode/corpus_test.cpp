// Every telegram of the benchmark corpus classifies and decodes cleanly,
// and a few of them render to known texts.

#include <algorithm>

#include "bench/corpus.h"
#include "control/decode/answer_json.h"
#include "tests/control/decode/test_support.h"

namespace mbus::test {
namespace {

using CorpusTest = DecoderTest;

TEST_F(CorpusTest, EveryTelegramIsWellFormedAndDecodes) {
    const auto corpus = bench::LoadCorpus();
    ASSERT_GE(corpus.size(), 30u);
    int records = 0;
    for (const bench::Answer& e : corpus) {
        SCOPED_TRACE(e.title);
        const FrameShape& shape = e.shape;
        ASSERT_NE(shape.result, 4) << "error bits " << shape.errors;
        const auto t = Decode(e.frame);
        if (shape.result == 3 && shape.CI != 0x70 && shape.CI != 0x71) {
            EXPECT_NE(t->structureKind, kNothing);
            EXPECT_GT(t->RecordCount(), 0);
            for (const MBDataRecord& r : t->records) {
                if (r.specialDIF == 0 && r.dataField != 0 && r.dataField != 8 && r.dataField != 0x0F) {
                    EXPECT_TRUE(r.hasValueText) << "record without value";
                }
            }
        }
        records += t->RecordCount();
        for (CookedVariant v : kAllCookedVariants) EXPECT_FALSE(CookedData(AnswerView::Of(*t), v).empty());
    }
    EXPECT_GT(records, 150);
}

TEST_F(CorpusTest, WaterMeterRendersAsExpected) {
    const auto corpus = bench::LoadCorpus();
    const auto t = Decode(corpus.at(0).frame);
    EXPECT_EQ(CookedData(AnswerView::Of(*t), CookedVariant::Hex),
              "030101080172" "12345678" "QXA" "01" "1A" "00" "0000" "07" "Water|"
              "00000000" "00000000" "0000000000000000" "BCD8 Inst Volume [l]|12345678|"
              "00000000" "00000000" "0000000000000000" "INT4 Inst Time Point [Date+Time]|24.12.2008 18:30|"
              "00000000" "00000000" "0000000000000000" "INT2 Inst Error Flags (binary)|4|"
              "00000000" "00000000" "0000000000000000" "BCD8 Inst Fabrication Number|87654321|");
    EXPECT_STREQ(t->fabricationNumber, "87654321");
}

// The JSON of the corpus answers with error states, dates and an
// application error: each expected piece in the answer of that title.
TEST_F(CorpusTest, ErrorStatesDatesAndApplicationErrorsInJson) {
    const struct {
        const char* title;
        std::vector<const char*> pieces;
    } cases[] = {
        {"heat meter in an error state: BCD digits Ah..Fh, and a negative temperature difference",
         {R"("value":null,"valid":false,"raw":"AAAAAAAA")", R"("value":"00123456")",
          R"("value":"-01230","normalised":{"value":-1230e-3,"unit":"K")"}},
        {"dates: time invalid, hundred-year bits, a date of two bytes",
         {R"("raw":"1C18129E","timeInvalid":true)", R"("value":"2108-12-24T18:30")", R"("value":"2008-12-24")"}},
        {"date and time of six bytes with seconds, day of week and week",
         {R"("value":"2008-12-24T18:30:15","dayOfWeek":3,"week":52)", R"("value":"1234")"}},
        {"application error CI 70h: application too busy",
         {R"("applicationError":{"code":8,"text":"Application too busy for handling readout request"})"}},
    };
    const auto corpus = bench::LoadCorpus();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        const auto e = std::find_if(corpus.begin(), corpus.end(), [&](const bench::Answer& a) { return a.title == c.title; });
        ASSERT_NE(e, corpus.end());
        std::string json;
        AppendAnswerJson(json, AnswerView::Of(*Decode(e->frame)));
        for (const char* piece : c.pieces) EXPECT_NE(json.find(piece), std::string::npos) << piece << "\n" << json;
    }
}

}  // namespace
}  // namespace mbus::test
