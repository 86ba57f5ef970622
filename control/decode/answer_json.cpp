#include "control/decode/answer_json.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "control/decode/options.h"
#include "control/decode/text_tables.h"
#include "control/decode/vib.h"

namespace mbus {
namespace {

void AppendInt(std::string& out, int64_t v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void AppendNumber(std::string& out, double d) {
    if (!std::isfinite(d)) {
        out += "null";
        return;
    }
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, d);
    out.append(buf, r.ptr);
}

void AppendHexBytes(std::string& out, const uint8_t* p, std::size_t n) {
    out += '"';
    for (std::size_t i = 0; i < n; ++i) {
        out += HTATab[p[i] >> 4];
        out += HTATab[p[i] & 0x0F];
    }
    out += '"';
}

void Key(std::string& out, const char* key) {
    out += '"';
    out += key;
    out += "\":";
}

void Field(std::string& out, const char* key, int64_t v) {
    Key(out, key);
    AppendInt(out, v);
    out += ',';
}

void Field(std::string& out, const char* key, std::string_view s) {
    Key(out, key);
    AppendJsonString(out, s);
    out += ',';
}

void AppendRecordJson(std::string& out, const MBTelegram& t, const MBDataRecord& rec) {
    out += '{';
    if (rec.specialDIF != 0) Field(out, "specialDif", rec.specialDIF);
    Field(out, "dataField", rec.dataField);
    Field(out, "coding", std::string_view(DataFieldName(rec.dataField)).substr(0, 5));
    Field(out, "function", rec.functionField);
    Field(out, "storage", rec.storageNumber);
    Field(out, "tariff", rec.tariff);
    Field(out, "subunit", rec.subunit);
    Key(out, "vib");
    const int n = rec.vibLength < rec.VIBCapacity() ? rec.vibLength : rec.VIBCapacity();
    AppendHexBytes(out, rec.VIB(), static_cast<std::size_t>(n));
    out += ',';

    char buf[1000];
    TextBuilder b(buf, sizeof buf);
    const int language = CurrentLanguage();
    const text::CodePage page = CodePageOfLanguage(language);
    DescribeVIB(rec.VIB(), rec.vibLength, static_cast<int>(t.structureKind), language, b);
    std::string utf8;
    text::AppendUtf8(utf8, b.View(), page);
    Field(out, "description", utf8);
    Field(out, "unit", UnitOf(utf8));

    Key(out, "value");
    if (!rec.hasValueText) out += "null";
    else if (rec.dataField == 0x0F) AppendHexBytes(out, reinterpret_cast<const uint8_t*>(rec.valueText.data()),
                                                   static_cast<std::size_t>(rec.valueTextLength));
    else AppendJsonString(out, RecordValue(t, rec, true));
    out += ',';

    b.Clear();
    const Normalised norm =
        DescribeVIBNormalised(rec.VIB(), rec.vibLength, static_cast<int>(t.structureKind), language, b);
    utf8.clear();
    text::AppendUtf8(utf8, b.View(), page);
    out += "\"normalised\":{";
    Field(out, "description", utf8);
    Field(out, "unit", UnitOf(utf8));
    Field(out, "quantityClass", norm.quantityClass);
    Key(out, "factor");
    AppendNumber(out, norm.factor);
    out += ',';
    Key(out, "value");
    const bool numeric = rec.hasValueText && rec.dataField != 0x0F && rec.dataField != 0x0D &&
                         rec.dataField != 0 && rec.dataField != 8 && !rec.valueText.empty() &&
                         norm.quantityClass != kNoQuantityClass;
    if (numeric) AppendNumber(out, std::strtod(rec.valueText.c_str(), nullptr) * norm.factor);
    else out += "null";
    out += "}}";
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view s) {
    out += '"';
    for (unsigned char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += HTATab[c >> 4];
                    out += HTATab[c & 0x0F];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
}

void AppendAnswerJson(std::string& out, const AnswerView& v) {
    out += '{';
    Field(out, "frameType", v.frameType);
    Field(out, "structureKind", v.structureKind);
    Field(out, "received", v.received);
    Field(out, "c", v.C);
    Field(out, "a", v.A);
    Field(out, "ci", v.CI);
    if (const MBTelegram* t = v.telegram) {
        char id[9];
        for (int i = 0; i < 8; ++i) id[i] = HTATab[(static_cast<uint32_t>(t->identNumber) >> (28 - 4 * i)) & 0x0F];
        id[8] = '\0';
        Field(out, "identNumber", id);
        Field(out, "manufacturer", answer::ManufacturerIDAsc(AnswerView::Of(*t)));
        Field(out, "manufacturerId", t->manufacturer);
        Field(out, "version", t->version);
        Field(out, "medium", t->medium);
        Field(out, "mediumText", answer::MediumAsc(AnswerView::Of(*t)));
        Field(out, "accessNumber", t->accessNumber);
        Field(out, "status", t->status);
        Field(out, "signature", t->signature);
        Field(out, "accessDemand", t->accessDemand);
        Field(out, "moreRecordsFollow", t->moreRecordsFollow);
        Field(out, "fabricationNumber", t->fabricationNumber);
        Field(out, "customer", t->customer);
        Field(out, "customerLocation", t->customerLocation);
        out += "\"records\":[";
        for (std::size_t i = 0; i < t->records.size(); ++i) {
            if (i) out += ',';
            AppendRecordJson(out, *t, t->records[i]);
        }
        out += ']';
    } else {
        out += "\"records\":[]";
    }
    out += '}';
}

}  // namespace mbus
