#!/usr/bin/env python3
"""Writes telegrams.txt: a corpus of M-Bus answers for the benchmark, the
fuzzer seeds and the tests. Each telegram is preceded by a '# title' line.
Frames get their length fields and checksums computed here, so the corpus
is edited as readable record lists below, never as raw hex."""
import os, struct

def man(code):
    a, b, c = (ord(x) - 64 for x in code)
    return a * 1024 + b * 32 + c

def bcd(n, nbytes):
    s = f"{n:0{2*nbytes}d}"[-2 * nbytes:]
    return bytes(int(s[i:i + 2], 16) for i in range(0, len(s), 2))[::-1]

def le(n, nbytes):
    return (n & ((1 << (8 * nbytes)) - 1)).to_bytes(nbytes, 'little')

def header72(ident, maker, version, medium, access=0x2A, status=0, signature=0):
    return bcd(ident, 4) + le(man(maker), 2) + bytes([version, medium, access, status]) + le(signature, 2)

def long_frame(c, a, ci, payload):
    body = bytes([c, a, ci]) + payload
    assert len(body) <= 255
    return bytes([0x68, len(body), len(body), 0x68]) + body + bytes([sum(body) & 0xFF, 0x16])

def ext_frame(c, a, ci, payload):
    body = bytes([c, a, ci]) + payload
    n = len(body)
    return bytes([0xD8, n & 0xFF, n >> 8, n & 0xFF, n >> 8, 0xD8]) + body + bytes([sum(body) & 0xFF, 0x16])

def rec(*parts):
    out = b''
    for p in parts:
        out += bytes([p]) if isinstance(p, int) else p
    return out

def real(x):
    return struct.pack('<f', x)

def date_g(d, m, y):
    return le(d | (y & 7) << 5 | m << 8 | (y >> 3) << 12, 2)

def date_f(d, m, y, hh, mm, summer=False):
    return le(mm | hh << 8 | (0x8000 if summer else 0) | (d | (y & 7) << 5 | m << 8 | (y >> 3) << 12) << 16, 4)

T = []
def add(title, frame):
    T.append((title, frame))

# Water meter, the most common answer on a bus.
add("water meter: volume, date and time, error flags, fabrication number",
    long_frame(0x08, 0x01, 0x72, header72(12345678, "QXA", 0x01, 0x07, 0x1A) +
               rec(0x0C, 0x13, bcd(12345678, 4)) + rec(0x04, 0x6D, date_f(24, 12, 8, 18, 30)) +
               rec(0x02, 0xFD, 0x17, le(0x0004, 2)) + rec(0x0C, 0x78, bcd(87654321, 4))))
# Heat meter with current and stored values.
add("heat meter: energy, volume, power, flow, temperatures, storage 1",
    long_frame(0x08, 0x05, 0x72, header72(20071234, "QXB", 0x14, 0x04, 0x55, 0x00) +
               rec(0x0C, 0x06, bcd(4711, 4)) + rec(0x0C, 0x14, bcd(123456, 4)) + rec(0x0B, 0x2D, bcd(152, 3)) +
               rec(0x0B, 0x3B, bcd(1234, 3)) + rec(0x0A, 0x5B, bcd(75, 2)) + rec(0x0A, 0x5F, bcd(48, 2)) +
               rec(0x0A, 0x62, bcd(271, 2)) + rec(0x4C, 0x06, bcd(4200, 4)) + rec(0x42, 0x6C, date_g(31, 12, 25)) +
               rec(0x0C, 0x78, bcd(20071234, 4)) + rec(0x04, 0x22, le(8760, 4))))
# Electricity meter with tariffs.
add("electricity meter: energy per tariff, power as real, voltage and current",
    long_frame(0x08, 0x10, 0x72, header72(33000111, "ZZW", 0x02, 0x02, 0x03) +
               rec(0x04, 0x03, le(98765432, 4)) + rec(0x84, 0x10, 0x03, le(5000123, 4)) +
               rec(0x84, 0x20, 0x03, le(4321000, 4)) + rec(0x05, 0x2B, real(1234.5)) +
               rec(0x04, 0xFD, 0x48, le(2301, 4)) + rec(0x04, 0xFD, 0x59, le(15230, 4)) +
               rec(0x04, 0xFB, 0x02, le(777, 4))))
# Gas meter with customer selections.
add("gas meter: volume, customer location and customer number (BCD12)",
    long_frame(0x08, 0x21, 0x72, header72(44556677, "JXK", 0x03, 0x03, 0x99) +
               rec(0x0C, 0x16, bcd(5432, 4)) + rec(0x0E, 0xFD, 0x10, bcd(123456789012, 6)) +
               rec(0x0E, 0xFD, 0x11, bcd(210987654321, 6)) + rec(0x0C, 0x78, bcd(44556677, 4))))
# Every binary integer coding, positive and negative.
add("integer codings INT1 to INT8",
    long_frame(0x08, 0x30, 0x72, header72(1, "QXA", 1, 0x00) +
               rec(0x01, 0xFD, 0x1B, 0x05) + rec(0x02, 0x59, le(-2, 2)) + rec(0x03, 0x13, le(-100000, 3)) +
               rec(0x04, 0x13, le(1234, 4)) + rec(0x06, 0x06, le(123456789012, 6)) +
               rec(0x07, 0x06, le(-1234567890123456, 8))))
# Real values.
add("REAL4 values: power, flow temperature, volume",
    long_frame(0x08, 0x31, 0x72, header72(2, "QXA", 1, 0x04) +
               rec(0x05, 0x2E, real(1.5)) + rec(0x05, 0x5B, real(-12.25)) + rec(0x05, 0x13, real(0.001)) +
               rec(0x05, 0x3E, real(3.0e7))))
# BCD codings, including the special top nibbles.
add("BCD codings: BCD2 to BCD12, negative (F), invalid (D), hex digit A",
    long_frame(0x08, 0x32, 0x72, header72(3, "QXA", 1, 0x07) +
               rec(0x09, 0x13, bcd(42, 1)) + rec(0x0A, 0x13, bcd(1234, 2)) + rec(0x0B, 0x13, bcd(123456, 3)) +
               rec(0x0C, 0x13, bcd(12345678, 4)) + rec(0x0E, 0x13, bcd(123456789012, 6)) +
               rec(0x0A, 0x5B, 0x23, 0xF1) + rec(0x09, 0x13, 0xD5) + rec(0x0A, 0x13, 0x23, 0xA1)))
# Variable-length values.
add("variable length: text, positive and negative BCD, binary, reserved-free",
    long_frame(0x08, 0x33, 0x72, header72(4, "QXA", 1, 0x07) +
               rec(0x0D, 0xFD, 0x0C, 0x05, b'1.2.3'[::-1]) + rec(0x0D, 0x13, 0xC2, bcd(1234, 2)) +
               rec(0x0D, 0x13, 0xD2, bcd(1234, 2)) + rec(0x0D, 0xFD, 0x0E, 0xE2, le(0x1234, 2)) +
               rec(0x0D, 0xFD, 0x0F, 0xE3, le(0xABCDEF, 3))))
# Storage, tariff and subunit through DIFE chains.
add("DIFE chains: storage numbers, tariffs, subunits, ten DIFEs",
    long_frame(0x08, 0x34, 0x72, header72(5, "ZZW", 2, 0x02) +
               rec(0xC4, 0x01, 0x03, le(100, 4)) + rec(0x84, 0x40, 0x03, le(200, 4)) +
               rec(0x84, 0x8F, 0x0F, 0x03, le(300, 4)) + rec(0x84, 0x91, 0x92, 0x13, 0x03, le(400, 4)) +
               rec(0x84, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x0A, 0x03, le(500, 4))))
# VIFE chains.
add("VIFE chains: per hour with exponent, non-metric unit, limit values, ten VIFEs",
    long_frame(0x08, 0x35, 0x72, header72(6, "JXK", 5, 0x04) +
               rec(0x04, 0x86, 0xA2, 0x74, le(500, 4)) + rec(0x04, 0x93, 0x3D, le(1000, 4)) +
               rec(0x04, 0x86, 0x3D, le(7, 4)) + rec(0x02, 0xDB, 0x48, le(90, 2)) +
               rec(0x04, 0x93, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0x29, le(1, 4))))
# Plain-text units.
add("plain-text VIFs: a unit text, and a text unit with a VIFE",
    long_frame(0x08, 0x36, 0x72, header72(7, "QXB", 1, 0x00) +
               rec(0x02, 0x7C, 0x03, b'kPa'[::-1], le(1013, 2)) + rec(0x04, 0xFC, 0x22, 0x04, b'ppmV'[::-1], le(55, 4))))
# Extension tables FB and FD, manufacturer VIF.
add("FB and FD extension codes, credit, manufacturer-specific VIF",
    long_frame(0x08, 0x37, 0x72, header72(8, "ZZW", 1, 0x02) +
               rec(0x04, 0xFB, 0x0E, le(321, 4)) + rec(0x04, 0xFB, 0x11, le(12, 4)) + rec(0x04, 0xFD, 0x03, le(99, 4)) +
               rec(0x04, 0xFD, 0x48, le(2300, 4)) + rec(0x02, 0xFD, 0x1C, le(2400, 2)) + rec(0x04, 0xFF, 0x92, 0x2B, le(5, 4))))
# Functions.
add("maximum, minimum and error-state values",
    long_frame(0x08, 0x38, 0x72, header72(9, "QXA", 1, 0x04) +
               rec(0x14, 0x2B, le(1500, 4)) + rec(0x24, 0x2B, le(10, 4)) + rec(0x34, 0x2B, le(0, 4)) +
               rec(0x12, 0x5B, le(98, 2)) + rec(0x22, 0x5B, le(12, 2))))
# Error VIFE.
add("error VIFE: no data available, then a normal record",
    long_frame(0x08, 0x39, 0x72, header72(10, "QXA", 1, 0x07) +
               rec(0x04, 0x93, 0x15, le(0, 4)) + rec(0x04, 0x13, le(77, 4))))
# Date formats.
add("dates: type G, type F, summer time, start of tariff, date VIFE",
    long_frame(0x08, 0x3A, 0x72, header72(11, "JXK", 1, 0x04) +
               rec(0x02, 0x6C, date_g(24, 12, 8)) + rec(0x04, 0x6D, date_f(1, 7, 26, 12, 5, True)) +
               rec(0x04, 0xFD, 0x30, date_f(1, 1, 20, 6, 0)) + rec(0x04, 0xA2, 0x6A, date_f(3, 3, 21, 3, 3)) +
               rec(0x02, 0x6C, le(0xFF80, 2))))
# Manufacturer data at the end.
add("manufacturer-specific data after DIF 0Fh",
    long_frame(0x08, 0x3B, 0x72, header72(12, "QXA", 1, 0x07) +
               rec(0x04, 0x13, le(4, 4)) + rec(0x0F, bytes(range(1, 17)))))
add("more records follow: DIF 1Fh",
    long_frame(0x08, 0x3C, 0x72, header72(13, "QXB", 1, 0x04) +
               rec(0x0C, 0x06, bcd(1, 4)) + rec(0x1F, 0xAA, 0xBB, 0xCC)))
add("idle fillers and a global readout request",
    long_frame(0x08, 0x3D, 0x72, header72(14, "ZZW", 1, 0x02) +
               rec(0x04, 0x03, le(10, 4)) + rec(0x2F, 0x2F, 0x2F)))
add("global readout request DIF 7Fh",
    long_frame(0x08, 0x3E, 0x72, header72(15, "ZZW", 1, 0x02) + rec(0x02, 0x5B, le(20, 2)) + rec(0x7F)))
# Header forms.
add("CI 78h: no header",
    long_frame(0x08, 0x40, 0x78, rec(0x04, 0x13, le(2222, 4)) + rec(0x02, 0x5B, le(21, 2))))
add("CI 7Ah: short header",
    long_frame(0x08, 0x41, 0x7A, bytes([0x07, 0x00]) + le(0x0000, 2) + rec(0x04, 0x13, le(3333, 4)) +
               rec(0x04, 0x6D, date_f(5, 6, 26, 7, 8))))
add("CI 76h: most significant byte first",
    long_frame(0x08, 0x42, 0x76, header72(16, "QXA", 1, 0x07) +
               rec(0x04, 0x13, le(1234, 4)[::-1]) + rec(0x0C, 0x13, bcd(87654321, 4)[::-1]) +
               rec(0x0D, 0xFD, 0x0C, 0x03, b'abc')))
add("access demand: C field 28h",
    long_frame(0x28, 0x43, 0x72, header72(17, "JXK", 1, 0x07, status=0x10) + rec(0x04, 0x13, le(5, 4))))
# Fixed structure (EN 1434-3).
fixed = lambda ci, ident, st, b13, b14, c1, c2, extra=b'', lsb=True: long_frame(
    0x08, 0x50, ci, (bcd(ident, 4) if lsb else bcd(ident, 4)[::-1]) + bytes([0x11, st, b13, b14]) +
    ((c1 + c2) if lsb else (c1[::-1] + c2[::-1])) + extra)
add("fixed structure CI 73h: BCD counters, energy and volume",
    fixed(0x73, 1234567, 0x00, 0x06 | 0x40, 0x2C, bcd(1234, 4), bcd(5678, 4)))
add("fixed structure CI 73h: binary counters (status bit 0), historic second counter",
    fixed(0x73, 1234567, 0x01, 0x29, 0x3E, le(1000, 4), le(900, 4)))
add("fixed structure CI 73h with manufacturer bytes behind the counters",
    fixed(0x73, 7654321, 0x00, 0x2D, 0x2C, bcd(42, 4), bcd(43, 4), extra=bytes([0xDE, 0xAD, 0xBE, 0xEF])))
add("fixed structure CI 77h: most significant byte first",
    fixed(0x77, 1111, 0x00, 0x05, 0x29, bcd(1, 4), bcd(2, 4), lsb=False))
# Other answers.
add("acknowledge E5h", bytes([0xE5]))
add("short frame", bytes([0x10, 0x5B, 0x01, 0x5C, 0x16]))
add("application error CI 70h", long_frame(0x08, 0x01, 0x70, bytes([0x01])))
add("alarm CI 71h", long_frame(0x08, 0x01, 0x71, bytes([0x02])))
# A long heat meter log, and the same as an extended long frame.
history = header72(20250001, "QXB", 0x20, 0x04, 0x10)
for i in range(1, 16):
    history += rec(0xCC, i & 0x0F | 0x00, 0x06, bcd(1000 + 37 * i, 4)) if i < 8 else rec(0x8C, 0x40 | (i >> 1) & 0x0F, 0x06, bcd(1000 + 37 * i, 4))
history += rec(0x0C, 0x78, bcd(20250001, 4))
add("heat meter with a monthly history", long_frame(0x08, 0x60, 0x72, history))
big = header72(20259999, "QXB", 0x20, 0x04, 0x11)
for i in range(40):
    big += rec(0x84, 0x40 | (i % 15), 0x06, le(10000 + i * 13, 4))
add("extended long frame D8h with forty stored energy values", ext_frame(0x08, 0x61, 0x72, big))
add("water meter with three subunits",
    long_frame(0x08, 0x62, 0x72, header72(31, "JXK", 2, 0x16) +
               rec(0x8C, 0x40, 0x13, bcd(100, 4)) + rec(0x8C, 0x80, 0x40, 0x13, bcd(200, 4)) +
               rec(0x8C, 0xC0, 0x40, 0x13, bcd(300, 4))))
# Error states and dates as meters send them.
add("heat meter in an error state: BCD digits Ah..Fh, and a negative temperature difference",
    long_frame(0x08, 0x05, 0x72, header72(87654321, "QXA", 0x01, 0x04, 0x1B) +
               rec(0x0C, 0x06, bytes([0xAA] * 4)) + rec(0x0C, 0x13, bcd(123456, 4)) + rec(0x0A, 0x61, 0x23, 0xF1)))
add("dates: time invalid, hundred-year bits, a date of two bytes",
    long_frame(0x08, 0x05, 0x72, header72(87654321, "QXA", 0x01, 0x04, 0x1B) +
               rec(0x04, 0x6D, bytes.fromhex("9E12181C")) + rec(0x44, 0x6D, bytes.fromhex("1E52181C")) +
               rec(0x42, 0x6C, bytes.fromhex("181C"))))
add("date and time of six bytes with seconds, day of week and week",
    long_frame(0x08, 0x05, 0x72, header72(87654321, "QXA", 0x01, 0x04, 0x1B) +
               rec(0x06, 0x6D, bytes.fromhex("0F1E72181C34")) + rec(0x04, 0x13, le(1234, 4))))
add("application error CI 70h: application too busy", long_frame(0x08, 0x05, 0x70, bytes([0x08])))
# Plain-text units as meters send them: VIF, length, text, then the VIFEs.
add("room sensor: plain-text unit with its VIFE behind the text, humidity, temperature",
    long_frame(0x08, 0x63, 0x72, header72(20261001, "QXB", 0x03, 0x00) +
               rec(0x02, 0xFC, 0x03, b'ppm'[::-1], 0x75, le(2000, 2)) +
               rec(0x02, 0x7C, 0x03, b'%RH'[::-1], le(411, 2)) + rec(0x02, 0x65, le(2150, 2)) +
               rec(0x0C, 0x78, bcd(20261001, 4))))
add("gas flow: plain-text unit with a chain of two VIFEs behind the text",
    long_frame(0x08, 0x64, 0x72, header72(20261002, "JXK", 0x02, 0x03) +
               rec(0x04, 0xFC, 0x03, b'Nm3'[::-1], 0xA2, 0x73, le(123456, 4)) + rec(0x0C, 0x13, bcd(4711, 4))))
# Long binary numbers of LVAR F0h..F6h, and a reserved LVAR.
add("long binary values: LVAR F0h, F4h, F5h and F6h, then a temperature",
    long_frame(0x08, 0x65, 0x72, header72(20261003, "ZZW", 0x01, 0x02) +
               rec(0x0D, 0xFD, 0x0F, 0xF0, bytes(range(16))) + rec(0x0D, 0xFD, 0x0F, 0xF4, bytes(range(32, 64))) +
               rec(0x0D, 0x7F, 0xF5, bytes(range(64, 112))) + rec(0x0D, 0x7F, 0xF6, bytes(range(128, 192))) +
               rec(0x02, 0x65, le(2150, 2))))
add("reserved LVAR F8h ends the walk",
    long_frame(0x08, 0x66, 0x72, header72(20261004, "ZZW", 0x01, 0x02) +
               rec(0x02, 0x5B, le(21, 2)) + rec(0x0D, 0xFD, 0x0F, 0xF8, 0x01, 0x02, 0x03, 0x04) +
               rec(0x02, 0x65, le(2150, 2))))
# Answers whose user data is too short for their header.
add("CI 72h answer with its header cut short", long_frame(0x08, 0x67, 0x72, bcd(20261005, 4) + le(man("QXA"), 2)))
add("CI 7Ah answer with its header cut short", long_frame(0x08, 0x68, 0x7A, bytes([0x07, 0x00])))

here = os.path.dirname(os.path.abspath(__file__))
with open(os.path.join(here, 'telegrams.txt'), 'w') as f:
    f.write("# M-Bus answers, one per line as hex digit pairs; made by make_corpus.py\n")
    for title, frame in T:
        f.write(f"# {title}\n{frame.hex(' ').upper()}\n")
print(f"{len(T)} telegrams")
