#include "sim/faults.h"

#include <algorithm>
#include <charconv>

namespace mbus::sim {
namespace {

struct KindName {
    FaultKind kind;
    std::string_view name;
    bool takesPosition;
    bool takesArg;
};

constexpr KindName kKinds[] = {
    {FaultKind::kNone, "none", false, false},      {FaultKind::kDrop, "drop", true, false},
    {FaultKind::kFlip, "flip", true, true},        {FaultKind::kExtra, "extra", true, true},
    {FaultKind::kParity, "parity", true, false},   {FaultKind::kFraming, "framing", true, false},
    {FaultKind::kSilence, "silence", false, false},
};

constexpr std::string_view kAccepted =
    "give none, drop[@POS], flip[@POS][:MASK], extra[@POS][:BYTE], parity[@POS], framing[@POS] or silence, "
    "e.g. flip@3:80";

bool ParseHexByte(std::string_view text, uint8_t* out) {
    if (text.size() > 2 && (text.substr(0, 2) == "0x" || text.substr(0, 2) == "0X")) text.remove_prefix(2);
    else if (!text.empty() && (text.back() == 'h' || text.back() == 'H')) text.remove_suffix(1);
    if (text.empty() || text.size() > 2) return false;
    unsigned v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 16);
    if (ec != std::errc() || end != text.data() + text.size()) return false;
    *out = static_cast<uint8_t>(v);
    return true;
}

}  // namespace

std::optional<Fault> ParseFault(std::string_view text, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<Fault> {
        if (error) *error = "fault \"" + std::string(text) + "\": " + why;
        return std::nullopt;
    };
    std::string_view rest = text;
    const std::size_t nameEnd = rest.find_first_of("@:");
    const std::string_view name = rest.substr(0, nameEnd);
    rest = nameEnd == std::string_view::npos ? std::string_view() : rest.substr(nameEnd);

    const KindName* kind = nullptr;
    for (const KindName& k : kKinds)
        if (k.name == name) kind = &k;
    if (kind == nullptr) return fail("unknown kind \"" + std::string(name) + "\"; " + std::string(kAccepted));

    Fault f;
    f.kind = kind->kind;
    if (f.kind == FaultKind::kFlip) f.arg = 0x01;
    if (f.kind == FaultKind::kExtra) f.arg = 0xFF;
    if (!rest.empty() && rest.front() == '@') {
        if (!kind->takesPosition) return fail(std::string(kind->name) + " takes no position; " + std::string(kAccepted));
        rest.remove_prefix(1);
        const std::size_t end = rest.find(':');
        const std::string_view pos = rest.substr(0, end);
        int value = 0;
        const auto [p, ec] = std::from_chars(pos.data(), pos.data() + pos.size(), value, 10);
        if (pos.empty() || ec != std::errc() || p != pos.data() + pos.size())
            return fail("position \"" + std::string(pos) + "\" is not a whole number; e.g. @0 (first byte), @-1 (last)");
        f.position = value;
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    }
    if (!rest.empty() && rest.front() == ':') {
        if (!kind->takesArg) return fail(std::string(kind->name) + " takes no value; " + std::string(kAccepted));
        rest.remove_prefix(1);
        if (!ParseHexByte(rest, &f.arg))
            return fail("value \"" + std::string(rest) + "\" is not a hexadecimal byte; give one or two hex digits, e.g. :80");
        rest = {};
    }
    if (!rest.empty()) return fail(std::string(kAccepted));
    return f;
}

std::string FaultText(const Fault& fault) {
    std::string text;
    for (const KindName& k : kKinds)
        if (k.kind == fault.kind) text = std::string(k.name);
    if (fault.position && fault.kind != FaultKind::kNone && fault.kind != FaultKind::kSilence)
        text += "@" + std::to_string(*fault.position);
    if (fault.kind == FaultKind::kFlip || fault.kind == FaultKind::kExtra) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        text += ':';
        text += kDigits[fault.arg >> 4];
        text += kDigits[fault.arg & 0x0F];
    }
    return text;
}

void ApplyFault(const Fault& fault, std::vector<LineByte>& answer, SimClock::duration characterTime) {
    if (answer.empty()) return;
    const int n = static_cast<int>(answer.size());
    if (fault.kind == FaultKind::kSilence) {
        answer.clear();
        return;
    }
    if (fault.kind == FaultKind::kNone) return;
    if (fault.kind == FaultKind::kExtra) {
        // Where the new byte goes: 0..n (n appends).
        int at = n;
        if (fault.position) at = *fault.position >= 0 ? *fault.position : n + 1 + *fault.position;
        at = std::clamp(at, 0, n);
        LineByte extra;
        extra.value = fault.arg;
        extra.start = at < n ? answer[static_cast<std::size_t>(at)].start : answer.back().start + characterTime;
        for (int i = at; i < n; ++i) answer[static_cast<std::size_t>(i)].start += characterTime;
        answer.insert(answer.begin() + at, extra);
        return;
    }
    int at = n - 1;
    if (fault.position) at = *fault.position >= 0 ? *fault.position : n + *fault.position;
    at = std::clamp(at, 0, n - 1);
    LineByte& b = answer[static_cast<std::size_t>(at)];
    switch (fault.kind) {
        case FaultKind::kDrop: answer.erase(answer.begin() + at); break;
        case FaultKind::kFlip: b.value = static_cast<uint8_t>(b.value ^ fault.arg); break;
        case FaultKind::kParity: b.parity = true; break;
        case FaultKind::kFraming: b.framing = true; break;
        default: break;
    }
}

}  // namespace mbus::sim
