// Sample answers of a few meters, decoded by the demo of the main job.

#pragma once

namespace mbus::cli {

struct SampleTelegram {
    const char* title;
    const char* hex;
};

inline constexpr SampleTelegram kSampleTelegrams[] = {
    {"water meter: volume, date and time, error flags, fabrication number",
     "68 26 26 68 08 01 72 78 56 34 12 01 47 01 07 1A 00 00 00 0C 13 78 56 34 12 04 6D 1E 12 18 1C 02 FD 17 04 00 0C 78 21 43 65 87 EF 16"},
    {"heat meter: energy, volume, power, flow, temperatures, storage 1",
     "68 47 47 68 08 05 72 34 12 07 20 02 47 14 04 55 00 00 00 0C 06 11 47 00 00 0C 14 56 34 12 00 0B 2D 52 01 00 0B 3B 34 12 00 0A 5B 75 00 0A 5F 48 00 0A 62 71 02 4C 06 00 42 00 00 42 6C 3F 3C 0C 78 34 12 07 20 04 22 38 22 00 00 77 16"},
    {"electricity meter: energy per tariff, power as real, voltage and current",
     "68 3E 3E 68 08 10 72 11 01 00 33 57 6B 02 02 03 00 00 00 04 03 78 0A E3 05 84 10 03 BB 4B 4C 00 84 20 03 E8 EE 41 00 05 2B 00 50 9A 44 04 FD 48 FD 08 00 00 04 FD 59 7E 3B 00 00 04 FB 02 09 03 00 00 7C 16"},
    {"gas meter: volume, customer location and customer number (BCD12)",
     "68 2D 2D 68 08 21 72 77 66 55 44 0B 2B 03 03 99 00 00 00 0C 16 32 54 00 00 0E FD 10 12 90 78 56 34 12 0E FD 11 21 43 65 87 09 21 0C 78 77 66 55 44 EF 16"},
    {"CI 7Ah: short header",
     "68 13 13 68 08 41 7A 07 00 00 00 04 13 05 0D 00 00 04 6D 08 07 45 36 EE 16"},
    {"fixed structure CI 73h: BCD counters, energy and volume",
     "68 13 13 68 08 50 73 67 45 23 01 11 00 46 2C 34 12 00 00 78 56 00 00 32 16"},
    {"acknowledge E5h",
     "E5"},
    {"heat meter with a monthly history",
     "68 7E 7E 68 08 60 72 01 00 25 20 02 47 20 04 10 00 00 00 CC 01 06 37 10 00 00 CC 02 06 74 10 00 00 CC 03 06 11 11 00 00 CC 04 06 48 11 00 00 CC 05 06 85 11 00 00 CC 06 06 22 12 00 00 CC 07 06 59 12 00 00 8C 44 06 96 12 00 00 8C 44 06 33 13 00 00 8C 45 06 70 13 00 00 8C 45 06 07 14 00 00 8C 46 06 44 14 00 00 8C 46 06 81 14 00 00 8C 47 06 18 15 00 00 8C 47 06 55 15 00 00 0C 78 01 00 25 20 88 16"},
};

}  // namespace mbus::cli
