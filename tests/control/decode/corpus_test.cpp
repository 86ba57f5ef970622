// Every telegram of the benchmark corpus classifies and decodes cleanly,
// and a few of them render to known texts.

#include <algorithm>
#include <stdexcept>
#include <tuple>

#include "bench/corpus.h"
#include "control/decode/answer_json.h"
#include "control/decode/options.h"
#include "tests/control/decode/test_support.h"

namespace mbus::test {
namespace {

using CorpusTest = DecoderTest;

// Telegrams of the corpus that the walk has something to say about, with
// what it says (plain-text layout as set by default).
const struct {
    const char* title;
    std::vector<std::string> warnings;
} kWarned[] = {
    {"room sensor: plain-text unit with its VIFE behind the text, humidity, temperature",
     {"record 1: plain-text unit read with its VIFEs behind the text (the set layout does not fit)"}},
    {"gas flow: plain-text unit with a chain of two VIFEs behind the text",
     {"record 1: plain-text unit read with its VIFEs behind the text (the set layout does not fit)"}},
    {"reserved LVAR F8h ends the walk", {"record 2: reserved LVAR F8h; the walk ends here, 8 bytes not decoded"}},
    {"CI 72h answer with its header cut short",
     {"user data too short for the header of CI 72h (6 bytes, needs 12); no header fields and no records"}},
    {"CI 7Ah answer with its header cut short",
     {"user data too short for the header of CI 7Ah (2 bytes, needs 4); no header fields and no records"}},
};

std::vector<std::string> ExpectedWarnings(const std::string& title) {
    for (const auto& w : kWarned)
        if (title == w.title) return w.warnings;
    return {};
}

const bench::Answer& Find(const std::vector<bench::Answer>& corpus, const std::string& title) {
    for (const bench::Answer& a : corpus)
        if (a.title == title) return a;
    throw std::runtime_error("not in the corpus: " + title);
}

// "description|value" of every record.
std::vector<std::string> Records(const MBTelegram& t) {
    std::vector<std::string> out;
    for (int i = 0; i < t.RecordCount(); ++i) out.push_back(RecordDescription(t, t.records[i]) + "|" + ValueOf(t, i));
    return out;
}

TEST_F(CorpusTest, EveryTelegramIsWellFormedAndDecodes) {
    const auto corpus = bench::LoadCorpus();
    ASSERT_GE(corpus.size(), 30u);
    int records = 0;
    for (const bench::Answer& e : corpus) {
        SCOPED_TRACE(e.title);
        const FrameShape& shape = e.shape;
        ASSERT_NE(shape.result, 4) << "error bits " << shape.errors;
        auto t = std::make_unique<MBTelegram>();
        const int result = t->InterpretAnswer(shape.result, shape.C, shape.A, shape.CI, e.frame.data(),
                                              static_cast<int>(e.frame.size()));
        EXPECT_EQ(t->warnings, ExpectedWarnings(e.title));
        if (result == kDecodeShortHeader) {
            EXPECT_EQ(t->structureKind, kNothing);
            EXPECT_EQ(t->RecordCount(), 0);
        } else if (shape.result == 3 && shape.CI != 0x70 && shape.CI != 0x71) {
            EXPECT_NE(t->structureKind, kNothing);
            EXPECT_GT(t->RecordCount(), 0);
            for (const MBDataRecord& r : t->records) {
                if (r.specialDIF == 0 && r.dataField != 0 && r.dataField != 8 && r.dataField != 0x0F &&
                    t->warnings.empty()) {
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


TEST_F(CorpusTest, PlainTextUnitsDecodeWithTheirVIFEsWhateverTheLayoutSetting) {
    const auto corpus = bench::LoadCorpus();
    for (int setting : {0, 1}) {
        MBusOption.plainTextVIFEsAfterText = setting;
        const auto sensor =
            Decode(Find(corpus, "room sensor: plain-text unit with its VIFE behind the text, humidity, temperature").frame);
        EXPECT_EQ(Records(*sensor), (std::vector<std::string>{"ppm->*10E-1|2000", "%RH|411",
                                                              "External Temperature [m°C]|21500",
                                                              "Fabrication Number|20261001"}));
        EXPECT_EQ(sensor->warnings.size(), setting == 1 ? 0u : 1u);
        const auto flow = Decode(Find(corpus, "gas flow: plain-text unit with a chain of two VIFEs behind the text").frame);
        EXPECT_EQ(Records(*flow), (std::vector<std::string>{"Nm3->per hour->*10E-3|123456", "Volume [l]|00004711"}));
        // The corpus's older telegram has its VIFE before the text.
        const auto before = Decode(Find(corpus, "plain-text VIFs: a unit text, and a text unit with a VIFE").frame);
        EXPECT_EQ(Records(*before), (std::vector<std::string>{"kPa|1013", "ppmV->per hour|55"}));
        EXPECT_EQ(before->warnings.size(), setting == 1 ? 1u : 0u);
    }
}

TEST_F(CorpusTest, LongBinaryValuesAndAReservedLVAR) {
    const auto corpus = bench::LoadCorpus();
    const auto t = Decode(Find(corpus, "long binary values: LVAR F0h, F4h, F5h and F6h, then a temperature").frame);
    ASSERT_EQ(t->RecordCount(), 5);
    EXPECT_EQ(ValueOf(*t, 0), "0F0E0D0C0B0A09080706050403020100");
    // 32, 48 and 64 bytes of counting numbers from 20h, 40h and 80h, last byte first.
    for (const auto& [index, first, count] : {std::tuple{1, 0x20, 32}, {2, 0x40, 48}, {3, 0x80, 64}}) {
        const std::string text = ValueOf(*t, index);
        ASSERT_EQ(text.size(), 2u * count) << index;
        EXPECT_EQ(std::stoi(text.substr(0, 2), nullptr, 16), first + count - 1);
        EXPECT_EQ(std::stoi(text.substr(text.size() - 2), nullptr, 16), first);
    }
    EXPECT_EQ(Records(*t).back(), "External Temperature [m°C]|21500");

    const auto reserved = Decode(Find(corpus, "reserved LVAR F8h ends the walk").frame);
    ASSERT_EQ(reserved->RecordCount(), 2);
    EXPECT_EQ(ValueOf(*reserved, 0), "21");
    EXPECT_FALSE(reserved->records[1].hasValueText);
}

TEST_F(CorpusTest, HeadersCutShortLeaveTheHeaderFieldsAtTheirDefaults) {
    const auto corpus = bench::LoadCorpus();
    // Long frame, structure kind FFh, no header fields, no records.
    EXPECT_EQ(CookedData(AnswerView::Of(*Decode(Find(corpus, "CI 72h answer with its header cut short").frame)),
                         CookedVariant::Hex),
              "03FF0108677200000000UNK000000000000Unknown|");
    EXPECT_EQ(CookedData(AnswerView::Of(*Decode(Find(corpus, "CI 7Ah answer with its header cut short").frame)),
                         CookedVariant::Hex),
              "03FF0108687A00000000UNK000000000000Unknown|");
}

}  // namespace
}  // namespace mbus::test
