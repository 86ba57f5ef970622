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
// The description against the base unit of the VIB's quantity.
Normalised DescribeVIBNormalised(const uint8_t* vib, int vibLength, int structureKind, int language, TextBuilder& out);

// Multiplier (1, 10 or 100) that the unit text of a code carries.
int MultiplierOf(uint8_t vif, uint8_t extension, int structureKind);

// Replaces metric unit names by non-metric ones in text of the given language.
void MetricToNonMetric(TextBuilder& text, int language);

// The unit of a description: the part after the first "[" (when it is not
// the last character) up to the next "]"; the whole text when it has none.
std::string_view UnitOf(std::string_view description);

}  // namespace mbus
