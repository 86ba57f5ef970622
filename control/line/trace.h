// The traffic trace: one process-wide file to which every send and every
// reception of every channel appends one line.
//
//   2026-12-07 21:30:05:123\tSND\tChannel: 0\t10 5B 01 5C 16 \r\n
//
// Each line is written by opening the file in append mode, writing and
// closing it, so lines of different channels interleave whole.

#pragma once

#include <cstdint>
#include <string>

namespace mbus::line {

// The trace file name; empty: no trace.
void SetTraceFileName(const std::string& name);
std::string TraceFileName();

enum class TraceKind { Send, Receive };

// Formats one trace line for the local time `unixMs` (milliseconds since
// the epoch).
std::string FormatTraceLine(int64_t unixMs, TraceKind kind, int slot, const uint8_t* bytes, int n);
// Appends a line for now when a trace file is set.
void AppendTraceLine(TraceKind kind, int slot, const uint8_t* bytes, int n);

}  // namespace mbus::line
