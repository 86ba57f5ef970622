#include "tools/mbusctl/scan_defaults.h"

namespace mbus::cli {
namespace {

// Answer window. A slave starts its answer at most 330 bit times + 50 ms
// after the request; real meters answer within a few tens of bit times, the
// offset is headroom for slow converters and repeaters. TA stays 330 bit
// times. The control first waits the dead time (11 + 50 FIFO bit times) and
// then the answer timeout (330 bit times + TO + 1 ms), so the master
// listens 330 bit times + TO + 1 ms + the dead time after its last stop
// bit: at 2400 baud with TO 5 that is 330 bit times + 31 ms.
//
// Why TO at all: the control's script checks a transaction every 100 ms,
// so a probe without answer costs its frame, dead time and answer timeout
// rounded up to the next 100 ms. TO is the standard's 50 ms where a lower
// one would not save a step; at 600, 1200 and 2400 baud it is cut so that
// the probe of an empty address ends about 10 ms before a step (at 2400:
// 23 ms frame + 25 ms dead time + 143 ms = 191 ms, a 200 ms step instead of
// 300 ms, which is what brings a primary scan under a minute). It never
// goes below 330 bit times + 25 ms of listening.
//
// Tries (COMRetries): nearly every probe of a scan meets an empty address
// or mask, and each further try repeats the whole wait there, so up to
// 9600 baud a probe goes out once. The search itself copes with a garbled
// answer: in a primary search any byte means "something is there" and the
// address is read; in a secondary search a garbled acknowledgement or
// reading narrows the mask, which finds the meter one digit deeper. Only
// an answer lost entirely (or a garbled reading in a primary search) loses
// the meter; --retries 1 or more is for such lines. At 38400 baud two
// transmissions with TO 25 fit the same 100 ms step as one, and the answer
// comes so soon after the request (a few ms) that a busy host may miss it;
// there a probe goes out twice.
//
// Pause after a collision: the fastest answer ends the reception, and a
// slower slave may still start its answer up to 330 bit times + 50 ms after
// the request; the pause covers that whole window so that no late answer
// meets the next probe.
constexpr ScanDefaults kTable[] = {
    // baud, tries, pause ms, TO ms
    {300, 1, 1150, 50},
    {600, 1, 600, 40},
    {1200, 1, 325, 15},
    {2400, 1, 188, 5},
    {4800, 1, 119, 50},
    {9600, 1, 85, 40},
    {19200, 1, 68, 50},
    {38400, 2, 59, 25},
};

}  // namespace

const ScanDefaults& ScanDefaultsFor(int baud) {
    const ScanDefaults* row = &kTable[0];
    for (const ScanDefaults& r : kTable)
        if (r.baud <= baud) row = &r;
    return *row;
}

void ApplyScanDefaults(const ControlClient& control, bool scan, int baud, int retries, int searchDelay) {
    if (!scan) {
        control.Put("COMRetries", retries >= 0 ? retries : kReadRetries);
        if (searchDelay >= 0) control.Put("SCRSlaveSearchDelay", searchDelay);
        return;
    }
    const ScanDefaults& d = ScanDefaultsFor(baud);
    control.Put("COMRetries", retries >= 0 ? retries : d.tries);
    control.Put("SCRSlaveSearchDelay", searchDelay >= 0 ? searchDelay : d.searchDelay);
    control.Put("COMTimeoutOffset", d.timeoutOffset);
}

}  // namespace mbus::cli
