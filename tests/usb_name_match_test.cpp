#include <gtest/gtest.h>

#include <string>

#include "usb/usb_ids.h"
#include "usb/usb_name_match.h"

namespace {

struct NameCase {
    const char* what;
    std::uint16_t vendor;
    std::uint16_t product;
    std::optional<int> interface_number;
    const char* name;
    bool matches;
};

class UsbNameMatch : public testing::TestWithParam<NameCase> {};

TEST_P(UsbNameMatch, AppliesEveryPatternAsSubstringInEitherCase) {
    const NameCase& c = GetParam();
    const usb_name_patterns patterns = usb_name_patterns_make(c.vendor, c.product, c.interface_number);
    EXPECT_EQ(usb_name_matches(patterns, c.name), c.matches) << c.what;
}

constexpr const char* COMPOSITE_1 = "USB#VID_2F5A&PID_0001&MI_01#6&1a2b3c&0&0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
constexpr const char* SINGLE = "USB#VID_2F5A&PID_800E#B0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

INSTANTIATE_TEST_SUITE_P(
    Names, UsbNameMatch,
    testing::Values(
        NameCase{"exact ids and interface", 0x2F5A, 0x0001, 1, COMPOSITE_1, true},
        NameCase{"other interface number", 0x2F5A, 0x0001, 0, COMPOSITE_1, false},
        NameCase{"second pass ignores the interface", 0x2F5A, 0x0001, std::nullopt, COMPOSITE_1, true},
        NameCase{"single interface has no MI_ part", 0x2F5A, 0x800E, 0, SINGLE, false},
        NameCase{"single interface found without MI_", 0x2F5A, 0x800E, std::nullopt, SINGLE, true},
        NameCase{"product wildcard", 0x2F5A, ANY_ID, 1, COMPOSITE_1, true},
        NameCase{"both wildcards still need nothing", ANY_ID, ANY_ID, std::nullopt, "COM1", true},
        NameCase{"other vendor", 0x1234, ANY_ID, std::nullopt, COMPOSITE_1, false},
        NameCase{"hex digits in either case", 0x2F5A, 0x800E, std::nullopt,
                 "USB#VID_2f5a&PID_800e#B0001", true},
        NameCase{"a HID path in lower case", 0x2F5A, 0x0001, 0,
                 "\\\\?\\hid#vid_2f5a&pid_0001&mi_00#8&1f3b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}", true},
        NameCase{"interface number has two digits at least", 0x2F5A, 0x0001, 1,
                 "USB#VID_2F5A&PID_0001&MI_1#x", false},
        NameCase{"interface 12", 0x2F5A, 0x0001, 12, "USB#VID_2F5A&PID_0001&MI_12#x", true}));

TEST(UsbNamePath, LongestNameFittingALongPathIsAccepted) {
    // 4 prefix characters + name + terminator must fit 32,767 characters:
    // names longer than the old MAX_PATH are opened too.
    EXPECT_TRUE(usb_name_fits_path(std::string(32762, 'A')));
    EXPECT_FALSE(usb_name_fits_path(std::string(32763, 'A')));
}

TEST(UsbNamePatterns, WildcardsReduceToThePrefix) {
    const usb_name_patterns patterns = usb_name_patterns_make(ANY_ID, 0x00AB, 3);
    EXPECT_EQ(patterns.vendor, "VID_");
    EXPECT_EQ(patterns.product, "PID_00AB");
    EXPECT_EQ(patterns.interface, "MI_03");
}

}  // namespace
