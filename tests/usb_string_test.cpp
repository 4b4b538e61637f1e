#include "platform/usb_string.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;

struct TextCase {
    const char* name;
    bytes received;
    std::optional<std::string> expected;
};

class UsbStringDescriptorText : public testing::TestWithParam<TextCase> {};

TEST_P(UsbStringDescriptorText, DecodesOnlyWhatWasReceived) {
    EXPECT_EQ(platform::usb_string_descriptor_text(GetParam().received), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsbStringDescriptorText,
    testing::Values(
        TextCase{"ascii", {8, 3, 'S', 0, 'N', 0, '1', 0}, "SN1"},
        TextCase{"empty_string", {2, 3}, ""},
        TextCase{"latin1_to_utf8", {4, 3, 0xE9, 0x00}, "\xC3\xA9"},
        TextCase{"bmp_to_utf8", {4, 3, 0xAC, 0x20}, "\xE2\x82\xAC"},
        TextCase{"surrogate_pair", {6, 3, 0x3D, 0xD8, 0x00, 0xDE}, "\xF0\x9F\x98\x80"},
        TextCase{"lone_high_surrogate", {6, 3, 0x3D, 0xD8, 'A', 0}, "\xEF\xBF\xBD" "A"},
        TextCase{"lone_low_surrogate", {4, 3, 0x00, 0xDC}, "\xEF\xBF\xBD"},
        // bLength claims more than arrived: only the received units count.
        TextCase{"blength_beyond_received", {200, 3, 'A', 0, 'B', 0}, "AB"},
        // bLength shorter than what arrived: the rest is not part of the text.
        TextCase{"blength_shorter", {4, 3, 'A', 0, 'B', 0}, "A"},
        TextCase{"odd_blength_drops_half_unit", {5, 3, 'A', 0, 'B', 0}, "A"},
        TextCase{"nul_unit_ends_text", {8, 3, 'A', 0, 0, 0, 'B', 0}, "A"},
        TextCase{"wrong_type", {4, 2, 'A', 0}, std::nullopt},
        TextCase{"blength_below_header", {1, 3}, std::nullopt},
        TextCase{"too_short", {4}, std::nullopt},
        TextCase{"nothing", {}, std::nullopt}),
    [](const testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

}  // namespace
