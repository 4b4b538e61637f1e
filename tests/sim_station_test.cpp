// Runs on several simulated devices in one process, end to end through the
// tool's entry point: each worker talks to its own device as fully as a run
// alone would, and a station's workers and its own thread share the
// platform and the console safely (the tsan preset runs these under
// ThreadSanitizer).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "report/console_reporter.h"
#include "report/shared_console.h"
#include "sim/sim_entry.h"

namespace {

int run_sim(std::vector<std::string> words, console_capture& captured) {
    std::vector<char*> argv{const_cast<char*>("flash-tool-sim")};
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const console_sink sink = captured.sink();
    return sim::sim_main(static_cast<int>(argv.size() - 1), argv.data(), nullptr, nullptr, &sink);
}

// Per device ("worker", "" outside a worker): how many records of `op` the
// trace holds whose text has `also`.
std::map<std::string, int> count_records(const std::string& path, const std::string& op, const std::string& also) {
    std::map<std::string, int> counts;
    std::ifstream trace(path);
    for (std::string line; std::getline(trace, line);) {
        if (line.find("\"op\":\"" + op + "\"") == std::string::npos || line.find(also) == std::string::npos) continue;
        std::string worker;
        if (const auto at = line.find("\"worker\":\""); at != std::string::npos)
            worker = line.substr(at + 10, line.find('"', at + 10) - at - 10);
        ++counts[worker];
    }
    return counts;
}

std::string trace_path(const char* name) {
    return (std::filesystem::temp_directory_path() / (std::string("ft_station_") + name + ".jsonl")).string();
}

// A feature report set, and a DFU DNLOAD (class request 1 to the interface).
constexpr const char* IMAGE_REPORT = "set_feature";
constexpr const char* DNLOAD_SETUP = "\"setup\":\"2101";

TEST(Station, AllUpgradesEachDeviceAsFullyAsARunAlone) {
    console_capture alone;
    const std::string touch_alone = trace_path("touch");
    ASSERT_EQ(run_sim({"-n", "--sim-trace=" + touch_alone}, alone), 0) << alone.both;
    const std::string bridge_alone = trace_path("bridge");
    ASSERT_EQ(run_sim({"-n", "--sim-device=bridge", "--sim-trace=" + bridge_alone}, alone), 0) << alone.both;
    const int reports = count_records(touch_alone, IMAGE_REPORT, "")[""];
    const int dnloads = count_records(bridge_alone, "control", DNLOAD_SETUP)[""];
    ASSERT_GT(reports, 3000);
    ASSERT_GT(dnloads, 200);

    console_capture all;
    const std::string together = trace_path("all");
    ASSERT_EQ(run_sim({"-n", "--all", "--sim-device=touch", "--sim-device=touch", "--sim-set", "touch.serial=TC0002",
                       "--sim-device=bridge", "--sim-trace=" + together},
                      all),
              0)
        << all.both;
    const std::map<std::string, int> by_device = count_records(together, IMAGE_REPORT, "");
    EXPECT_EQ(by_device.at("1-1"), reports);
    EXPECT_EQ(by_device.at("1-2"), reports);
    EXPECT_FALSE(by_device.contains(""));  // every device call of the run is a worker's
    EXPECT_EQ(count_records(together, "control", DNLOAD_SETUP).at("1-3"), dnloads);
    for (const std::string& path : {touch_alone, bridge_alone, together}) std::remove(path.c_str());
}

TEST(Station, TwoDevicesPluggedInAtDifferentTimes) {
    console_capture captured;
    EXPECT_EQ(run_sim({"-n", "--station", "--count", "2", "--sim-device=touch", "--sim-device=touch", "--sim-set",
                       "touch.serial=TC0002", "--sim-set", "usb.arrive_ms=4000"},
                      captured),
              0)
        << captured.both;
    EXPECT_NE(captured.out.find("Station: 2 upgraded, 0 failed.\n"), std::string::npos) << captured.out;
    EXPECT_NE(captured.out.find("[TC0002] Finished: OK"), std::string::npos) << captured.out;
}

}  // namespace

namespace {

TEST(Station, SharedConsoleKeepsEachLineWhole) {
    console_capture captured;
    shared_console console(captured.sink());
    const auto write_lines = [&](const std::string& prefix) {
        const console_sink sink = console.sink(prefix);
        // Each line in three pieces, as the progress dots come.
        for (int i = 0; i < 300; ++i) {
            sink.out("Transfer ");
            sink.out("image: ...");
            sink.out(".\n");
        }
    };
    std::thread first(write_lines, "[A] ");
    std::thread second(write_lines, "[B] ");
    first.join();
    second.join();
    std::istringstream lines(captured.out);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        ASSERT_TRUE(line == "[A] Transfer image: ...." || line == "[B] Transfer image: ....") << line;
    EXPECT_EQ(count, 600);
}

}  // namespace
