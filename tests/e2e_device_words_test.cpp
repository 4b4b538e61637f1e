#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_words.h"

namespace {

using words = std::vector<std::string>;

struct parting_case {
    const char* name;
    words args;
    words device;
    words tool;
};

class PartWords : public testing::TestWithParam<parting_case> {};

TEST_P(PartWords, SendsSimulatorWordsToTheDevice) {
    const parted_words parted = part_words(GetParam().args);
    EXPECT_EQ(parted.device, GetParam().device);
    EXPECT_EQ(parted.tool, GetParam().tool);
}

const parting_case PARTING_CASES[] = {
    {"ToolOnly", {"-n", "-r"}, {}, {"-n", "-r"}},
    {"DeviceWithEquals", {"-n", "--sim-device=bridge"}, {"--sim-device=bridge"}, {"-n"}},
    {"SetTakesTheNextWord",
     {"-n", "-S", "TC0002", "--sim-set", "touch.serial=TC0002"},
     {"--sim-set", "touch.serial=TC0002"},
     {"-n", "-S", "TC0002"}},
    {"DeviceTakesTheNextWord", {"--sim-device", "dfu", "-n"}, {"--sim-device", "dfu"}, {"-n"}},
    {"SeveralSetsKeepTheirOrder",
     {"-n", "--sim-set", "a=1", "-f", "--sim-set", "b=2"},
     {"--sim-set", "a=1", "--sim-set", "b=2"},
     {"-n", "-f"}},
    {"ValueLookingLikeAToolOption", {"--sim-set", "-n", "-r"}, {"--sim-set", "-n"}, {"-r"}},
    {"FlagWithoutValue", {"--sim-realtime", "-n"}, {"--sim-realtime"}, {"-n"}},
    {"SetAtTheEndWithoutValue", {"-n", "--sim-set"}, {"--sim-set"}, {"-n"}},
    {"PrefixInsideAWordIsAToolWord", {"-i", "x--sim-set"}, {}, {"-i", "x--sim-set"}},
};

INSTANTIATE_TEST_SUITE_P(Table, PartWords, testing::ValuesIn(PARTING_CASES),
                         [](const testing::TestParamInfo<parting_case>& info) { return info.param.name; });

}  // namespace
