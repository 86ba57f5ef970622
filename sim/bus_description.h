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
//   wildcards=W      how a selection's manufacturer, version and medium may
//                    hold wildcards: digits (an F digit matches any digit) or
//                    bytes (only FFh matches any byte, as many meters take
//                    it; the identification number keeps digit wildcards)
//                                                                      [digits]
//
// The maker's modules and the interface devices (modules.h):
//   module=KIND      pulse, analog, control, converter or transceiver. The line
//                    then starts from the defaults of that kind; man= takes
//                    VND or KTR [VND], which with the kind gives the version
//                    (version= is refused); medium= is the module's medium
//                    (Pulse: of input 1) [Pulse 07, Analog 19, Control 0E].
//                    records, part, version, status and ci are for meters only.
//   firmware=HH      Pulse, Analog, Control: firmware version, the low byte of
//                    the signature (13 is version 1.3); not together with
//                    signature=, which sets both bytes                  [10]
//   Pulse (input 1 has the slave's id and medium):
//   id2=DIGITS       identification number of input 2, 1..8 digits     [87654321]
//   medium2=HH       medium of input 2; 1F disables the input           [07]
//   unit1=HH unit2=HH  unit VIF of an input, 00..7F but not 7C (03 Wh, 06 kWh,
//                    13 l, 16 m3)                                       [13]
//   count1=N count2=N  raw pulse count of an input, 0..2^48-1          [0]
//   factor1=N/D factor2=N/D  counter = count x N / D; N 1..255, D 1..127  [1/1]
//   Control:
//   p1=0|1 p2=0|1    state of input P1, P2                              [0]
//   r1=0|1 r2=0|1    commanded state of relay R1, R2                    [0]
//   r1logic=N r2logic=N  logic code 0..15: 0 M-Bus, else 1 AND, 2 OR, 3 XOR,
//                    +4 P1 inverted, +8 P2 inverted (4, 8, 12: M-Bus)  [0]
//   r1fail=N r2fail=N  power-fail code: 0 keep, 1 switch to 1, 2 to 0  [0]
//   Analog:
//   x1=N x2=N        raw A/D value of A1, A2, 0..65535                  [0]
//   unit1=HH unit2=HH  unit VIF of A1, A2, as for Pulse                 [13]
//   a1=A/B/C a2=A/B/C  value = A / B x raw + C; A 0..255, B and C -128..127  [1/1/0]
//   temp=T           temperature in °C, -200..850, e.g. temp=21.5       [20]
//   sensor=S         pt500, pt1000, pt100, rawpt100 or rawpt500         [pt500]
//   minmax=I         the input of minimum, maximum and average: a1, a2 or temp  [a1]
//   current=N        current output in µA, 4000..20000                  [4000]
//   v1=HEX v2=HEX    temperature calibration values, 1..12 hex digits   [0]
//   The converter takes id, man, primary, fab, customer, location and selci;
//   the transceiver (always at primary address 251) no other field.
//
// A hexadecimal byte is one or two hex digits, optionally written 0x07 or
// 07h. Digits shorter than their field are filled with leading zeros.
// Examples:
//   primary=5 id=12345678 man=QXA version=1 medium=07 records=0C13785634120413D2040000
//   module=pulse man=KTR primary=1 id=11111111 id2=22222222 unit1=06 count1=1000 factor1=10/1

#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_bus.h"

namespace mbus::sim {

// Parses the fields of one slave into *slave (which starts from its
// current values, or from the module's defaults when the line names one). Appends a message per fault to `errors`; true when none.
bool ParseSlave(std::string_view text, VirtualSlave* slave, std::vector<std::string>& errors);

// Parses a bus description. Faults are appended to `errors` as
// "line N: message"; a line with a fault gives no slave.
std::vector<VirtualSlave> ParseBusDescription(std::string_view text, std::vector<std::string>& errors);

// Reads the bus description file at `path` (mbus-sim --file, the SLAVES of
// --simulate). Faults are appended to `errors`, each starting with the path:
// "PATH: does not exist", "PATH: is a directory", "PATH: is not a regular
// file (a FIFO)", "PATH: line N: message"; no slave comes of a file that
// could not be read.
std::vector<VirtualSlave> ReadBusDescriptionFile(const std::string& path, std::vector<std::string>& errors);

// A one-line summary of a slave ("primary 5, id 12345678, QXA, version 01,
// medium 07 (Water), 2 telegrams"; a module's description behind it).
std::string DescribeSlave(const VirtualSlave& slave);

}  // namespace mbus::sim
