// Number and date conversions that hosts use to compose data records.

#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mbus {

// The 32-bit value as upper-case hexadecimal without leading zeros.
std::string LongToHexAsc(int32_t value);
// The last eight of the first nine characters read as hexadecimal (modulo 2^32).
int32_t HexAscToLong(std::string_view text);
// A decimal number as an IEEE single, its 4 bytes least significant first.
std::string FloatToHexAsc(std::string_view text);
// "[S]day.month.year[ hour:minute]" as an M-Bus date (type G, 4 hex digits)
// or date and time (type F, 8 hex digits), least significant byte first;
// empty when the text is not a valid date.
std::string DateToHexAsc(std::string_view text);

// A VIB given as hexadecimal digit pairs (a pair that is not two hex digits
// is dropped) with the VIF, or the extension code after FBh/FDh, lowered to
// the unit without decimal multiplier (by 1 for "10", by 2 for "100");
// upper-case digit pairs without separators.
std::string CalcVIFUnitWithoutMultiplier(std::string_view hexVIB);

// A calendar date, or date and time, of a data record, decoded from the
// value bits of its coding: type G (2 bytes: date), F (4 bytes: date, hour
// and minute, hundred-year, summer-time and time-invalid bits) or I (6 bytes:
// date, time with seconds, day of week, week, summer-time and time-invalid
// bits).
struct RecordDate {
    enum class Type { None, G, F, I } type = Type::None;
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0;
    int dayOfWeek = 0;  // type I: 1 Monday .. 7 Sunday, 0 not given
    int week = 0;       // type I: 1..53, 0 not given
    bool summerTime = false;
    bool timeInvalid = false;
    // Every field in range (a real calendar day, hours 0..23, ...), the year
    // known (not the "every year" code) and the time-invalid bit clear.
    bool valid = false;
};
// The year of a date's two digits (0..99) and hundred-year bits (type F,
// 0..3). Without those bits, 81..99 are 1981..1999 and 0..80 are 2000..2080
// (EN 13757-3, Annex A); with them the year is 1900 + 100 x bits + digits.
int FullYear(int twoDigitYear, int hundredYears = 0);
// `bytes` is 2, 4 or 6 (anything else gives type None); `bits` the value,
// least significant byte first as the meter sent it.
RecordDate DecodeRecordDate(uint64_t bits, int bytes);
// ISO 8601 form of a valid date: "2026-12-08", "2026-12-08T11:30" (type F)
// or "2026-12-08T11:30:05" (type I); empty for an invalid one.
std::string IsoDateText(const RecordDate& date);

// The text of an application error code (the byte after CI 70h).
std::string_view ApplicationErrorText(int code);

}  // namespace mbus
