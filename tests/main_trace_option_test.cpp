#include "main/trace_option.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct TraceCase {
    const char* name;
    std::vector<std::string> argv;
    std::optional<std::string> file;
    bool missing_file;
    std::vector<std::string> rest;
};

class TakeTraceOption : public testing::TestWithParam<TraceCase> {};

TEST_P(TakeTraceOption, LeavesTheToolItsOwnArguments) {
    std::vector<std::string> storage = GetParam().argv;
    std::vector<char*> argv;
    for (std::string& argument : storage) argv.push_back(argument.data());
    argv.push_back(nullptr);

    const trace_option result = take_trace_option(static_cast<int>(storage.size()), argv.data());
    EXPECT_EQ(result.file, GetParam().file);
    EXPECT_EQ(result.missing_file, GetParam().missing_file);
    if (GetParam().missing_file) return;
    ASSERT_FALSE(result.arguments.empty());
    EXPECT_EQ(result.arguments.back(), nullptr);
    std::vector<std::string> rest;
    for (std::size_t i = 0; i + 1 < result.arguments.size(); ++i) rest.emplace_back(result.arguments[i]);
    EXPECT_EQ(rest, GetParam().rest);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, TakeTraceOption,
    testing::Values(
        TraceCase{"none", {"ft", "-n", "-r"}, std::nullopt, false, {"ft", "-n", "-r"}},
        TraceCase{"separate_value", {"ft", "--trace", "t.jsonl", "-n"}, "t.jsonl", false, {"ft", "-n"}},
        TraceCase{"joined_value", {"ft", "-n", "--trace=t.jsonl"}, "t.jsonl", false, {"ft", "-n"}},
        TraceCase{"last_one_wins", {"ft", "--trace=a", "--trace", "b"}, "b", false, {"ft"}},
        TraceCase{"value_looks_like_option", {"ft", "--trace", "-n"}, "-n", false, {"ft"}},
        TraceCase{"missing_value", {"ft", "-n", "--trace"}, std::nullopt, true, {}},
        TraceCase{"program_name_untouched", {"--trace", "-n"}, std::nullopt, false, {"--trace", "-n"}},
        TraceCase{"after_terminator", {"ft", "--", "--trace", "x"}, std::nullopt, false, {"ft", "--", "--trace", "x"}},
        TraceCase{"image_named_like_the_option", {"ft", "-i", "--trace", "--trace=t"}, "t", false,
                  {"ft", "-i", "--trace"}},
        TraceCase{"serial_in_a_cluster", {"ft", "-nS", "--trace", "--trace", "t"}, "t", false,
                  {"ft", "-nS", "--trace"}},
        TraceCase{"serial_joined_to_its_option", {"ft", "-S--trace", "--trace", "t"}, "t", false,
                  {"ft", "-S--trace"}},
        TraceCase{"long_option_prefix", {"ft", "--ima", "--trace", "--serial_number=x", "--trace", "t"}, "t", false,
                  {"ft", "--ima", "--trace", "--serial_number=x"}},
        TraceCase{"value_option_last", {"ft", "-n", "-i"}, std::nullopt, false, {"ft", "-n", "-i"}},
        TraceCase{"other_long_options_kept", {"ft", "--tracer", "--image", "f"}, std::nullopt, false,
                  {"ft", "--tracer", "--image", "f"}}),
    [](const testing::TestParamInfo<TraceCase>& info) { return std::string(info.param.name); });

}  // namespace
