#include "configurator/shell/read_script.h"

#include <algorithm>
#include <cstdio>

namespace mbus::meridex {

const char* ManufacturerNumber(int manufacturerCode) {
    return manufacturerCode == 1 ? kManufacturerKTR : kManufacturerVND;
}

int PrimaryAddressValue(const std::string& text) {
    // Leading blanks and a sign as a C conversion reads them; the field
    // itself only holds digits once it has been left.
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 255) value = 256;  // no overflow on long inputs
    }
    if (negative) return 0;
    return static_cast<int>(std::clamp(value, 0L, 255L));
}

std::string AddressToken(int addressType, const std::string& primaryAddress) {
    switch (addressType) {
        case kOpticalHead:
        case kBroadcast: return "254";
        case kSecondaryAddress:
        case kDeviceList: return "253";
        default: return std::to_string(PrimaryAddressValue(primaryAddress));
    }
}

std::string SecondarySelectionLine(const std::string& secondaryAddress, int manufacturerCode, int mediumEntry) {
    char medium[3] = "FF";
    if (mediumEntry > 0) std::snprintf(medium, sizeof medium, "%02X", (mediumEntry - 1) & 0xFF);
    return "8||Standard: " + secondaryAddress + "," + ManufacturerNumber(manufacturerCode) + ",FF," + medium + "|";
}

std::string DeviceListSelectionLine(const std::string& entry, int manufacturerCode) {
    // The entry starts with the variant's prefix ("P: " for the maker's
    // modules, "ST: " for the second brand), then the identification number.
    std::string id = "FFFFFFFF";
    const std::size_t prefix = manufacturerCode == 1 ? 4 : 3;
    if (!entry.empty()) id = entry.size() > prefix ? entry.substr(prefix, 8) : std::string();
    return "8||Standard: " + id + "," + ManufacturerNumber(manufacturerCode) + ",FF,FF|";
}

std::vector<std::string> ReadScriptLines(const ReadJob& job) {
    const int type = job.connection.addressType;
    std::vector<std::string> lines = ConnectionLines(job.connection);
    const std::string token = AddressToken(type, job.primaryAddress);

    if (type == kOpticalHead) lines.push_back("14||5|");
    if (type == kSecondaryAddress)
        lines.push_back(SecondarySelectionLine(job.secondaryAddress, job.manufacturerCode, job.mediumEntry));
    if (type == kDeviceList) lines.push_back(DeviceListSelectionLine(job.deviceListEntry, job.manufacturerCode));
    if (type == kOpticalHead) lines.push_back("7|" + token + "||" + kOpticalHeadRequest);

    if (!job.pendingRecords2.empty()) lines.push_back("7|" + token + "||51 " + job.pendingRecords2);
    if (!job.pendingRecords1.empty()) {
        lines.push_back("7|" + token + "||51 " + job.pendingRecords1);
        // The Control module needs a moment to switch its relays before it is read.
        if (job.moduleKind == 2) lines.push_back("14||5|");
    }

    if (job.followUp) lines.push_back("7|" + token + "||50 08");
    // A queued new primary address takes effect with the records just sent:
    // the read request and everything after it go to the new address.
    std::string later = token;
    if (!job.newPrimaryAddress.empty() && type == kPrimaryAddress)
        later = std::to_string(PrimaryAddressValue(job.newPrimaryAddress));
    lines.push_back("5|" + later + "||");
    if (job.followUp || job.moduleKind == 1) {
        lines.push_back("1|1||");
        lines.push_back("7|" + later + "||50 00");
    }
    if (type == kSecondaryAddress) lines.push_back("20|||");
    lines.push_back(job.connection.phoneConnected ? "1|10||" : "16|||");
    return lines;
}

}  // namespace mbus::meridex
