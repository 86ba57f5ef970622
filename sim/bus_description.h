// The text description of a simulated bus, for files and the command line.
//
// One slave per line (or per command-line argument): fields KEY=VALUE
// separated by blanks; '#' starts a comment that runs to the end of the
// line; blank lines are skipped. Every field is optional; a slave without
// one keeps the default of MBSlaveValues (shown in brackets).
//
//   primary=N        primary address, 0..250, decimal                  [0]
//   id=DIGITS        identification number, 1..8 decimal digits        [12345678]
//   man=LLL          manufacturer, three letters A..Z                  [ORL]
//   version=HH       version, a hexadecimal byte                       [01]
//   medium=HH        medium, a hexadecimal byte (07 water, 04 heat)    [0E]
//   status=HH        status byte, hexadecimal                          [00]
//   signature=HHHH   signature, 1..4 hexadecimal digits                [0000]
//   access=HH        access number of the first answer, hexadecimal    [00]
//   records=HEX      data records as hexadecimal digit pairs (no blanks). Given
//                    again, each further one is the next telegram of a
//                    multi-telegram answer; DIF 1Fh is added to all but the
//                    last. At most 222 bytes (221 when another block follows).
//                                                                      [no records]
//   part=OFF:LEN     every second answer after a reset carries only LEN bytes
//                    of the records from byte OFF (decimal)            [off]
//   fab=DIGITS       fabrication number, 1..8 decimal digits           [12345678]
//   customer=DIGITS  customer number, 1..12 decimal digits             [777777777777]
//   location=DIGITS  customer location, 1..12 decimal digits           [123456789012]
//   selci=HH         CI a selection must carry: 51, 52, 55 or 56 (55h and 56h
//                    mean most significant byte first)                [52]
//   c=HH             C field of the answer: 08, 18, 28 or 38           [08]
//   ci=HH            CI of the answer: 72 or 76                        [72]
//   baud=N           the rate the slave listens at: 300, 600, 1200, 2400,
//                    4800, 9600, 19200 or 38400                        [the bus's rate]
//
// A hexadecimal byte is one or two hex digits, optionally written 0x07 or
// 07h. Digits shorter than their field are filled with leading zeros.
// Example:
//   primary=5 id=12345678 man=QXA version=1 medium=07 records=0C13785634120413D2040000

#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_bus.h"

namespace mbus::sim {

// Parses the fields of one slave into *slave (which starts from its
// current values). Appends a message per fault to `errors`; true when none.
bool ParseSlave(std::string_view text, VirtualSlave* slave, std::vector<std::string>& errors);

// Parses a bus description. Faults are appended to `errors` as
// "line N: message"; a line with a fault gives no slave.
std::vector<VirtualSlave> ParseBusDescription(std::string_view text, std::vector<std::string>& errors);

// A one-line summary of a slave ("primary 5, id 12345678, QXA, version 01,
// medium 07 (Water), 2 blocks").
std::string DescribeSlave(const VirtualSlave& slave);

}  // namespace mbus::sim
