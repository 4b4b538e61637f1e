#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "frontend/options.h"

namespace {

// Builds a mutable argv (getopt may permute it) from string literals.
struct argv_builder {
    std::vector<std::string> storage;
    std::vector<char*> pointers;

    explicit argv_builder(std::vector<std::string> args) : storage(std::move(args)) {
        for (auto& arg : storage) pointers.push_back(arg.data());
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(storage.size()); }
    char** argv() { return pointers.data(); }
};

struct parse_case {
    const char* name;
    std::vector<std::string> args;
    parse_outcome outcome;
    run_options expected;
    option_set set = option_set::standard;
};

run_options with(void (*change)(run_options&)) {
    run_options options;
    change(options);
    return options;
}

std::string serial_text(const run_options& options) {
    return options.serial ? std::string(*options.serial) : std::string("<none>");
}

std::string image_text(const run_options& options) {
    return options.image_path ? std::string(options.image_path) : std::string("<none>");
}

std::string trace_text(const run_options& options) {
    return options.trace_path ? std::string(options.trace_path) : std::string("<none>");
}

class ParseOptions : public ::testing::TestWithParam<parse_case> {};

TEST_P(ParseOptions, FillsTheRecordAndStopsWhereItShould) {
    const parse_case& c = GetParam();
    argv_builder args(c.args);
    run_options options;
    EXPECT_EQ(parse_options(args.argc(), args.argv(), options, c.set), c.outcome);
    EXPECT_EQ(image_text(options), image_text(c.expected));
    EXPECT_EQ(trace_text(options), trace_text(c.expected));
    EXPECT_EQ(options.read_info, c.expected.read_info);
    EXPECT_EQ(options.non_interactive, c.expected.non_interactive);
    EXPECT_EQ(options.force_dfu, c.expected.force_dfu);
    EXPECT_EQ(options.enable_kxp, c.expected.enable_kxp);
    EXPECT_EQ(options.reset, c.expected.reset);
    EXPECT_EQ(options.restart_after_upgrade, c.expected.restart_after_upgrade);
    EXPECT_EQ(serial_text(options), serial_text(c.expected));
    EXPECT_EQ(options.all, c.expected.all);
    EXPECT_EQ(options.station, c.expected.station);
    EXPECT_EQ(options.count, c.expected.count);
    EXPECT_EQ(options.idle_seconds, c.expected.idle_seconds);
}

const parse_case PARSE_CASES[] = {
    {"NoOptions", {"tool"}, parse_outcome::run, run_options{}},
    {"EveryFlagShort",
     {"tool", "-r", "-d", "-f", "-R", "-s", "-n"},
     parse_outcome::run,
     with([](run_options& o) {
         o.read_info = o.force_dfu = o.enable_kxp = o.reset = o.non_interactive = true;
         o.restart_after_upgrade = false;
     })},
    {"ClusteredShortFlags",
     {"tool", "-rsn"},
     parse_outcome::run,
     with([](run_options& o) {
         o.read_info = o.non_interactive = true;
         o.restart_after_upgrade = false;
     })},
    {"EveryFlagLong",
     {"tool", "--read_info", "--force_dfu", "--enable_kxp", "--reset", "--skip_reset",
      "--non_interactive"},
     parse_outcome::run,
     with([](run_options& o) {
         o.read_info = o.force_dfu = o.enable_kxp = o.reset = o.non_interactive = true;
         o.restart_after_upgrade = false;
     })},
    {"ImageAndSerialShort",
     {"tool", "-i", "fw.dfu", "-S", "A123"},
     parse_outcome::run,
     with([](run_options& o) {
         o.image_path = "fw.dfu";
         o.serial = "A123";
     })},
    {"ImageAndSerialAttached",
     {"tool", "-ifw.dfu", "-SA123"},
     parse_outcome::run,
     with([](run_options& o) {
         o.image_path = "fw.dfu";
         o.serial = "A123";
     })},
    {"ImageAndSerialLongWithEquals",
     {"tool", "--image=fw.dfu", "--serial_number=A123"},
     parse_outcome::run,
     with([](run_options& o) {
         o.image_path = "fw.dfu";
         o.serial = "A123";
     })},
    {"LastImageAndSerialWin",
     {"tool", "-i", "a.dfu", "--image", "b.dfu", "-S", "1", "-S", "2"},
     parse_outcome::run,
     with([](run_options& o) {
         o.image_path = "b.dfu";
         o.serial = "2";
     })},
    {"NonOptionArgumentsAreRefused",
     {"tool", "stray", "-n", "another"},
     parse_outcome::bad,
     with([](run_options& o) { o.non_interactive = true; })},
    {"HelpStopsBeforeLaterOptions",
     {"tool", "-h", "-n"},
     parse_outcome::help,
     run_options{}},
    {"OptionsBeforeHelpTakeEffect",
     {"tool", "-n", "--help", "-r"},
     parse_outcome::help,
     with([](run_options& o) { o.non_interactive = true; })},
    {"UnknownOptionAfterNonInteractive",
     {"tool", "-n", "-x", "-r"},
     parse_outcome::bad,
     with([](run_options& o) { o.non_interactive = true; })},
    {"UnknownLongOption", {"tool", "--bogus"}, parse_outcome::bad, run_options{}},
    {"MissingImageArgument",
     {"tool", "-r", "-i"},
     parse_outcome::bad,
     with([](run_options& o) { o.read_info = true; })},
    {"MissingSerialArgumentLong", {"tool", "--serial_number"}, parse_outcome::bad, run_options{}},
    {"TraceOfTheRealTool", {"tool", "--trace", "t.jsonl", "-n"}, parse_outcome::run,
     with([](run_options& o) {
         o.trace_path = "t.jsonl";
         o.non_interactive = true;
     }),
     option_set::with_trace},
    {"TraceByPrefix", {"tool", "--tr", "a", "--tra=b"}, parse_outcome::run,
     with([](run_options& o) { o.trace_path = "b"; }), option_set::with_trace},
    {"TraceNamedLikeAnOption", {"tool", "-i", "--trace", "--trace", "-n"}, parse_outcome::run,
     with([](run_options& o) {
         o.image_path = "--trace";
         o.trace_path = "-n";
     }),
     option_set::with_trace},
    {"TraceWithoutFile", {"tool", "-n", "--trace"}, parse_outcome::bad,
     with([](run_options& o) { o.non_interactive = true; }), option_set::with_trace},
    {"NoTraceInTheSimulator", {"tool", "--trace", "t.jsonl"}, parse_outcome::bad, run_options{}},
    {"StationWithBothEnds", {"tool", "--station", "--count", "2", "--idle=30"}, parse_outcome::run,
     with([](run_options& o) {
         o.station = true;
         o.count = 2;
         o.idle_seconds = 30;
     })},
    {"AllWithASerial", {"tool", "--all", "-S", "A1"}, parse_outcome::bad,
     with([](run_options& o) {
         o.all = true;
         o.serial = "A1";
     })},
    {"StationWithAPath", {"tool", "--station", "-p", "1-1"}, parse_outcome::bad,
     with([](run_options& o) { o.station = true; })},
    {"CountWithoutStation", {"tool", "--all", "--count", "2"}, parse_outcome::bad,
     with([](run_options& o) {
         o.all = true;
         o.count = 2;
     })},
    {"CountOfZero", {"tool", "--station", "--count", "0"}, parse_outcome::bad,
     with([](run_options& o) { o.station = true; })},
    {"IdleNotANumber", {"tool", "--station", "--idle", "30s"}, parse_outcome::bad,
     with([](run_options& o) { o.station = true; })},
};

INSTANTIATE_TEST_SUITE_P(Frontend, ParseOptions, ::testing::ValuesIn(PARSE_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ParseOptionsRepeated, EachCallStartsAFreshScan) {
    // A scan left halfway through a cluster ("-hn" stops at h) must not leak
    // into the next parse.
    argv_builder first({"tool", "-hn"});
    run_options first_options;
    ASSERT_EQ(parse_options(first.argc(), first.argv(), first_options), parse_outcome::help);
    EXPECT_FALSE(first_options.non_interactive);

    argv_builder second({"tool", "-r"});
    run_options second_options;
    EXPECT_EQ(parse_options(second.argc(), second.argv(), second_options), parse_outcome::run);
    EXPECT_TRUE(second_options.read_info);
    EXPECT_FALSE(second_options.non_interactive);
}

TEST(ParseOptionsDiagnostic, BadOptionIsExplainedOnStandardError) {
    argv_builder args({"flash-tool", "-x"});
    run_options options;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(parse_options(args.argc(), args.argv(), options), parse_outcome::bad);
    const std::string diagnostic = ::testing::internal::GetCapturedStderr();
#ifndef _WIN32
    // mingw's getopt names the running executable's path instead of argv[0].
    EXPECT_NE(diagnostic.find("flash-tool"), std::string::npos) << diagnostic;
#endif
    EXPECT_NE(diagnostic.find('x'), std::string::npos) << diagnostic;
}

std::string usage_text(option_set set) { return usage_text("./flash-tool", set); }

TEST(PrintUsage, NamesTheProgramAndEveryOption) {
    const std::string text = usage_text(option_set::standard);
    EXPECT_EQ(text.rfind("Bad arguments. Usage is ./flash-tool [-r]\n"
                         "Without options performs a firmware upgrade with the internal binary.\n\n",
                         0),
              0u);
    for (const char* option : {"-i/--image <dfu_image>", "-r/--read_info", "-d/--force_dfu",
                               "-f/--enable_kxp", "-R/--reset", "-s/--skip_reset",
                               "-n/--non_interactive", "-S/--serial_number <serial>", "-p/--path <location>", "-l/--list", "-h/--help", "-V/--version", "--json",
                               "--all", "--station", "--count <n>", "--idle <seconds>"}) {
        EXPECT_NE(text.find(std::string("  ") + option), std::string::npos) << option;
    }
    EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 23);
    EXPECT_EQ(text.find("--trace"), std::string::npos);
    // The simulator's text names --sim-help last; the real tool's has --trace
    // there instead.
    const std::string sim_help = "  --sim-help              Lists the simulator's options, devices and knobs.\n\n";
    ASSERT_EQ(text.substr(text.size() - sim_help.size()), sim_help);
    EXPECT_EQ(usage_text(option_set::with_trace),
              text.substr(0, text.size() - sim_help.size()) +
                  "  --trace <file>          Records the run in <file> for support.\n\n");
}

}  // namespace
