// The address functions of the main dialog without their widgets: the
// rules of the address group's fields, and the write of the set-address
// group that gives a module a new primary and secondary address.
//
// A set-address write is a read job like every write of a module page: its
// record text is queued as PendingRecords1 (sent as "7|" + token + "||51 "
// + text), the new primary address is queued as NewPrimaryAddress, and with
// address type 3 the read request and everything after it go to the new
// address (see ReadScriptLines).

#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "configurator/devices/result_parser.h"

namespace mbus::meridex {

// Longest texts of the fields (the dialog sets them as the fields' maximum
// length).
inline constexpr std::size_t kSecondaryAddressLength = 8;
inline constexpr std::size_t kPrimaryAddressLength = 3;
inline constexpr std::size_t kNewSecondaryAddressLength = 12;
inline constexpr std::size_t kNewPrimaryAddressLength = 3;

// The highest primary address a module can be given: 253 (selected), 254
// (broadcast) and 255 (unchanged) are not addresses of a module.
inline constexpr int kHighestModuleAddress = 252;

// ---------------------------------------------------------------------------
// Field exit

// The secondary address field on leaving it: every character that is not a
// hexadecimal digit goes, at most 8 digits stay, and the text is filled up
// on the right with "F" (the wildcard) to 8 digits. Lower-case digits are
// written in upper case: the control reads the selection's digits
// case-blind, so the bytes sent are the same, and the field then shows
// what the selection line and the device list show ("12ab" gives
// "12ABFFFF", "" gives "FFFFFFFF").
std::string NormalisedSecondaryAddress(std::string_view text);

// The primary address field on leaving it: every character that is not a
// decimal digit goes and at most 3 digits stay; no digit left gives "0",
// a number above 255 gives "255". Otherwise the digits stay as typed
// (leading zeros included: "007" stays "007").
std::string NormalisedPrimaryAddress(std::string_view text);

// ---------------------------------------------------------------------------
// Set address

// The new primary address P of a set-address write: the field read as the
// primary address field is read for the read script (leading decimal
// digits, none gives 0), clamped to 0..252.
int NewPrimaryValue(std::string_view newPrimaryField);

// P as two upper-case hexadecimal digits ("12" gives "0C").
std::string NewPrimaryHex(std::string_view newPrimaryField);

// S: the new secondary address as the module's four identification bytes,
// least significant first, without separators (digit pairs 7-8, 5-6, 3-4,
// 1-2 of the address: "12345678" gives "78563412"). The field (up to 12
// characters) is taken as the secondary address field is on leaving it:
// its hexadecimal digits, the first 8 of them, filled up with "F". So S is
// always four whole bytes and the records behind it keep their places; an
// empty field gives FF FF FF FF, which the module reads as "identification
// unchanged".
std::string NewSecondaryBytes(std::string_view newSecondaryField);

// The queued write of the set-address group.
struct AddressWrite {
    // The record text queued as PendingRecords1; empty when the module is
    // not identified (nothing is sent, the job only reads).
    std::string records;
    // The queued new primary address: P in decimal ("12").
    std::string newPrimaryAddress;
};

// The write of button "&Write" of the set-address group for a module of
// kind `moduleKind` (ModuleKind; -1 not identified):
//   Pulse:   "01 7A " P " 07 79 FF FF FF FF FF FF FF FF 87 40 79 ..." - the
//            primary address only; every other field is FF, unchanged.
//   Analog:  "01 7A " P " 07 79 " S " C4 59 96 19 01 FD 0B FF 03 FE 28 ..."
//   Control: "01 7A " P " 07 79 " S " C4 59 97 0E 41 FD 1A FF 81 01 FD ..."
// The Analog and Control texts are made of two parts, the address records
// ("... C4 59 96 19") and the records that leave the module's settings as
// they are ("01 FD 0B ..."); they are joined with a blank. The control's
// script reader takes the data of a user-data line as pairs of hexadecimal
// digits and passes over blanks, so "19 01" and "1901" send the same bytes;
// the blank keeps every byte readable on its own in the script and the log.
// The manufacturer, version and medium bytes are always C4 59 96 19
// (Analog) and C4 59 97 0E (Control), whichever maker code the module has.
AddressWrite SetAddressWrite(int moduleKind, std::string_view newPrimaryField, std::string_view newSecondaryField);

}  // namespace mbus::meridex
