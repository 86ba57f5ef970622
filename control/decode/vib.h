// Value information block (VIF and VIFEs) to text, multiplier and base unit.

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mbus {

// Quantity class reported for a unit that is not normalised.
inline constexpr int kNoQuantityClass = 99;

// A bounded text builder over a caller's buffer (always zero-terminated).
class TextBuilder {
public:
    // Starts empty, or (keep = true) with the zero-terminated text already in `buf`.
    TextBuilder(char* buf, std::size_t capacity, bool keep = false) : buf_(buf), cap_(capacity) {
        if (keep) Resync(); else buf_[0] = '\0';
    }
    void Append(std::string_view s);
    void Append(char c) { Append(std::string_view(&c, 1)); }
    std::string_view View() const { return {buf_, len_}; }
    std::size_t size() const { return len_; }
    char* data() { return buf_; }
    void Clear() { len_ = 0; buf_[0] = '\0'; }

private:
    void Resync();

public:

private:
    char* buf_;
    std::size_t cap_;
    std::size_t len_ = 0;
};

// The description of a VIB in a language (code-page bytes of that language).
void DescribeVIB(const uint8_t* vib, int vibLength, int structureKind, int language, TextBuilder& out);

struct Normalised {
    int quantityClass = kNoQuantityClass;
    double factor = 1.0;
};
// The description against the base unit of the VIB's quantity. The factor
// converts a value of the record into that unit and includes the
// multiplicative correction VIFEs (for codes without a base unit it is that
// correction alone).
Normalised DescribeVIBNormalised(const uint8_t* vib, int vibLength, int structureKind, int language, TextBuilder& out);

// Multiplier (1, 10 or 100) that the unit text of a code carries.
int MultiplierOf(uint8_t vif, uint8_t extension, int structureKind);

// The decimal multiplier written before the unit of the VIB's own code
// ("Energy 100 [kWh]": 100, "Volume 0.1 [feet3]": 0.1, "Credit 1000
// [currency]": 1000); 1 for a plain-text VIB and codes without one. Unlike
// MultiplierOf this is the whole number, also where a code is never lowered.
double UnitTextScale(const uint8_t* vib, int vibLength, int structureKind);

// The product of the VIB's multiplicative correction VIFEs (70h..77h:
// 10^(code - 76h), 7Dh: 1000), also those behind the text of a plain-text
// VIB; 1 when there are none. VIFEs after "next VIFE manufacturer specific"
// (7Fh) and after VIF FFh are not read.
double CorrectionScale(const uint8_t* vib, int vibLength, int structureKind);

// The unit of a VIB as its description shows it: the text of a plain-text
// VIB, else UnitOf(description).
std::string_view UnitOfVIB(const uint8_t* vib, int vibLength, std::string_view description);

// Replaces metric unit names by non-metric ones in text of the given language.
void MetricToNonMetric(TextBuilder& text, int language);

// The unit of a description: the part after the first "[" (when it is not
// the last character) up to the next "]"; the whole text when it has none.
std::string_view UnitOf(std::string_view description);

}  // namespace mbus
