#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/hid_report_descriptor.h"
#include "sim/native_hid_function.h"

namespace {

using platform::HidReportDescriptor;
using platform::HidReportKind;
using platform::hid_parse_report_descriptor;
using Bytes = std::vector<std::uint8_t>;

// A boot keyboard: no report IDs, 8-byte input report, 5 LED bits padded to
// one byte of output.
const Bytes KEYBOARD = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01,
    0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01, 0x95, 0x05, 0x75, 0x01,
    0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x01, 0x95, 0x06,
    0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0,
};

// Mouse (report ID 1, nested physical collection) and consumer control
// (report ID 2) as two top-level collections of one interface.
const Bytes MOUSE_AND_CONSUMER = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19, 0x01,
    0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02, 0x95, 0x01, 0x75, 0x05,
    0x81, 0x03, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09, 0x38, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08,
    0x95, 0x03, 0x81, 0x06, 0xC0, 0xC0,
    0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x02, 0x15, 0x00, 0x26, 0xFF, 0x03, 0x19, 0x00, 0x2A,
    0xFF, 0x03, 0x75, 0x10, 0x95, 0x01, 0x81, 0x00, 0xC0,
};

// Vendor collection named by a 4-byte usage (page in the high half), two
// feature reports of different sizes and an input report; Push/Pop around a
// changed report size; a long item that must be skipped.
const Bytes VENDOR_MIXED = {
    0x0B, 0x01, 0x00, 0x00, 0xFF,  // Usage (page 0xFF00, usage 0x0001), 4-byte form
    0xA1, 0x01,                    // Collection (Application)
    0x75, 0x08,                    //   Report Size (8)
    0x85, 0x10, 0x95, 0x20, 0x09, 0x01, 0xB1, 0x02,  // ID 0x10: feature 32 bytes
    0xA4,                          //   Push
    0x75, 0x10,                    //   Report Size (16)
    0x85, 0x11, 0x95, 0x30, 0x09, 0x02, 0xB1, 0x02,  // ID 0x11: feature 48 x 16 bits = 96 bytes
    0xB4,                          //   Pop: size 8 again, ID 0x10 again
    0xFE, 0x02, 0x10, 0xAA, 0xBB,  //   long item
    0x95, 0x05, 0x09, 0x03, 0x81, 0x02,  // ID 0x10: input 5 bytes
    0xC0,
};

struct ValidCase {
    std::string name;
    Bytes descriptor;
    bool uses_report_ids;
    std::vector<platform::HidTopCollection> expected;  // usage and lengths only
};

class HidDescriptorValid : public testing::TestWithParam<ValidCase> {};

TEST_P(HidDescriptorValid, CollectionsAndLengths) {
    const auto& c = GetParam();
    HidReportDescriptor parsed;
    ASSERT_TRUE(hid_parse_report_descriptor(c.descriptor, parsed));
    EXPECT_EQ(parsed.uses_report_ids, c.uses_report_ids);
    ASSERT_EQ(parsed.collections.size(), c.expected.size());
    for (std::size_t i = 0; i < c.expected.size(); ++i) {
        const auto& got = parsed.collections[i];
        const auto& want = c.expected[i];
        EXPECT_EQ(got.usage_page, want.usage_page) << i;
        EXPECT_EQ(got.usage, want.usage) << i;
        EXPECT_EQ(got.input_report_length, want.input_report_length) << i;
        EXPECT_EQ(got.output_report_length, want.output_report_length) << i;
        EXPECT_EQ(got.feature_report_length, want.feature_report_length) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    RealWorldShapes, HidDescriptorValid,
    testing::Values(
        ValidCase{"touch_vendor", sim::native_hid_report_descriptor(), true, {{0xFF01, 0x00F1, 0, 0, 257, {}}}},
        ValidCase{"keyboard", KEYBOARD, false, {{0x0001, 0x0006, 9, 2, 0, {}}}},
        ValidCase{"mouse_consumer", MOUSE_AND_CONSUMER, true,
                  {{0x0001, 0x0002, 5, 0, 0, {}}, {0x000C, 0x0001, 3, 0, 0, {}}}},
        ValidCase{"vendor_mixed", VENDOR_MIXED, true, {{0xFF00, 0x0001, 6, 0, 97, {}}}},
        ValidCase{"empty", {}, false, {}}),
    [](const auto& info) { return info.param.name; });

TEST(HidDescriptor, ReportIdsPerCollection) {
    HidReportDescriptor parsed;
    ASSERT_TRUE(hid_parse_report_descriptor(VENDOR_MIXED, parsed));
    const auto& collection = parsed.collections.at(0);
    EXPECT_TRUE(collection.has_report(HidReportKind::feature, 0x10));
    EXPECT_TRUE(collection.has_report(HidReportKind::feature, 0x11));
    EXPECT_TRUE(collection.has_report(HidReportKind::input, 0x10));
    EXPECT_FALSE(collection.has_report(HidReportKind::input, 0x11));
    EXPECT_FALSE(collection.has_report(HidReportKind::output, 0x10));
}

struct InvalidCase {
    std::string name;
    Bytes descriptor;
};

class HidDescriptorInvalid : public testing::TestWithParam<InvalidCase> {};

TEST_P(HidDescriptorInvalid, Refused) {
    HidReportDescriptor parsed;
    EXPECT_FALSE(hid_parse_report_descriptor(GetParam().descriptor, parsed));
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, HidDescriptorInvalid,
    testing::Values(InvalidCase{"short_item_cut", {0x06, 0x01}},
                    InvalidCase{"four_byte_item_cut", {0x0B, 0x01, 0x00, 0x00}},
                    InvalidCase{"long_item_header_cut", {0xFE, 0x05}},
                    InvalidCase{"long_item_data_cut", {0xFE, 0x05, 0x10, 0x01, 0x02}},
                    InvalidCase{"end_without_collection", {0xC0}},
                    InvalidCase{"collection_left_open", {0x09, 0x01, 0xA1, 0x01}},
                    InvalidCase{"pop_on_empty_stack", {0xB4}},
                    InvalidCase{"report_id_zero", {0xA1, 0x01, 0x85, 0x00, 0xC0}},
                    InvalidCase{"report_id_too_wide", {0xA1, 0x01, 0x86, 0x00, 0x01, 0xC0}},
                    InvalidCase{"report_beyond_16_bits",
                                {0xA1, 0x01, 0x77, 0xFF, 0xFF, 0x00, 0x00, 0x97, 0xFF, 0xFF, 0x00, 0x00,
                                 0xB1, 0x02, 0xC0}}),
    [](const auto& info) { return info.param.name; });

TEST(HidDescriptor, PushDepthIsBounded) {
    Bytes descriptor(1000, 0xA4);
    HidReportDescriptor parsed;
    EXPECT_FALSE(hid_parse_report_descriptor(descriptor, parsed));
}

// A proper prefix of a well-formed descriptor is refused, or (cut between
// top-level collections) parses to fewer collections; under ASan no prefix
// makes the parser read past its end.
TEST(HidDescriptor, TruncationNeverYieldsTheWholeDescriptor) {
    for (const Bytes* full : {&KEYBOARD, &MOUSE_AND_CONSUMER, &VENDOR_MIXED}) {
        HidReportDescriptor whole;
        ASSERT_TRUE(hid_parse_report_descriptor(*full, whole));
        for (std::size_t length = 1; length < full->size(); ++length) {
            const Bytes prefix(full->begin(), full->begin() + static_cast<std::ptrdiff_t>(length));
            HidReportDescriptor parsed;
            const bool ok = hid_parse_report_descriptor(prefix, parsed);
            EXPECT_TRUE(!ok || parsed.collections.size() < whole.collections.size()) << "length " << length;
        }
    }
}

}  // namespace
