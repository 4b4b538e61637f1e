// The report descriptor parser on descriptors shaped like real devices':
// several top-level collections, several report IDs, input and feature
// reports mixed, nested collections, long items, push/pop, extended usages.
#include <gtest/gtest.h>

#include "linux_hid_descriptors.h"
#include "platform/hid_report_descriptor.h"

namespace {

using platform::hid_parse_report_descriptor;
using platform::HidReportDescriptor;
using platform::HidReportKind;

struct Collection {
    std::uint16_t page, usage, input, output, feature;
};

struct Shape {
    const char* what;
    std::vector<std::uint8_t> bytes;
    bool uses_report_ids;
    std::vector<Collection> collections;
};

// A digitizer with a touch report (ID 1, nested logical collection), a
// feature report for the contact count maximum (ID 2) and a vendor
// certification blob (ID 3, 256 bytes) in one top-level collection.
const std::vector<std::uint8_t> TOUCHSCREEN = {
    0x05, 0x0D, 0x09, 0x04, 0xA1, 0x01,                    // Digitizer, Touch Screen, Application
    0x85, 0x01, 0x09, 0x22, 0xA1, 0x02,                    // ID 1, Finger, Logical
    0x09, 0x42, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x01, 0x81, 0x02,  // tip switch, 1 bit
    0x95, 0x07, 0x81, 0x03,                                // padding, 7 bits
    0x05, 0x01, 0x26, 0xFF, 0x7F, 0x75, 0x10, 0x95, 0x02,  // X, Y: 2 x 16 bits
    0x09, 0x30, 0x09, 0x31, 0x81, 0x02,
    0xC0,
    0x05, 0x0D, 0x85, 0x02, 0x09, 0x55, 0x25, 0x0A, 0x75, 0x08, 0x95, 0x01, 0xB1, 0x02,  // ID 2
    0x06, 0x00, 0xFF, 0x85, 0x03, 0x09, 0xC5, 0x26, 0xFF, 0x00, 0x96, 0x00, 0x01, 0xB1, 0x02,  // ID 3
    0xC0,
};

// Push and pop around a report of another size; an extended (4-byte) usage
// naming the vendor page and usage at once.
const std::vector<std::uint8_t> PUSH_POP_EXTENDED = {
    0x0B, 0xF1, 0x00, 0x01, 0xFF, 0xA1, 0x01,              // Usage 0xFF01:00F1, Application
    0x75, 0x08, 0x95, 0x3F, 0xA4,                          // 63 bytes, Push
    0x75, 0x10, 0x95, 0x02, 0x09, 0x01, 0x81, 0x02,        // input 4 bytes
    0xB4,                                                  // Pop: 63 x 8 bits again
    0x09, 0x02, 0xB1, 0x02,                                // feature 63 bytes
    0xC0,
};

const std::vector<Shape> SHAPES = {
    {"keyboard without report IDs", linux_test::KEYBOARD, false, {{0x0001, 0x0006, 9, 2, 0}}},
    {"vendor collection", linux_test::VENDOR, true, {{0xFF01, 0x00F1, 65, 0, 257}}},
    {"keyboard, consumer control and vendor with a long item",
     linux_test::COMPOSITE,
     true,
     {{0x0001, 0x0006, 8, 0, 0}, {0x000C, 0x0001, 3, 0, 0}, {0xFF01, 0x00F1, 65, 0, 257}}},
    {"touch screen with nested collection and two feature reports",
     TOUCHSCREEN,
     true,
     {{0x000D, 0x0004, 6, 0, 257}}},
    {"push, pop and extended usage", PUSH_POP_EXTENDED, false, {{0xFF01, 0x00F1, 5, 0, 64}}},
};

TEST(HidReportDescriptorShapes, CollectionsAndReportLengths) {
    for (const Shape& shape : SHAPES) {
        HidReportDescriptor parsed;
        ASSERT_TRUE(hid_parse_report_descriptor(shape.bytes, parsed)) << shape.what;
        EXPECT_EQ(parsed.uses_report_ids, shape.uses_report_ids) << shape.what;
        ASSERT_EQ(parsed.collections.size(), shape.collections.size()) << shape.what;
        for (std::size_t i = 0; i < shape.collections.size(); ++i) {
            const auto& got = parsed.collections[i];
            const auto& want = shape.collections[i];
            EXPECT_EQ(got.usage_page, want.page) << shape.what << " #" << i;
            EXPECT_EQ(got.usage, want.usage) << shape.what << " #" << i;
            EXPECT_EQ(got.input_report_length, want.input) << shape.what << " #" << i;
            EXPECT_EQ(got.output_report_length, want.output) << shape.what << " #" << i;
            EXPECT_EQ(got.feature_report_length, want.feature) << shape.what << " #" << i;
        }
    }
}

TEST(HidReportDescriptorShapes, ReportsBelongToTheirCollection) {
    HidReportDescriptor parsed;
    ASSERT_TRUE(hid_parse_report_descriptor(linux_test::COMPOSITE, parsed));
    ASSERT_EQ(parsed.collections.size(), 3u);
    const auto& vendor = parsed.collections[2];
    EXPECT_TRUE(vendor.has_report(HidReportKind::feature, 0xFF));
    EXPECT_TRUE(vendor.has_report(HidReportKind::feature, 0xFE));
    EXPECT_TRUE(vendor.has_report(HidReportKind::input, 0xFF));
    EXPECT_FALSE(vendor.has_report(HidReportKind::input, 0x01));
    EXPECT_TRUE(parsed.collections[0].has_report(HidReportKind::input, 0x01));
    EXPECT_FALSE(parsed.collections[0].has_report(HidReportKind::feature, 0xFF));
}

// Every cut inside the last top-level collection (each shape's last 20
// bytes lie inside it) either splits an item or leaves the collection open,
// and is refused; none is read past its end.
TEST(HidReportDescriptorShapes, TruncationsAreRefused) {
    constexpr std::size_t LAST_COLLECTION_TAIL = 20;
    for (const Shape& shape : SHAPES) {
        for (std::size_t length = shape.bytes.size() - LAST_COLLECTION_TAIL; length < shape.bytes.size();
             ++length) {
            const std::vector<std::uint8_t> cut(shape.bytes.begin(),
                                                shape.bytes.begin() + static_cast<std::ptrdiff_t>(length));
            HidReportDescriptor parsed;
            EXPECT_FALSE(hid_parse_report_descriptor(cut, parsed)) << shape.what << " cut at " << length;
        }
    }
}

TEST(HidReportDescriptorShapes, MalformedLongItemsAndCollections) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {"long item longer than the descriptor", {0x06, 0x01, 0xFF, 0xFE, 0x10, 0x01, 0xAA}},
        {"long item header cut", {0xFE, 0x02}},
        {"end collection without collection", {0xC0}},
        {"report ID 0", {0x06, 0x01, 0xFF, 0x09, 0xF1, 0xA1, 0x01, 0x85, 0x00, 0xC0}},
        {"pop without push", {0xB4}},
    };
    for (const Case& c : cases) {
        HidReportDescriptor parsed;
        EXPECT_FALSE(hid_parse_report_descriptor(c.bytes, parsed)) << c.what;
    }
}

}  // namespace
