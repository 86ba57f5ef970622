// Manufacturer and medium conversions of the application layer.

#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "control/decode/export.h"
#include "control/link/layer2.h"

namespace mbus {
// The manufacturer number of "UNK" (no manufacturer) and of "FIX" (fixed data structure).
inline constexpr uint16_t kManufacturerUNK = 0x55CB;
inline constexpr uint16_t kManufacturerFIX = 0x1938;

// Free forms of the conversions; the classes below forward to them.
void ExtractManufacturer(uint16_t number, char* text);               // 3 letters + zero
void CalculateManufacturer(const char* text, uint16_t* number);      // first three characters
// The medium name of `code` in a language as the tables hold it (the
// variable table's "Unknown" for a code out of range): code-page bytes, or
// the whole UTF-8 text of the user column.
std::string_view MediumName(int variable, uint8_t code, int language);
void ExtractMedium(int variable, uint8_t code, char* text);          // text: at least 30 bytes
void CalculateMedium(int variable, const char* text, uint8_t* code);
void ChangeMediumLanguage(int fromLanguage, int toLanguage, char* text);  // text: at least 30 bytes
}  // namespace mbus

// Layer object of a channel: the conversions the host reaches through the
// ML7 properties, and the channel's link layer (which holds the line). A
// channel replaces the whole object when it opens or closes its port.
class MBUS_EXPORT MBLayer7 {
public:
    MBLayer7();
    virtual ~MBLayer7();
    MBLayer7(const MBLayer7&) = delete;
    MBLayer7& operator=(const MBLayer7&) = delete;

    void ExtractManufacturer(uint16_t number, char* text) { mbus::ExtractManufacturer(number, text); }
    void CalculateManufacturer(const char* text, uint16_t* number) { mbus::CalculateManufacturer(text, number); }
    void ExtractMedium(int variable, uint8_t code, char* text) { mbus::ExtractMedium(variable, code, text); }
    void CalculateMedium(int variable, const char* text, uint8_t* code) { mbus::CalculateMedium(variable, text, code); }
    void ChangeMediumLanguage(int from, int to, char* text) { mbus::ChangeMediumLanguage(from, to, text); }

    MBLayer2 link;
    // Modem state: 0 idle, 1 dialling, 2 initialising, 3 hanging up, 4 connected.
    std::atomic<int32_t> modemState{0};
};
