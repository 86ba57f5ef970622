// JSON form of decoded answers: header, records, units, dates, invalid
// values and the answers that are no meter's data.

#include "control/decode/answer_json.h"
#include "control/decode/options.h"
#include "tests/control/decode/test_support.h"

namespace mbus::test {
namespace {

using AnswerJsonTest = DecoderTest;

std::string Json(const MBTelegram& t) {
    std::string out;
    AppendAnswerJson(out, AnswerView::Of(t));
    return out;
}

// The objects of the "records" array, each as its JSON text.
std::vector<std::string> Records(const std::string& json) {
    std::vector<std::string> out;
    std::size_t p = json.find("\"records\":[");
    if (p == std::string::npos) return out;
    p += 11;
    int depth = 0;
    bool inString = false;
    std::size_t start = 0;
    for (; p < json.size(); ++p) {
        const char c = json[p];
        if (inString) {
            if (c == '\\') ++p;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{') {
            if (depth++ == 0) start = p;
        } else if (c == '}') {
            if (--depth == 0) out.push_back(json.substr(start, p - start + 1));
        } else if (c == ']' && depth == 0) {
            break;
        }
    }
    return out;
}

// The single record of a CI 72h answer with these record bytes.
std::string OneRecord(const char* record) {
    const auto t = DecodeRecords(Hex(record));
    const auto records = Records(Json(*t));
    EXPECT_EQ(records.size(), 1u) << record;
    return records.empty() ? std::string() : records[0];
}

// The part of a record from "vib" on (the codes before it are the same
// in every case of a table).
std::string FromVIB(const std::string& record) {
    const std::size_t at = record.find("\"vib\"");
    return at == std::string::npos ? record : record.substr(at);
}

TEST_F(AnswerJsonTest, UnitsBelongToTheValueBesideThem) {
    const struct {
        const char* record;
        bool keepMultiplier;
        const char* json;
    } cases[] = {
        // Energy 100 [Wh] scaled by the walk: plain unit, value in Wh.
        {"04 05 08 00 00 00", false,
         R"("vib":"05","vibRewritten":"03","description":"Energy [Wh]","unit":"Wh","value":"800",)"
         R"("normalised":{"value":800e-3,"unit":"kWh","quantityClass":1,"factor":1e-3}})"},
        // The same kept as received: the unit carries the multiplier.
        {"04 05 08 00 00 00", true,
         R"("vib":"05","description":"Energy 100 [Wh]","unit":"x100 Wh","value":"8",)"
         R"("normalised":{"value":8e-1,"unit":"kWh","quantityClass":1,"factor":1e-1}})"},
        // Energy 100 [kWh] of the FB table is never lowered: 8 means 800 kWh.
        {"04 FB 00 08 00 00 00", false,
         R"("vib":"FB00","description":"Energy 100 [kWh]","unit":"x100 kWh","value":"8",)"
         R"("normalised":{"value":8e2,"unit":"kWh","quantityClass":1,"factor":1e2}})"},
        // A correction VIFE of 10^-2 scales the value too.
        {"04 86 74 08 00 00 00", false,
         R"("vib":"8674","description":"Energy [kWh]->*10E-2","unit":"x0.01 kWh","value":"8",)"
         R"("normalised":{"value":8e-2,"unit":"kWh","quantityClass":1,"factor":1e-2}})"},
        // No base unit: the code's own unit without its multiplier.
        {"04 FD 03 05 00 00 00", false,
         R"("vib":"FD03","vibRewritten":"FD01","description":"Credit 10 [currency]","unit":"x10 currency","value":"500",)"
         R"("normalised":{"value":500e1,"unit":"currency","quantityClass":99,"factor":1e1}})"},
        {"04 FB 21 05 00 00 00", false,
         R"("vib":"FB21","description":"Volume 0.1 [feet3]","unit":"x0.1 feet3","value":"5",)"
         R"("normalised":{"value":5e-1,"unit":"feet3","quantityClass":99,"factor":1e-1}})"},
        {"02 20 10 00", false,
         R"("vib":"20","description":"On Time [s]","unit":"s","value":"16",)"
         R"("normalised":{"value":16,"unit":"s","quantityClass":99,"factor":1}})"},
        // No unit at all: no normalised form.
        {"0C 78 21 43 65 87", false,
         R"("vib":"78","description":"Fabrication Number","unit":"Fabrication Number","value":"87654321",)"
         R"("normalised":null})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.record);
        MBusOption.OPTOnlyVIFUnitsWithoutMultiplier = c.keepMultiplier ? 0 : 1;
        EXPECT_EQ(FromVIB(OneRecord(c.record)), c.json);
    }
}

TEST_F(AnswerJsonTest, VIBIsWhatWasReceivedAndTheRewrittenFormApart) {
    auto t = DecodeRecords(Hex("04 05 08 00 00 00 04 13 01 00 00 00"));
    ASSERT_EQ(t->RecordCount(), 2);
    // The walk keeps the bytes received; the scaled unit is shown apart.
    const auto records = Records(Json(*t));
    EXPECT_EQ(FromVIB(records[0]).substr(0, 31), R"("vib":"05","vibRewritten":"03",)");
    EXPECT_EQ(FromVIB(records[1]).substr(0, 20), R"("vib":"13","descript)");
    // A record built without its received bytes shows the held ones.
    t->records[0].vibReceived.clear();
    EXPECT_EQ(FromVIB(Records(Json(*t))[0]).substr(0, 11), R"("vib":"03",)");
}

// A plain-text VIB as the decoder holds it: VIF, length, text, zero, VIFEs.
void SetPlainText(MBDataRecord& rec, std::string_view text, const Bytes& vifes) {
    uint8_t* vib = rec.MakePlainTextVIB();
    vib[0] = 0xFC;
    vib[1] = static_cast<uint8_t>(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) vib[2 + i] = static_cast<uint8_t>(text[i]);
    for (std::size_t i = 0; i < vifes.size(); ++i) vib[3 + text.size() + i] = vifes[i];
    rec.vibLength = static_cast<int32_t>(2 + text.size() + vifes.size());
}

TEST_F(AnswerJsonTest, PlainTextUnitWithCorrectionVIFE) {
    MBTelegram t;
    t.InterpretAnswer(kFrameLong, 0x08, 0x01, 0x72, LongFrame(0x08, 0x01, 0x72, Header72()).data(), 21);
    t.records.resize(2);
    for (MBDataRecord& rec : t.records) {
        rec.dataField = 4;
        rec.value = 12345;
        rec.valueText = "12345";
        rec.valueTextLength = 5;
        rec.hasValueText = true;
    }
    SetPlainText(t.records[0], "kWh", {0x74});
    SetPlainText(t.records[1], "kWh", {});
    t.records[0].vibReceived = {0xFC, 0x74, 0x03, 'h', 'W', 'k'};
    const auto records = Records(Json(t));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(FromVIB(records[0]),
              R"("vib":"FC740368576B","vibRewritten":"FC036B57680074","description":"kWh->*10E-2",)"
              R"("unit":"x0.01 kWh","value":"12345",)"
              R"("normalised":{"value":12345e-2,"unit":"kWh","quantityClass":99,"factor":1e-2}})");
    EXPECT_EQ(FromVIB(records[1]),
              R"("vib":"FC036B576800","description":"kWh","unit":"kWh","value":"12345",)"
              R"("normalised":{"value":12345,"unit":"kWh","quantityClass":99,"factor":1}})");
}

TEST_F(AnswerJsonTest, BCDWithNonDecimalDigitsIsInvalid) {
    const struct {
        const char* record;
        const char* json;
    } cases[] = {
        {"0C 13 AB 00 00 00", R"("value":null,"valid":false,"raw":"000000AB","normalised":null})"},
        {"0A 13 23 E1", R"("value":null,"valid":false,"raw":"E123","normalised":null})"},
        {"0A 13 2B F1", R"("value":null,"valid":false,"raw":"F12B","normalised":null})"},
        {"09 13 D5", R"("value":null,"valid":false,"raw":"D5","normalised":null})"},
        // The minus sign of BCD stays a sign.
        {"0A 13 23 F1",
         R"("value":"-0123","normalised":{"value":-123e-3,"unit":"m3","quantityClass":3,"factor":1e-3}})"},
        {"0C 13 78 56 34 12",
         R"("value":"12345678","normalised":{"value":12345678e-3,"unit":"m3","quantityClass":3,"factor":1e-3}})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.record);
        const std::string r = OneRecord(c.record);
        const std::size_t at = r.find("\"value\"");
        ASSERT_NE(at, std::string::npos) << r;
        EXPECT_EQ(r.substr(at), c.json);
    }
}

TEST_F(AnswerJsonTest, DatesAreISO8601OrInvalid) {
    const struct {
        const char* record;
        const char* json;
    } cases[] = {
        {"04 6D 1E 12 18 1C", R"("value":"2008-12-24T18:30","normalised":null})"},
        {"04 6D 1E 92 18 1C", R"("value":"2008-12-24T18:30","summerTime":true,"normalised":null})"},
        // Hundred-year bits (hour byte bits 5 and 6) set the century.
        {"04 6D 1E 52 18 1C", R"("value":"2108-12-24T18:30","normalised":null})"},
        {"04 6D 1E 32 78 CC", R"("value":"2099-12-24T18:30","normalised":null})"},
        {"04 6D 1E 12 78 CC", R"("value":"1999-12-24T18:30","normalised":null})"},
        // Time invalid: no date.
        {"04 6D 9E 12 18 1C",
         R"("value":null,"valid":false,"raw":"1C18129E","timeInvalid":true,"normalised":null})"},
        {"02 6C 18 1C", R"("value":"2008-12-24","normalised":null})"},
        {"02 6C F8 FC", R"("value":null,"valid":false,"raw":"FCF8","normalised":null})"},  // every year
        {"02 6C 1E 12", R"("value":null,"valid":false,"raw":"121E","normalised":null})"},  // 30 February
        {"02 6C 1D 12", R"("value":"2008-02-29","normalised":null})"},
        {"04 6D 00 00 00 00", R"("value":null,"valid":false,"raw":"00000000","normalised":null})"},
        // Six bytes: seconds, day of week and week as well.
        {"06 6D 0F 1E 72 18 1C 34",
         R"("value":"2008-12-24T18:30:15","dayOfWeek":3,"week":52,"normalised":null})"},
        {"06 6D 0F 5E 12 18 1C 00", R"("value":"2008-12-24T18:30:15","summerTime":true,"normalised":null})"},
        {"06 6D 0F 9E 12 18 1C 00",
         R"("value":null,"valid":false,"raw":"001C18129E0F","timeInvalid":true,"normalised":null})"},
        // Start of tariff is a date and time as well.
        {"04 FD 30 00 08 01 11", R"("value":"2008-01-01T08:00","normalised":null})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.record);
        const std::string r = OneRecord(c.record);
        const std::size_t at = r.find("\"value\"");
        ASSERT_NE(at, std::string::npos) << r;
        EXPECT_EQ(r.substr(at), c.json);
    }
}

TEST_F(AnswerJsonTest, AcknowledgeIsNoMeter) {
    EXPECT_EQ(Json(*Decode(Hex("E5"))),
              R"({"frameType":0,"structureKind":254,"received":1,"frame":"ack","warnings":[],"records":[]})");
}

TEST_F(AnswerJsonTest, ApplicationErrorCarriesCodeAndText) {
    const struct {
        const char* payload;
        const char* json;
    } cases[] = {
        {"08", R"("applicationError":{"code":8,"text":"Application too busy for handling readout request"},)"},
        {"01", R"("applicationError":{"code":1,"text":"Unimplemented CI field"},)"},
        {"0C", R"("applicationError":{"code":12,"text":"Reserved"},)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload);
        const std::string json = Json(*Decode(LongFrame(0x08, 0x01, 0x70, Hex(c.payload))));
        EXPECT_NE(json.find(c.json), std::string::npos) << json;
        EXPECT_EQ(json.find("identNumber"), std::string::npos) << json;
        EXPECT_NE(json.find(R"("frame":"long")"), std::string::npos) << json;
    }
}

TEST_F(AnswerJsonTest, WarningsAreAlwaysAnArray) {
    auto t = DecodeRecords(Hex("04 13 D2 04 00 00"));
    EXPECT_NE(Json(*t).find(R"("customerLocation":"FFFFFFFFFFFF","warnings":[],"records":[{)"), std::string::npos);
    t->warnings = {"record 2: value beyond the telegram", "a \"quoted\" word"};
    EXPECT_NE(Json(*t).find(R"("warnings":["record 2: value beyond the telegram","a \"quoted\" word"],"records")"),
              std::string::npos)
        << Json(*t);
}

TEST_F(AnswerJsonTest, ManufacturerDataKeepsItsDescription) {
    for (const char* dif : {"0F", "1F"}) {
        SCOPED_TRACE(dif);
        const auto t = DecodeRecords(Cat({Hex("04 13 D2 04 00 00"), Hex(dif), Hex("01 A2")}));
        const auto records = Records(Json(*t));
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(FromVIB(records[1]),
                  R"("vib":"","description":"Manufacturer specific","unit":"","value":"01A2","normalised":null})");
    }
    MBusLanguage = 1;
    const auto german = Records(Json(*DecodeRecords(Hex("0F 01"))));
    ASSERT_EQ(german.size(), 1u);
    EXPECT_EQ(german[0].find(R"("description":"Manufacturer specific")"), std::string::npos) << german[0];
    EXPECT_EQ(german[0].find(R"("description":"")"), std::string::npos) << german[0];
}

}  // namespace
}  // namespace mbus::test
