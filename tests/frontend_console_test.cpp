#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "frontend/console.h"

namespace {

// Runs `action` from the start of a line and returns what it printed.
std::string captured(void (*action)()) {
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
    console_log("line end\n");
    std::fflush(stdout);
    ::testing::internal::GetCapturedStdout();
    ::testing::internal::CaptureStdout();
    action();
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

struct log_case {
    const char* name;
    void (*calls)();
    const char* expected;
};

const log_case LOG_CASES[] = {
    {"OneLine", [] { console_log("* Initialize     [OK]\n"); }, "LOG:* Initialize     [OK]\n"},
    {"LineBuiltFromTwoCallsHasOnePrefix",
     [] {
         console_log("* Initialize     ");
         console_log("[OK]\n");
     },
     "LOG:* Initialize     [OK]\n"},
    {"ErrorInsideALogLineKeepsTheLineOpen",
     [] {
         console_log("* Transfer image ");
         console_error("[FAIL %d]\n", 5);
         console_log("next\n");
         console_log("after\n");
     },
     "LOG:* Transfer image ERROR:[FAIL 5]\nnext\nLOG:after\n"},
    {"ErrorIsAlwaysPrefixed",
     [] {
         console_error("a");
         console_error("b\n");
     },
     "ERROR:aERROR:b\n"},
    {"FormatTextDecidesNotTheFormattedOutput",
     [] {
         console_log("%s", "ends in a break\n");
         console_log("no prefix\n");
         console_log("prefix again\n");
     },
     "LOG:ends in a break\nno prefix\nLOG:prefix again\n"},
    {"FormatsArguments",
     [] { console_log("%d/%s/%02x\n", 7, "x", 10); },
     "LOG:7/x/0a\n"},
    {"EmptyFormatPrintsNothingAndKeepsTheState",
     [] {
         // Through a pointer, which carries no format check: GCC refuses an
         // empty format literal, clang a format that is not a literal.
         int (*const log)(const char*, ...) = console_log;
         console_log("open ");
         log("");
         console_log("closed\n");
         log("");
         console_log("fresh\n");
     },
     "LOG:open closed\nLOG:fresh\n"},
    {"SilentPrinterPrintsNothing",
     [] {
         log_silent("anything %d\n", 1);
         console_log("x\n");
     },
     "LOG:x\n"},
};

class ConsoleLog : public ::testing::TestWithParam<log_case> {};

TEST_P(ConsoleLog, PrefixesOncePerLine) {
    EXPECT_EQ(captured(GetParam().calls), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Frontend, ConsoleLog, ::testing::ValuesIn(LOG_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ConsolePrinters, ReturnZero) {
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
    const std::vector<int> results = {console_log("a\n"), console_error("b\n"), log_silent("c")};
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(results, (std::vector<int>{0, 0, 0}));
}

TEST(ReportBanners, NonInteractiveRunsPrintTheBannerAndReturnTheExitStatus) {
    const bool non_interactive = true;
    int status = -1;
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
    status = report_success(&non_interactive);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "*************************\n"
              "* Operations succeeded! *\n"
              "*************************\n\n");
    EXPECT_EQ(status, 0);

    ::testing::internal::CaptureStdout();
    status = report_failure(&non_interactive);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "*********************************************************\n"
              "* Operations failed! Please retry or call tech support. *\n"
              "*********************************************************\n\n");
    EXPECT_EQ(status, 1);
}

}  // namespace
