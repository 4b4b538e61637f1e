#include <gtest/gtest.h>

#include "wait_dots.h"

namespace {

struct dots_case {
    const char* name;
    const char* text;
    const char* expected;
};

class CollapseWaitDots : public testing::TestWithParam<dots_case> {};

TEST_P(CollapseWaitDots, EvensOutOnlyWaitLines) {
    EXPECT_EQ(collapse_wait_dots(GetParam().text), GetParam().expected);
}

const dots_case DOTS_CASES[] = {
    {"DeviceWaitRun", "Waiting for Korvix device to appear........... [OK - 2f5a:0001]\n",
     "Waiting for Korvix device to appear. [OK - 2f5a:0001]\n"},
    {"DeviceWaitSingleDotKept", "Waiting for Korvix device to appear. [OK - 2f5a:800e v0100]\n",
     "Waiting for Korvix device to appear. [OK - 2f5a:800e v0100]\n"},
    {"ProgramImageRun", "LOG:* Program image  .....[OK]\n", "LOG:* Program image  .[OK]\n"},
    {"ProgramImageWithoutDotsStaysWithout", "LOG:* Program image  [OK]\n", "LOG:* Program image  [OK]\n"},
    {"BootWaitRun", "* Wait for boot  ...[OK - 2f5a:0001]\n", "* Wait for boot  .[OK - 2f5a:0001]\n"},
    {"ProgressBarUntouched", "Transfer image: ..........\nFlashing: ..........\n",
     "Transfer image: ..........\nFlashing: ..........\n"},
    {"WaitTextInsideALineIsNoWaitLine", "x Waiting for Korvix device to appear...\n",
     "x Waiting for Korvix device to appear...\n"},
    {"OnlyTheWaitLineOfSeveral",
     "Flashing: ..........\nWaiting for Korvix device to appear.... [FAIL]\nDone...\n",
     "Flashing: ..........\nWaiting for Korvix device to appear. [FAIL]\nDone...\n"},
    {"LastLineWithoutBreak", "a..\nWaiting for Korvix device to appear...", "a..\nWaiting for Korvix device to appear."},
    {"Empty", "", ""},
};

INSTANTIATE_TEST_SUITE_P(Table, CollapseWaitDots, testing::ValuesIn(DOTS_CASES),
                         [](const testing::TestParamInfo<dots_case>& info) { return info.param.name; });

}  // namespace
