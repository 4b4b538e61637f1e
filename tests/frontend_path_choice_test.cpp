#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "frontend/build_info.h"
#include "frontend/path_choice.h"
#include "usb/usb_ids.h"

namespace {

struct path_case {
    const char* name;
    std::uint16_t product_id;
    bool force_dfu;
    bool enable_kxp;
    int probe_result;
    bool probe_expected;
    device_path expected;
};

class ChoosePath : public ::testing::TestWithParam<path_case> {};

TEST_P(ChoosePath, FollowsTheDecisionTable) {
    const path_case& c = GetParam();
    int probes = 0;
    const device_path path = choose_path(c.product_id, c.force_dfu, c.enable_kxp, [&] {
        ++probes;
        return c.probe_result;
    });
    EXPECT_EQ(path, c.expected);
    EXPECT_EQ(probes, c.probe_expected ? 1 : 0);
}

constexpr std::uint16_t TOUCH = 0x0102;

const path_case PATH_CASES[] = {
    {"NoDevice", 0, false, false, 0, false, device_path::none},
    {"NoDeviceForced", 0, true, true, 0, false, device_path::none},
    {"Bridge", BRIDGE_PRODUCT_ID, false, false, 0, false, device_path::dfu},
    {"BridgeWithKxp", BRIDGE_PRODUCT_ID, false, true, 0, false, device_path::dfu},
    {"ForcedDfu", TOUCH, true, false, 0, false, device_path::dfu},
    {"ForcedDfuIgnoresKxp", TOUCH, true, true, 0, false, device_path::dfu},
    {"ProbeFailsWithMinusOne", TOUCH, false, false, -1, true, device_path::dfu},
    {"ProbeFailsWithMinusTwo", TOUCH, false, true, -2, true, device_path::dfu},
    {"ProbeAnswers", TOUCH, false, false, 0, true, device_path::hid},
    {"ProbeAnswersWithKxp", TOUCH, false, true, 0, true, device_path::kxp},
    {"DeviceAlreadyInDfuModeIsProbedLikeAnyOther", DFU_PRODUCT_ID, false, false, -1, true,
     device_path::dfu},
};

INSTANTIATE_TEST_SUITE_P(Frontend, ChoosePath, ::testing::ValuesIn(PATH_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BuildDate, DropsTheDayPadding) {
    EXPECT_EQ(banner_date("Jan  5 2025"), "Jan 5 2025");
    EXPECT_EQ(banner_date("Dec 25 2024"), "Dec 25 2024");
}

TEST(BuildDate, HasTheBannerForm) {
    EXPECT_TRUE(std::regex_match(build_date(), std::regex("[A-Z][a-z]{2} [1-9][0-9]? [0-9]{4}")))
        << build_date();
}

}  // namespace
