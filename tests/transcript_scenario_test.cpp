#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scenario.h"

namespace {

TEST(ScenarioParse, ReadsEveryKeyAndBothBlocks) {
    std::string error;
    const auto s = parse_scenario(
        "# a comment\n"
        "args: --sim-device=none -n -i \"a file.bin\"\n"
        "stdin: k\\n\n"
        "file: empty.bin\n"
        "file: fw.dfu firmware/builtin.dfu\n"
        "dir: adir\n"
        "exit: 1\n"
        "--- stdout\n"
        "# not a comment here\n"
        "\n"
        "--- stderr\n"
        "oops\n"
        "--- 2>&1\n"
        "oops\n",
        error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->args, (std::vector<std::string>{"--sim-device=none", "-n", "-i", "a file.bin"}));
    ASSERT_TRUE(s->input);
    EXPECT_EQ(*s->input, "k\n");
    ASSERT_EQ(s->files.size(), 3u);
    EXPECT_EQ(s->files[0].name, "empty.bin");
    EXPECT_EQ(s->files[0].source, "");
    EXPECT_EQ(s->files[1].source, "firmware/builtin.dfu");
    EXPECT_TRUE(s->files[2].directory);
    EXPECT_EQ(s->exit_status, 1);
    EXPECT_EQ(s->expected_stdout, "# not a comment here\n\n");
    EXPECT_EQ(s->expected_stderr, "oops\n");
    EXPECT_EQ(s->expected_combined, "oops\n");
}

TEST(ScenarioParse, RefusesIncompleteOrUnknownHeaders) {
    const char* const bad[] = {
        "exit: 0\n--- stdout\n",                  // no args
        "args: -n\n--- stdout\n",                 // no exit
        "args: -n\nexit: 0\n",                    // no stdout block
        "args: -n\nexit: zero\n--- stdout\n",     // exit not a number
        "args: -n\nexit: 0\nwhat: x\n--- stdout\n",  // unknown key
    };
    for (const char* text : bad) {
        std::string error;
        EXPECT_FALSE(parse_scenario(text, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

struct expand_case {
    const char* text;
    const char* expected;
};

TEST(ScenarioExpand, ReplacesPlaceholders) {
    const expand_case cases[] = {
        {"[Build Info: {BUILD_DATE}] *", "[Build Info: Jan 5 2025] *"},
        {"boot  {.*3} [FAIL]", "boot  ... [FAIL]"},
        {"{=*0}|{x*12}", "|xxxxxxxxxxxx"},
        {"{{BUILD_DATE}", "{BUILD_DATE}"},
        {"flash-tool {VERSION}", "flash-tool 1.0.0 (88909cf)"},
        {"{.*} {.*x} {unknown}", "{.*} {.*x} {unknown}"},
        {"trailing {", "trailing {"},
    };
    for (const auto& c : cases) EXPECT_EQ(expand_expected(c.text, {"Jan 5 2025", "1.0.0 (88909cf)"}), c.expected) << c.text;
}

TEST(ScenarioDiff, EqualTextsHaveNoDiff) { EXPECT_EQ(line_diff("a\nb\n", "a\nb\n"), ""); }

TEST(ScenarioDiff, ShowsChangedLinesWithContext) {
    const std::string diff = line_diff("1\n2\n3\n4\n5\n6\n7\n8\n9\n", "1\n2\n3\n4\nfive\n6\n7\n8\n9\n");
    EXPECT_EQ(diff,
              "--- expected\n+++ actual\n@@ entry 2 @@\n 2\n 3\n 4\n-5\n+five\n 6\n 7\n 8\n");
}

TEST(ScenarioDiff, SaysWhenALineBreakIsMissing) {
    const std::string diff = line_diff("end\n", "end");
    EXPECT_NE(diff.find("-end\n"), std::string::npos) << diff;
    EXPECT_NE(diff.find("+end  (no line break)\n"), std::string::npos) << diff;
}

TEST(ScenarioDiff, ReportsExtraAndMissingLines) {
    const std::string diff = line_diff("a\nb\n", "a\nb\nc\n");
    EXPECT_NE(diff.find("+c\n"), std::string::npos) << diff;
    const std::string other = line_diff("a\nb\nc\n", "a\nc\n");
    EXPECT_NE(other.find("-b\n"), std::string::npos) << other;
}

}  // namespace
