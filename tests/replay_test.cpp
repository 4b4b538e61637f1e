#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "frontend/frontend.h"
#include "platform/trace.h"
#include "sim/device_registry.h"
#include "sim/replay_platform.h"
#include "sim/sim_options.h"
#include "sim/sim_platform.h"
#include "sim/trace_record.h"

namespace {

struct ToolRun {
    int status = 0;
    std::string trace;  // what a trace decorator over the platform wrote
};

// Runs the tool in-process over `devices` with the tool's words of `args`.
// Its console output is not compared here: the progress dots and the log
// prefix keep state for the one run of a process (the recordings' transcripts
// compare the console output of a replay byte for byte).
ToolRun run_tool(platform::Platform& devices, std::vector<char*> args) {
    ToolRun run;
    std::ostringstream trace_text;
    platform::TracePlatform trace(devices, trace_text);
    args.push_back(nullptr);
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    run.status = frontend_main(trace, static_cast<int>(args.size() - 1), args.data());
    std::fflush(stdout);
    testing::internal::GetCapturedStdout();
    run.trace = trace_text.str();
    return run;
}

// A command line of flash-tool-sim, with its --sim-* words.
struct CommandLine {
    std::vector<std::string> words;
    std::vector<char*> args() {
        std::vector<char*> args;
        for (auto& word : words) args.push_back(word.data());
        return args;
    }
};

// Records a run of the simulated devices the command line names; the tool's
// words, left in `tool_args`, point into `command`.
ToolRun record(CommandLine& command, std::vector<char*>& tool_args) {
    tool_args = command.args();
    sim::SimOptions options;
    std::string error;
    EXPECT_TRUE(sim::sim_take_options(tool_args, options, error)) << error;
    sim::Clock clock;
    sim::SimPlatform simulator(clock);
    for (auto& model : sim::find_device_kind(options.config.device)->make(options.config, clock)) simulator.attach(model);
    return run_tool(simulator, tool_args);
}

sim::ReplayPlatform replayer(const std::string& recording) {
    std::vector<sim::ReplayCall> calls;
    std::string error;
    EXPECT_TRUE(sim::replay_parse(recording, calls, error)) << error;
    return sim::ReplayPlatform(std::move(calls));
}

class ReplayOfARecordedRun : public testing::TestWithParam<const char*> {};

// The replay answers as the devices did: the same exit status and calls
// (times included), and nothing of the recording is left over.
TEST_P(ReplayOfARecordedRun, ReproducesTheRun) {
    std::istringstream words(GetParam());
    CommandLine command{{"flash-tool-sim"}};
    for (std::string word; words >> word;) command.words.push_back(word);
    std::vector<char*> tool_args;
    const ToolRun recorded = record(command, tool_args);
    sim::ReplayPlatform replay = replayer(recorded.trace);
    const ToolRun replayed = run_tool(replay, tool_args);
    EXPECT_TRUE(replay.finish()) << sim::replay_difference_text(*replay.difference());
    EXPECT_EQ(replayed.status, recorded.status);
    EXPECT_EQ(replayed.trace, recorded.trace);
}

INSTANTIATE_TEST_SUITE_P(Paths, ReplayOfARecordedRun,
                         testing::Values("-n", "-n -r", "-n -R", "-n -f", "-n --sim-device=bridge", "-n -d",
                                         "-n --sim-set native.flash_status=5",
                                         "-n -f --sim-set kxp.silent_after=20"));

// The -R run's recording, changed in one place.
struct Edited {
    std::string recording;
    std::size_t call = 0;  // where the replay must stop; 0: it must match
};

// Replaces the first (or last) `from` and names the call of its line.
Edited replace(const std::string& text, const std::string& from, const std::string& to, bool last = false) {
    const auto at = last ? text.rfind(from) : text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at == std::string::npos) return {text, 0};
    const auto line = static_cast<std::size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), '\n')) + 1;
    return {std::string(text).replace(at, from.size(), to), line};
}

std::size_t lines(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

struct Change {
    const char* name;
    Edited (*edit)(const std::string& recording);
    const char* what;  // empty: the replay must match
};

const Change CHANGES[] = {
    // The restart command (set_feature 0xFF 0x04) recorded as another command.
    {"DataWritten", [](const std::string& r) { return replace(r, R"("data":"ff04)", R"("data":"ff05)"); },
     R"("data" differs from byte 1)"},
    {"Operation", [](const std::string& r) { return replace(r, R"("op":"hid_close")", R"("op":"close")", true); },
     "the operation differs"},
    {"Device", [](const std::string& r) { return replace(r, R"("op":"hid_caps","dev":)", R"("op":"hid_caps","dev":9)"); },
     R"("dev" differs)"},
    {"RecordingEnds",
     [](const std::string& r) { return Edited{r.substr(0, r.rfind('\n', r.size() - 2) + 1), lines(r)}; },
     "the recording ends"},
    {"RunEndsFirst",
     [](const std::string& r) { return Edited{r + R"({"t":9,"op":"sleep","ok":true,"ms":3})" "\n", lines(r) + 1}; },
     "the run ended"},
    // Records that are not platform calls are skipped wherever they stand.
    {"OtherRecordsSkipped",
     [](const std::string& r) {
         const Edited console = replace(r, "\n", "\n" R"({"t":0,"op":"console","stream":"stdout","text":"* \u0041"})" "\n");
         return Edited{R"({"version":"1.0","argv":["-n","-R"],"start":{"wall":"x"}})" "\n" + console.recording +
                           R"({"exit":0})" "\n",
                       0};
     },
     ""},
};

class ReplayOfAChangedRecording : public testing::TestWithParam<Change> {};

TEST_P(ReplayOfAChangedRecording, StopsAtTheFirstDifference) {
    CommandLine command{{"flash-tool-sim", "-n", "-R"}};
    std::vector<char*> tool_args;
    const ToolRun recorded = record(command, tool_args);
    const Edited edited = GetParam().edit(recorded.trace);
    sim::ReplayPlatform replay = replayer(edited.recording);
    const ToolRun replayed = run_tool(replay, tool_args);
    const bool matched = replay.finish();
    if (edited.call == 0) {
        EXPECT_TRUE(matched) << sim::replay_difference_text(*replay.difference());
        EXPECT_EQ(replayed.trace, recorded.trace);
        return;
    }
    ASSERT_FALSE(matched);
    EXPECT_EQ(replay.difference()->what, GetParam().what);
    EXPECT_EQ(replay.difference()->call, edited.call);
}

INSTANTIATE_TEST_SUITE_P(Changes, ReplayOfAChangedRecording, testing::ValuesIn(CHANGES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReplayDifference, NamesTheCallWhatWasRecordedAndWhatWasAsked) {
    sim::ReplayPlatform replay = replayer(R"({"t":0,"op":"sleep","ok":true,"ms":500})" "\n");
    replay.sleep_ms(100);
    ASSERT_TRUE(replay.difference());
    EXPECT_EQ(sim::replay_difference_text(*replay.difference()),
              "replay: call 1 differs from the recording (line 1): \"ms\" differs\n"
              "  recorded: sleep ms=500\n"
              "  asked:    sleep ms=100\n");
    // After a difference every call fails; the clock still moves with sleeps.
    std::vector<std::string> names;
    EXPECT_FALSE(replay.usb_device_names(names));
    EXPECT_EQ(replay.now_ms(), 100u);
}

TEST(ReplayRecording, RefusesACallItCannotAnswer) {
    struct Case {
        std::string text, error;
    };
    for (const Case& c : {Case{"{\"t\":0,\"op\":\"names\",\"ok\":true,\"count\":1}", "line 1: names call: no \"names\""},
                          Case{"\n{\"t\":0,\"op\":\"get_feature\",\"dev\":1,\"ok\":true,\"data\":\"ff0\"}",
                               "line 2: get_feature call: \"data\" is not hex bytes"},
                          Case{"{\"t\":0,\"op\":\"sleep\",\"ok\":true,\"ms\":5", "line 1: no ',' or '}' after key \"ms\""},
                          Case{"[1]", "line 1: not a JSON object"}}) {
        std::vector<sim::ReplayCall> calls;
        std::string error;
        EXPECT_FALSE(sim::replay_parse(c.text, calls, error)) << c.text;
        EXPECT_EQ(error, c.error);
    }
}

// Data a recording claims was read must fit the tool's buffer: a longer (or,
// for a feature report, a different) length is a difference, and nothing is
// copied.
TEST(ReplayDifference, RecordedDataMustFitTheBuffer) {
    struct Case {
        std::string record;
        std::size_t buffer;
        bool fits;
    };
    const std::string report(514, 'a');
    for (const Case& c : {Case{R"({"t":0,"op":"get_feature","dev":1,"ok":true,"data":")" + report + "\"}", 257, true},
                          Case{R"({"t":0,"op":"get_feature","dev":1,"ok":true,"data":")" + report + "\"}", 65, false},
                          Case{R"({"t":0,"op":"get_feature","dev":1,"ok":true,"data":")" + report + "\"}", 300, false}}) {
        sim::ReplayPlatform replay = replayer(c.record + "\n");
        std::vector<std::uint8_t> buffer(c.buffer + 1, 0x55);
        EXPECT_EQ(replay.hid_get_feature(1, std::span(buffer).first(c.buffer)), c.fits) << c.buffer;
        EXPECT_EQ(buffer.back(), 0x55);
        EXPECT_EQ(buffer.front(), c.fits ? 0xAA : 0x55);
    }
    sim::ReplayPlatform replay =
        replayer(R"({"t":0,"op":"descriptor","dev":1,"ok":true,"type":1,"index":0,"language":0,"data":"1201000200"})" "\n");
    std::array<std::uint8_t, 4> descriptor{};
    std::size_t got = 0;
    EXPECT_FALSE(replay.usb_get_descriptor(1, 1, 0, 0, descriptor, got));
    EXPECT_EQ(replay.difference()->what, "the recorded call read 5 bytes, the tool's buffer holds 4");
}

// The trace escapes every byte of a name outside printable ASCII; reading a
// record gives the same bytes back. Values the trace does not use are kept
// apart, not taken for numbers or strings.
TEST(TraceRecord, ReadsWhatTheTraceWrites) {
    const std::string name("/dev/hidraw0\x01\xC3\xA9\"\\", 17);
    sim::TraceRecord record;
    std::string error;
    ASSERT_TRUE(sim::trace_parse_record(R"({"dev":)" + platform::trace_quote(name) +
                                            R"(,"n":18446744073709551615,"big":18446744073709551616,"neg":-1,)"
                                            R"("f":1.5e3,"ok":false,"x":null,"l":["a","\u00e9"],"mixed":["a",1],)"
                                            R"("o":{"k":[{}]},"u":"\u20ac"})",
                                        record, error))
        << error;
    using Kind = sim::TraceValue::Kind;
    EXPECT_EQ(record["dev"].text, name);
    EXPECT_EQ(record["n"].number, 18446744073709551615u);
    for (const char* key : {"big", "neg", "f", "mixed", "o"}) EXPECT_EQ(record[key].kind, Kind::other) << key;
    EXPECT_EQ(record["ok"].kind, Kind::boolean);
    EXPECT_EQ(record["x"].kind, Kind::null);
    EXPECT_EQ(record["l"].strings, (std::vector<std::string>{"a", "\xE9"}));
    EXPECT_EQ(record["u"].text, "\xE2\x82\xAC");
    for (const char* bad : {R"({"a":1,})", R"({"a":"\q"})", R"({"a":01x})", "{\"a\":\"\x01\"}", R"({"a":1} x)",
                            R"({"a":[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]})"})
        EXPECT_FALSE(sim::trace_parse_record(bad, record, error)) << bad;
}

}  // namespace
