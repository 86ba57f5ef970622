// Feeds arbitrary bytes through the decoder and every text form of the
// decoded answer.
//
// Input: byte 0 chooses how the frame reaches the decoder (below 80h it is
// classified like a received frame, otherwise bytes 2..5 give frame type,
// C, A and CI directly), byte 1 sets the options and the language, the
// rest is the frame.

#include <cstddef>
#include <cstdint>
#include <string>

#include "control/decode/answer_json.h"
#include "control/decode/answer_text.h"
#include "control/decode/options.h"
#include "control/decode/telegram.h"
#include "control/line/frame_shape.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const uint8_t mode = data[0], options = data[1];
    MBusOption.OPTOnlyVIFUnitsWithoutMultiplier = options & 1;
    MBusOption.OPTValueAfterErrorVIFE = (options >> 1) & 1;
    MBusOption.plainTextVIFEsAfterText = (options >> 2) & 1;
    MBusLanguage = (options >> 4) % 10;
    data += 2;
    size -= 2;

    int frameType;
    uint8_t C, A, CI;
    if (mode < 0x80) {
        const mbus::FrameShape shape = mbus::ClassifyFrame({data, size});
        frameType = shape.result;
        C = shape.C;
        A = shape.A;
        CI = shape.CI;
    } else {
        if (size < 4) return 0;
        frameType = data[0] % 8;
        C = data[1];
        A = data[2];
        CI = data[3];
        data += 4;
        size -= 4;
    }

    MBTelegram t;
    t.InterpretAnswer(frameType, C, A, CI, data, static_cast<int>(size));
    mbus::AnswerView v = mbus::AnswerView::Of(t);
    std::string sink;
    for (mbus::CookedVariant variant : mbus::kAllCookedVariants) sink += mbus::CookedData(v, variant);
    sink += mbus::RawData(v, true);
    sink += mbus::RawData(v, false);
    mbus::AppendAnswerJson(sink, v);

    using namespace mbus::answer;
    unsigned acc = 0;
    for (int field : {CField(v), AField(v), CIField(v), LongFrameType(v), DeviceID(v), DeviceIDDec(v),
                      ManufacturerID(v), GenerationNo(v), TransmissionCount(v), TelegramStatus(v), Signature(v),
                      Medium(v), DataRecordNumber(v)})
        acc += static_cast<unsigned>(field);
    sink += ManufacturerIDAsc(v) + MediumAsc(v);
    // The accessors of the first records and the last ones (all records
    // take the same paths; every one of them would only slow the fuzzer).
    for (int dr = 0; dr <= t.RecordCount() + 1; ++dr) {
        if (dr > 6 && dr < t.RecordCount() - 1) continue;
        acc += static_cast<unsigned>(UnitNo(v, dr)) + static_cast<unsigned>(TariffNo(v, dr)) +
               static_cast<unsigned>(StorageNo(v, dr)) + static_cast<unsigned>(DataField(v, dr)) +
               static_cast<unsigned>(FunctionField(v, dr));
        sink += StorageNoAsc(v, dr) + DataFieldAsc(v, dr) + FunctionFieldAsc(v, dr) + VIBAsc(v, dr) + VIBAsc4(v, dr) +
                VIBUnitAsc(v, dr) + VIBUnitAsc4(v, dr) + ValueDec(v, dr) + ValueHex(v, dr) + ValueDec4(v, dr) +
                ValueHex4(v, dr) + ValueDat(v, dr) + ValueDT(v, dr);
        for (int b = 0; b <= 13; ++b) acc += static_cast<unsigned>(VIB(v, dr, b));
    }
    for (int p = 0; p < static_cast<int>(size) && p < 64; ++p) acc += static_cast<unsigned>(t.IsStartOfDR(p));
    for (const MBDataRecord& rec : t.records) {
        if (&rec - t.records.data() > 8) break;
        char text[1000];
        int quantityClass;
        double factor;
        t.VIBInterpret(rec.VIB(), rec.vibLength, text);
        t.VIBInterpret2(rec.VIB(), rec.vibLength, text, &quantityClass, &factor);
        MBTelegram::VIBMetric2NonMetric(text);
    }
    // A second interpretation into the same object must start from scratch.
    t.InterpretAnswer(frameType, C, A, CI, data, static_cast<int>(size) / 2);
    sink += mbus::CookedData(mbus::AnswerView::Of(t), mbus::CookedVariant::Hex3);
    return (acc == 0x7FFFFFFFu && sink.empty()) ? 1 : 0;
}
