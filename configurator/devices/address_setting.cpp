#include "configurator/devices/address_setting.h"

#include <algorithm>
#include <cstdio>

#include "configurator/shell/read_script.h"

namespace mbus::meridex {
namespace {

// The records of the Pulse module behind its primary address: secondary
// address, the secondary address of input 2, both factors and both
// counters, every value FF (unchanged).
constexpr const char* kPulseRest =
    " 07 79 FF FF FF FF FF FF FF FF 87 40 79 FF FF FF FF FF FF FF FF 02 86 28 00 00 82 40 86 28 00 00 06 06 FF FF FF "
    "FF FF FF 86 40 06 FF FF FF FF FF FF";
// Behind S: the rest of the secondary address, then the records that
// leave the module's settings unchanged.
constexpr const char* kAnalogRest =
    " C4 59 96 19 01 FD 0B FF 03 FE 28 00 00 00 83 40 FE 28 00 00 00 82 C0 40 FD 56 FF FF";
constexpr const char* kControlRest = " C4 59 97 0E 41 FD 1A FF 81 01 FD 1A FF C1 40 FD 1A FF 81 41 FD 1A FF";

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Upper(char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string NormalisedSecondaryAddress(std::string_view text) {
    std::string digits;
    for (char c : text)
        if (IsHexDigit(c) && digits.size() < kSecondaryAddressLength) digits += Upper(c);
    digits.resize(kSecondaryAddressLength, 'F');
    return digits;
}

std::string NormalisedPrimaryAddress(std::string_view text) {
    std::string digits;
    for (char c : text)
        if (IsDigit(c) && digits.size() < kPrimaryAddressLength) digits += c;
    if (digits.empty()) return "0";
    if (std::stoi(digits) > 255) return "255";
    return digits;
}

int NewPrimaryValue(std::string_view newPrimaryField) {
    return std::min(PrimaryAddressValue(std::string(newPrimaryField)), kHighestModuleAddress);
}

std::string NewPrimaryHex(std::string_view newPrimaryField) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(NewPrimaryValue(newPrimaryField)));
    return hex;
}

std::string NewSecondaryBytes(std::string_view newSecondaryField) {
    const std::string s = NormalisedSecondaryAddress(newSecondaryField);
    return s.substr(6, 2) + s.substr(4, 2) + s.substr(2, 2) + s.substr(0, 2);
}

AddressWrite SetAddressWrite(int moduleKind, std::string_view newPrimaryField, std::string_view newSecondaryField) {
    AddressWrite w;
    w.newPrimaryAddress = std::to_string(NewPrimaryValue(newPrimaryField));
    const std::string head = "01 7A " + NewPrimaryHex(newPrimaryField);
    switch (moduleKind) {
        case kModulePulse: w.records = head + kPulseRest; break;
        case kModuleAnalog: w.records = head + " 07 79 " + NewSecondaryBytes(newSecondaryField) + kAnalogRest; break;
        case kModuleControl: w.records = head + " 07 79 " + NewSecondaryBytes(newSecondaryField) + kControlRest; break;
        default: break;  // not identified: no record text, the address is still queued
    }
    return w;
}

}  // namespace mbus::meridex
