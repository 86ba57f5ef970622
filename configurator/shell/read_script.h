// The read script of the main dialog: the connection lines, the addressing
// of the module, queued data records, the read request and the closing
// lines. Every write of a module page is a read script that carries the
// write's records before its read request, so a write is always followed by
// a fresh readout.

#pragma once

#include <string>
#include <vector>

#include "configurator/shell/connection_lines.h"

namespace mbus::meridex {

// The maker's manufacturer numbers as selection lines write them.
constexpr const char* kManufacturerVND = "59C4";
constexpr const char* kManufacturerKTR = "2E92";
// ManufacturerCode 0 -> "59C4", 1 -> "2E92".
const char* ManufacturerNumber(int manufacturerCode);

// The user-data telegram the optical-head read sends before its read
// request: the Pulse parameter records with every value unchanged.
constexpr const char* kOpticalHeadRequest =
    "51 01 7A FF 07 79 FF FF FF FF FF FF FF FF 87 40 79 FF FF FF FF FF FF FF FF 02 86 28 00 00 82 40 86 28 00 00 06 "
    "06 FF FF FF FF FF FF 86 40 06 FF FF FF FF FF FF";

struct ReadJob {
    ConnectionChoice connection;  // connection.addressType is the address type
    std::string primaryAddress;   // the address group's field (decimal text)
    std::string secondaryAddress; // 8 hex digits, for address type 2
    int mediumEntry = 0;          // the address group's medium box: 0 all media, n medium n - 1
    int manufacturerCode = 0;
    std::string deviceListEntry;  // the selected device-list entry (address type 4), empty: none
    std::string pendingRecords1;
    std::string pendingRecords2;
    std::string newPrimaryAddress;  // queued by the set-address group, empty: none
    int moduleKind = -1;            // -1 unknown, 0 Pulse, 1 Analog, 2 Control
    bool followUp = false;          // the Analog module's second read (its parameter telegram)
};

// The address token of read requests and user data: "254" for the optical
// head and broadcast, "253" for selected modules, the primary address
// clamped to 0..255 for address type 3.
std::string AddressToken(int addressType, const std::string& primaryAddress);

// The primary address field as a number: its leading digits, 0 when none,
// clamped to 0..255.
int PrimaryAddressValue(const std::string& text);

// The selection line of address type 2 and that of address type 4.
std::string SecondarySelectionLine(const std::string& secondaryAddress, int manufacturerCode, int mediumEntry);
std::string DeviceListSelectionLine(const std::string& entry, int manufacturerCode);

// The whole script as lines (JoinScript makes the text).
std::vector<std::string> ReadScriptLines(const ReadJob& job);

}  // namespace mbus::meridex
