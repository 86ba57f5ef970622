// Arbitrary bytes as a telegram log: split at line feeds into entries, the
// answer searched for, a failed read explained, every entry parsed as an
// answer line, its record text split and its start used as a group caption,
// checking what must hold.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "configurator/devices/result_parser.h"

namespace {

using namespace mbus::meridex;

void Check(bool condition) {
    if (!condition) std::abort();
}

std::vector<std::string> Entries(std::string_view text) {
    std::vector<std::string> entries;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        entries.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return entries;
}

// The answer is the first entry beginning with "5" before the first empty one.
void CheckFind(const std::vector<std::string>& entries) {
    int asked = 0;
    const auto line = FindAnswerLine([&](int i) {
        Check(i == asked++);
        return i < static_cast<int>(entries.size()) ? entries[static_cast<std::size_t>(i)] : std::string();
    });
    std::optional<std::string> expected;
    for (const std::string& e : entries) {
        if (e.empty()) break;
        if (e[0] == '5') {
            expected = e;
            break;
        }
    }
    Check(line == expected);
}

// A failed read is explained whenever the log holds a read request.
void CheckReason(const std::vector<std::string>& entries) {
    const auto entry = [&](int i) {
        return i < static_cast<int>(entries.size()) ? entries[static_cast<std::size_t>(i)] : std::string();
    };
    const bool request = FindAnswerLine(entry).has_value();
    for (int code : {0, 1})
        if (request) Check(!ReadFailureReason(entry, code).empty());
}

void CheckParse(const std::string& line) {
    for (bool duringFollowUp : {false, true}) {
        const std::optional<Readout> r = ParseAnswerLine(line, duringFollowUp);
        if (!r) continue;
        Check(line.size() >= 41);
        Check(r->variant != nullptr);
        Check(r->kind == r->variant->kind);
        Check(FindVariant(r->variant->code) == r->variant);
        Check(FirmwareName(*r->variant).size() == 6);
        switch (r->kind) {
            case kModulePulse:
                Check(r->page == kPagePulseInput1 || r->page == kPagePulseInput2 || r->page == kPagePulseBoth);
                Check(!r->followUp);
                break;
            case kModuleAnalog:
                Check(r->page == kPageAnalog);
                if (duringFollowUp) Check(!r->followUp);
                if (!r->records.empty() && r->records.front().descriptor == kParameterSetDescriptor)
                    Check(!r->followUp);
                break;
            case kModuleControl:
                Check(r->page == kPageControl);
                Check(!r->followUp);
                break;
            default: Check(false);
        }
        const AnswerHeader& h = r->header;
        Check(h.identification.size() == 8);
        Check(h.manufacturer == "VND" || h.manufacturer == "KTR");
        Check(h.versionText.empty() || (h.versionText.size() == 3 && h.versionText[1] == '.'));
        Check(h.firmwareNumber >= -1 && h.firmwareNumber <= 99);
        if (!h.primaryAddress.empty()) Check(std::stoi(h.primaryAddress) >= 0 && std::stoi(h.primaryAddress) <= 255);
        const std::vector<RecordText> again = SplitRecords(r->recordText);
        Check(again.size() == r->records.size());
        CaptionWithVersion("MERIDEX Pulse <!!> Input P1 / Z2", h.versionText);
    }
}

// Records cover no more text than there is, and none holds a "|".
void CheckSplit(std::string_view text) {
    std::size_t covered = 0;
    for (const RecordText& r : SplitRecords(text)) {
        Check(r.descriptor.find('|') == std::string::npos && r.value.find('|') == std::string::npos);
        covered += r.descriptor.size() + r.value.size() + 2;
    }
    Check(covered <= text.size());
}

// A caption without the marker stays as it is; with it, the marker goes
// and no blank is left at the end.
void CheckCaption(const std::string& text, const std::string& version) {
    const std::string caption = CaptionWithVersion(text, version);
    if (text.find("<!!>") == std::string::npos) {
        Check(caption == text);
        return;
    }
    Check(caption.empty() || caption.back() != ' ');
    Check(caption.size() <= text.size() - 4 + (version.empty() ? 0 : version.size() + 4));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> entries = Entries(text);
    CheckFind(entries);
    CheckReason(entries);
    for (const std::string& e : entries) {
        CheckParse(e);
        CheckSplit(e);
        CheckCaption(e, e.substr(0, 3));
        CheckCaption(e, "");
    }
    return 0;
}
