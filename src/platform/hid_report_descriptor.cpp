#include "platform/hid_report_descriptor.h"

#include <algorithm>
#include <cstddef>

namespace platform {
namespace {

// Item types and tags of the short items this parser acts on.
constexpr std::uint8_t TYPE_MAIN = 0;
constexpr std::uint8_t TYPE_GLOBAL = 1;
constexpr std::uint8_t TYPE_LOCAL = 2;

constexpr std::uint8_t MAIN_INPUT = 0x8;
constexpr std::uint8_t MAIN_OUTPUT = 0x9;
constexpr std::uint8_t MAIN_COLLECTION = 0xA;
constexpr std::uint8_t MAIN_FEATURE = 0xB;
constexpr std::uint8_t MAIN_END_COLLECTION = 0xC;

constexpr std::uint8_t GLOBAL_USAGE_PAGE = 0x0;
constexpr std::uint8_t GLOBAL_REPORT_SIZE = 0x7;
constexpr std::uint8_t GLOBAL_REPORT_ID = 0x8;
constexpr std::uint8_t GLOBAL_REPORT_COUNT = 0x9;
constexpr std::uint8_t GLOBAL_PUSH = 0xA;
constexpr std::uint8_t GLOBAL_POP = 0xB;

constexpr std::uint8_t LOCAL_USAGE = 0x0;

constexpr std::uint8_t LONG_ITEM_PREFIX = 0xFE;

// Bounds that keep a hostile descriptor from growing state without limit.
constexpr std::size_t MAX_PUSH_DEPTH = 32;
constexpr std::uint32_t MAX_REPORT_BITS = 8u * 0xFFFEu;  // byte length + ID byte fits 16 bits

struct GlobalState {
    std::uint32_t usage_page = 0;
    std::uint32_t report_size = 0;
    std::uint32_t report_count = 0;
    std::uint8_t report_id = 0;
};

struct Parser {
    HidReportDescriptor& out;
    GlobalState global;
    std::vector<GlobalState> stack;
    bool have_usage = false;
    std::uint32_t first_usage = 0;
    bool first_usage_extended = false;
    int depth = 0;

    bool main_item(std::uint8_t tag);
    bool global_item(std::uint8_t tag, std::uint32_t value);
    void local_item(std::uint8_t tag, std::uint32_t value, std::size_t size);
    bool add_report(HidReportKind kind);
};

std::uint32_t item_value(std::span<const std::uint8_t> data) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < data.size(); ++i) value |= static_cast<std::uint32_t>(data[i]) << (8 * i);
    return value;
}

bool Parser::add_report(HidReportKind kind) {
    // Main items outside every collection belong to no top-level collection;
    // the Windows stack ignores them, and so does this parser.
    if (depth == 0 || out.collections.empty()) return true;
    const std::uint64_t bits = static_cast<std::uint64_t>(global.report_size) * global.report_count;
    auto& reports = out.collections.back().reports;
    auto it = std::find_if(reports.begin(), reports.end(), [&](const HidReportEntry& r) {
        return r.kind == kind && r.report_id == global.report_id;
    });
    if (it == reports.end()) {
        reports.push_back({kind, global.report_id, 0});
        it = reports.end() - 1;
    }
    const std::uint64_t total = it->bits + bits;
    if (total > MAX_REPORT_BITS) return false;
    it->bits = static_cast<std::uint32_t>(total);
    return true;
}

bool Parser::main_item(std::uint8_t tag) {
    bool ok = true;
    switch (tag) {
        case MAIN_INPUT: ok = add_report(HidReportKind::input); break;
        case MAIN_OUTPUT: ok = add_report(HidReportKind::output); break;
        case MAIN_FEATURE: ok = add_report(HidReportKind::feature); break;
        case MAIN_COLLECTION:
            if (depth == 0) {
                HidTopCollection collection;
                const std::uint32_t page = first_usage_extended ? (first_usage >> 16) : global.usage_page;
                collection.usage_page = static_cast<std::uint16_t>(page);
                collection.usage = have_usage ? static_cast<std::uint16_t>(first_usage) : 0;
                out.collections.push_back(std::move(collection));
            }
            ++depth;
            break;
        case MAIN_END_COLLECTION:
            if (depth == 0) return false;
            --depth;
            break;
        default: break;
    }
    // Local items apply to the next main item only.
    have_usage = false;
    first_usage_extended = false;
    return ok;
}

bool Parser::global_item(std::uint8_t tag, std::uint32_t value) {
    switch (tag) {
        case GLOBAL_USAGE_PAGE: global.usage_page = value; break;
        case GLOBAL_REPORT_SIZE: global.report_size = value; break;
        case GLOBAL_REPORT_COUNT: global.report_count = value; break;
        case GLOBAL_REPORT_ID:
            if (value == 0 || value > 0xFF) return false;
            global.report_id = static_cast<std::uint8_t>(value);
            out.uses_report_ids = true;
            break;
        case GLOBAL_PUSH:
            if (stack.size() >= MAX_PUSH_DEPTH) return false;
            stack.push_back(global);
            break;
        case GLOBAL_POP:
            if (stack.empty()) return false;
            global = stack.back();
            stack.pop_back();
            break;
        default: break;
    }
    return true;
}

void Parser::local_item(std::uint8_t tag, std::uint32_t value, std::size_t size) {
    if (tag != LOCAL_USAGE || have_usage) return;
    have_usage = true;
    first_usage = value;
    first_usage_extended = size == 4;
}

std::uint16_t byte_length(const HidTopCollection& collection, HidReportKind kind) {
    std::uint32_t largest_bits = 0;
    bool any = false;
    for (const auto& report : collection.reports) {
        if (report.kind != kind) continue;
        any = true;
        largest_bits = std::max(largest_bits, report.bits);
    }
    if (!any) return 0;
    return static_cast<std::uint16_t>((largest_bits + 7) / 8 + 1);
}

}  // namespace

bool HidTopCollection::has_report(HidReportKind kind, std::uint8_t report_id) const {
    return std::any_of(reports.begin(), reports.end(), [&](const HidReportEntry& r) {
        return r.kind == kind && r.report_id == report_id;
    });
}

bool hid_parse_report_descriptor(std::span<const std::uint8_t> bytes, HidReportDescriptor& out) {
    out = {};
    Parser parser{out, {}, {}, false, 0, false, 0};
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::uint8_t prefix = bytes[pos];
        if (prefix == LONG_ITEM_PREFIX) {
            // Long item: prefix, bDataSize, bLongItemTag, data. No long item
            // tags are defined, so the data is skipped.
            if (bytes.size() - pos < 3) return false;
            const std::size_t data_size = bytes[pos + 1];
            if (bytes.size() - pos - 3 < data_size) return false;
            pos += 3 + data_size;
            continue;
        }
        const std::size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
        const std::uint8_t type = (prefix >> 2) & 3;
        const std::uint8_t tag = prefix >> 4;
        if (bytes.size() - pos - 1 < size) return false;
        const std::uint32_t value = item_value(bytes.subspan(pos + 1, size));
        pos += 1 + size;

        bool ok = true;
        if (type == TYPE_MAIN) ok = parser.main_item(tag);
        else if (type == TYPE_GLOBAL) ok = parser.global_item(tag, value);
        else if (type == TYPE_LOCAL) parser.local_item(tag, value, size);
        if (!ok) return false;
    }
    if (parser.depth != 0) return false;
    for (auto& collection : out.collections) {
        collection.input_report_length = byte_length(collection, HidReportKind::input);
        collection.output_report_length = byte_length(collection, HidReportKind::output);
        collection.feature_report_length = byte_length(collection, HidReportKind::feature);
    }
    return true;
}

}  // namespace platform
