// The device list of the main dialog without its widgets: the maker's
// modules found by a device search or met in a readout, each kept as a
// device record of 128 upper-case hexadecimal characters, shown in the
// device-list box as one entry per module of the current maker code, and
// saved to and opened from ".MDX" files.
//
// A device record:
//   0..3    "0000"
//   4..11   identification number, four bytes least significant first
//           (identification 12345678 gives "78563412")
//   12..15  manufacturer number least significant byte first: "C459" (VND)
//           or "922E" (KTR)
//   16..17  medium
//   18..19  version: 95, 96, 97 (VND) or 05, 15, 35 (KTR)
//   20..29  "FFFFFFFF01"
//   30..31  code of the search baud rate (SearchBaudCode)
//   32..127 a fixed tail (kDeviceRecordTail)
//
// A ".MDX" file holds the records in list order, each followed by CR LF:
// 130 bytes per record, nothing else.
//
// Records that do not have this form (a damaged or foreign file) are kept
// as they are: opening keeps the first 128 bytes of every whole block, and
// saving writes them again, so that no file loses records by being opened
// and saved. Only well-formed records of the current maker are shown
// (DeviceEntryText), so what the box lists, and the selection line made
// from an entry, is always made of hex digits.

#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "configurator/devices/result_parser.h"

namespace mbus::meridex {

inline constexpr std::size_t kDeviceRecordLength = 128;
// A record and its CR LF in a ".MDX" file.
inline constexpr std::size_t kDeviceFileBlock = kDeviceRecordLength + 2;
// One entry of the control's slave list text.
inline constexpr std::size_t kSlaveListEntryLength = 51;

// Positions 20..29 and 32..127 of every record.
inline constexpr std::string_view kDeviceRecordMiddle = "FFFFFFFF01";
inline constexpr std::string_view kDeviceRecordTail =
    "0252FFFFFFFF00FFFFFFFFFFFFFFFFFF0000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF";

// The manufacturer number as a record holds it: code 1 "922E", any other
// "C459" (as ManufacturerNumber reads the code).
std::string_view RecordManufacturer(int manufacturerCode);

// The code of a search baud rate by baud index (the baud box's numbering):
// 0 (300) "FF", 1 (2400) "1F", 2 (9600) "07", 3 (19200) "03", 4 (38400)
// "01"; empty outside 0..4.
std::string_view SearchBaudCode(int baudIndex);

// A device record. The identification number is given in normal digit
// order as the module's header shows it ("12345678") and the medium as two
// hex digits. The text fields are taken as fixed-width hex fields: lower-case
// digits are written in upper case, any other character becomes "F", and a
// short field is filled up with "F" (so an empty baud code, as for a baud
// index outside 0..4, is written "FF"). The version is written as two hex
// digits of its low byte. The record is always 128 hex characters.
std::string MakeDeviceRecord(std::string_view identification, int manufacturerCode, std::string_view medium,
                             int version, std::string_view baudCode);

// The record of an identified module after a readout, at the baud index of
// the read; empty when the readout has no variant.
std::optional<std::string> RecordOfReadout(const Readout& readout, int baudIndex);

// The entry of the device-list box for a record: the prefix of its variant
// ("P: ", "A: ", "C: " for VND; "ST: ", "AN: ", "RS: " for KTR), the
// identification number in normal digit order, ", " and the medium as the
// record's two hex digits ("P: 12345678, 07"). Empty for a record of the
// other maker, and for one that is not well formed: not 128 characters,
// identification or medium not upper-case hex digits, or a version that is
// none of the maker's three variants.
std::optional<std::string> DeviceEntryText(std::string_view record, int manufacturerCode);

// The records of a slave list text as SCRRetrieveSlaveListHex delivers it:
// entries of 51 characters (a short rest is ignored); of each entry whose
// characters 11..16 are the firmware name of one of the maker's variants
// ("VND149", "VND150", "VND151" for code 0; "KTR005", "KTR021", "KTR053"
// for code 1), a record of that variant from the identification digits at
// 3..10 and the medium at 17..18, with the code of the search baud rate.
std::vector<std::string> RecordsFromSlaveList(std::string_view hexList, int manufacturerCode, int searchBaudIndex);

// ".MDX" bytes: every record followed by CR LF.
std::string DeviceFileBytes(const std::vector<std::string>& records);
// The records of ".MDX" bytes: the first 128 bytes of each block of 130,
// whatever they hold; reading stops at the first block shorter than 130.
std::vector<std::string> RecordsOfDeviceFile(std::string_view bytes);

// Writes the records to the file at `path` (created with the permissions
// the umask allows, or replaced as a whole keeping its own). False with
// *error naming the file and the reason.
bool SaveDeviceFile(const std::string& path, const std::vector<std::string>& records, std::string* error);
// Reads the records of the file at `path`. False with *error naming the
// file and the reason (a directory, FIFO or device, a file over 1 MiB, one
// that cannot be read); *records is then left alone.
bool OpenDeviceFile(const std::string& path, std::vector<std::string>* records, std::string* error);

// One entry of the device-list box and the record it shows.
struct DeviceEntry {
    std::string text;
    std::size_t record = 0;  // index into DeviceList::Records()
};

// The device list: the records in list order.
class DeviceList {
public:
    const std::vector<std::string>& Records() const { return records_; }
    bool Empty() const { return records_.empty(); }
    void Clear() { records_.clear(); }

    // The entries of the box under a maker code, in list order. The dialog
    // selects the first.
    std::vector<DeviceEntry> Entries(int manufacturerCode) const;

    // Enters a module after a readout: a record with the same
    // identification number and manufacturer (positions 4..15) is replaced
    // where it stands, otherwise the record is appended. Returns the index
    // of the module's entry among Entries(manufacturerCode), the one to
    // select; -1 when it is not shown under that code.
    int AddOrUpdate(const std::string& record, int manufacturerCode);

    // Appends the maker's modules of a slave list (RecordsFromSlaveList);
    // returns how many were appended. The device search empties the list
    // before it starts.
    std::size_t AppendSlaveList(std::string_view hexList, int manufacturerCode, int searchBaudIndex);

    // "Sa&ve" and "O&pen". Open replaces the list only when the file could
    // be read.
    bool Save(const std::string& path, std::string* error) const { return SaveDeviceFile(path, records_, error); }
    bool Open(const std::string& path, std::string* error) { return OpenDeviceFile(path, &records_, error); }

    // The list as ".MDX" bytes, and the list replaced by those of bytes.
    std::string FileBytes() const { return DeviceFileBytes(records_); }
    void SetFileBytes(std::string_view bytes) { records_ = RecordsOfDeviceFile(bytes); }

private:
    std::vector<std::string> records_;
};

}  // namespace mbus::meridex
