// The device search of the main dialog without its widgets: the baud rate
// it searches at, the script that prepares the line (and, over a standing
// modem connection, tells the remote level converter the rate to search
// at), and the control's secondary search that follows the script.
//
// The job: the device list is emptied, the search script runs as a job of
// kind 6 with the status text 82; when it has ended, the timer tick sets
// SCRSlaveSearchTimeoutRetries, calls SCRSlaveSearchSecondarySpecial with
// the parameters of SpecialSearchCall and continues as job kind 7 with a
// 1000 ms timer; when the search has ended, the device list is built from
// SCRRetrieveSlaveListHex (DeviceList::AppendSlaveList).

#pragma once

#include <string>
#include <vector>

#include "configurator/shell/connection_lines.h"

namespace mbus::meridex {

// The choices of the baud-rate search dialog over a modem connection, in
// the baud box's numbering; the dialog opens with, and on any close other
// than a button leaves, 2400.
inline constexpr int kSearchBaud300 = 0;
inline constexpr int kSearchBaud2400 = 1;

// The search's settings of the control and of the job cycle.
inline constexpr int kSearchTimeoutRetries = 3;
inline constexpr int kSearchTimerMs = 1000;
inline constexpr int kSearchProgressEnd = 2;  // progress range 0..2 while the search runs

// The search baud index: over a standing modem connection the choice of
// the baud-rate search dialog (0 or 1; anything else is taken as 1, the
// dialog's default); for the optical connections (types 2 and 3) 38400
// (index 4), to which their baud box is forced; otherwise the baud box's
// selection.
int SearchBaudIndex(const ConnectionChoice& connection, int dialogChoice);

// The converter's baud-rate switch for a search baud index: a user-data
// telegram to the selected converter with CI B8 (300), BB (2400), BD
// (9600), BE (19200) or BF (38400): "7|253||B8" and so on. Empty outside
// 0..4.
std::string BaudSwitchLine(int searchBaudIndex);

// The lines of the search script (JoinScript makes the text), by
// connection:
//   modem connection standing: "1|1||", the selection of the maker's
//     converter "8||Standard: FFFFFFFF,59C4,90,0E|", the baud switch,
//     "20|||";
//   type 2 (IrDA SIR): the IrDA port line at 38400 with retries 3, the
//     converter's selection, the baud switch, "20|||", the port line again
//     with retries 5;
//   type 3 (IrDA transceiver): the transceiver set-up at 9600, its command
//     "7|251||51 0F 58 08", the port line at 38400 with retries 3, the
//     converter's selection, the baud switch, "20|||", the port line again
//     with retries 5;
//   types 0 and 1: the level converter's port line of the connection's
//     baud index, with "Retries=5" in place of "Retries=40" (no port line
//     for an index outside 0..4);
// then in every case "1|1||". Every port line has its ",FF=0" form when
// the FIFO is off. `searchBaudIndex` chooses the baud switch.
std::vector<std::string> DeviceSearchLines(const ConnectionChoice& connection, int searchBaudIndex);

// The arguments of SCRSlaveSearchSecondarySpecial for the device search:
// mode 0 (selection CI 52h), identification numbers from 0FFFFFFF to
// FFFFFFFF, the maker's manufacturer number ("59C4", or "2E92" for code
// 1), any version and any medium.
struct SpecialSearchCall {
    int mode = 0;
    std::string start = "0FFFFFFF";
    std::string end = "FFFFFFFF";
    std::string manufacturer;
    std::string generation = "FF";
    std::string medium = "FF";
};
SpecialSearchCall DeviceSearchCall(int manufacturerCode);

}  // namespace mbus::meridex
