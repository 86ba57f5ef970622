// Why the port test found a port closed, told so that the user can act:
// a port that another program holds keeps the program's own "may be in use
// by another program" text; a port the port map does not name, a device
// that is not there, a device the user may not open and other refusals get
// a message that names the port, its device and what to do.
//
// The control tells only that the port did not open (its line status). The
// reason is looked up here the way the control opened the port: the port
// map names the device, and opening it once more gives the error number.

#pragma once

#include <string>

#include "platform/serial/serial_port.h"

namespace mbus::meridex {

enum class PortProblemKind {
    kInUse,        // another process holds the port: the table's text 75
    kNotInMap,     // no port-map entry, and the default device does not open
    kNoDevice,     // the device named does not exist
    kPermission,   // the user may not open the device
    kOther,        // any other refusal
};

// What is known about a port that did not open: the port map's facts,
// with `error` the error number of opening the device (0: it opened; -1:
// failed, see `detail`, which also names who holds a port in use).
struct PortOpenFacts : serial::PortFacts {
    int port = 0;            // 1..32 (COM1..COM32)
    std::string group;       // group owning the device, for a permission error
    int lineStatus = 2;      // the control's line status: 2 not opened, 3..10 settings refused
};

struct PortProblem {
    PortProblemKind kind = PortProblemKind::kOther;
    // The message; for kInUse only what follows text 75 (the device and its holder).
    std::string text;
};

// The message for these facts.
PortProblem DescribePortProblem(const PortOpenFacts& facts);

// Looks the facts up for port `port` that the control reported with line
// status `lineStatus`: reads the port map and opens the device once more.
PortOpenFacts LookUpPortProblem(int port, int lineStatus);

}  // namespace mbus::meridex
