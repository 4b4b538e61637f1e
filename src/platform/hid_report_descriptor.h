// HID report descriptor parsing (HID 1.11, section 6.2.2): the top-level
// collections with their usage, and per collection the report byte lengths
// as the Windows HID stack reports them in HIDP_CAPS.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace platform {

enum class HidReportKind : std::uint8_t { input, output, feature };

// One report of one kind in a top-level collection: its ID (0 when the
// descriptor declares no report IDs) and its size in bits, without the ID.
struct HidReportEntry {
    HidReportKind kind = HidReportKind::input;
    std::uint8_t report_id = 0;
    std::uint32_t bits = 0;
};

struct HidTopCollection {
    std::uint16_t usage_page = 0;
    std::uint16_t usage = 0;
    // Largest report of the kind in bytes plus one for the report ID byte
    // (counted even without report IDs); 0 when the collection has none.
    std::uint16_t input_report_length = 0;
    std::uint16_t output_report_length = 0;
    std::uint16_t feature_report_length = 0;
    std::vector<HidReportEntry> reports;

    // Whether a report of this kind and ID exists in the collection.
    bool has_report(HidReportKind kind, std::uint8_t report_id) const;
};

struct HidReportDescriptor {
    bool uses_report_ids = false;
    std::vector<HidTopCollection> collections;
};

// Parses `bytes`; false on a malformed descriptor (truncated item, unbalanced
// collection or push/pop, report ID 0, a report too large for HIDP_CAPS).
// Never reads outside `bytes`.
bool hid_parse_report_descriptor(std::span<const std::uint8_t> bytes, HidReportDescriptor& out);

}  // namespace platform
