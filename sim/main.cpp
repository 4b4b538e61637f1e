// flash-tool-sim: the tool's front end over the simulator. The --sim-*
// options choose and shape the simulated devices; everything else goes to
// the tool unchanged. With --sim-replay a recorded trace stands in for the
// devices.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frontend/frontend.h"
#include "frontend/tool_version.h"
#include "platform/platform.h"
#include "platform/trace.h"
#include "platform/trace_console.h"
#include "sim/device_registry.h"
#include "sim/replay_platform.h"
#include "sim/sim_options.h"
#include "sim/sim_platform.h"

namespace {

// The simulator's own failures: bad --sim-* options, an unreadable
// recording, a run that differs from its recording.
constexpr int EXIT_SIMULATOR = 2;

// Ends the run at the first difference from the recording: what the tool
// printed so far stays, then the difference.
[[noreturn]] void stop_replay(const sim::ReplayDifference& difference) {
    std::fflush(stdout);
    std::fprintf(stderr, "flash-tool-sim: %s", sim::replay_difference_text(difference).c_str());
    std::exit(EXIT_SIMULATOR);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<char*> command_line(argv, argv + argc);
    std::vector<char*> args(argv, argv + argc);
    sim::SimOptions options;
    std::string error;
    if (!sim::sim_take_options(args, options, error)) {
        std::fprintf(stderr, "flash-tool-sim: %s\n", error.c_str());
        return EXIT_SIMULATOR;
    }
    if (options.help) {
        std::fputs(sim::sim_help_text().c_str(), stdout);
        return 0;
    }

    sim::Clock clock;
    sim::SimPlatform simulator(clock, options.realtime);
    std::optional<sim::ReplayPlatform> replay;
    platform::Platform* devices = &simulator;
    if (options.replay_file) {
        std::vector<sim::ReplayCall> calls;
        if (!sim::replay_read_file(*options.replay_file, calls, error)) {
            std::fprintf(stderr, "flash-tool-sim: %s\n", error.c_str());
            return EXIT_SIMULATOR;
        }
        replay.emplace(std::move(calls));
        replay->on_difference(stop_replay);
        devices = &*replay;
    } else {
        std::vector<sim::SimConfig> configs{options.config};
        configs.insert(configs.end(), options.more_devices.begin(), options.more_devices.end());
        for (const sim::SimConfig& config : configs)
            for (auto& model : sim::find_device_kind(config.device)->make(config, clock))
                simulator.attach(model, config.location);
    }

    std::ofstream trace_out;
    std::optional<platform::TracePlatform> trace;
    std::optional<platform::TraceConsole> console;
    if (options.trace_file) {
        trace_out.open(*options.trace_file, std::ios::out | std::ios::trunc);
        if (!trace_out) {
            std::fprintf(stderr, "flash-tool-sim: cannot write trace file %s\n", options.trace_file->c_str());
            return EXIT_SIMULATOR;
        }
        trace.emplace(*devices, trace_out);
        console.emplace(*trace);
        trace->record_start(tool_version(), command_line, platform::trace_wall_clock_now());
        platform::install(&*trace);
    } else {
        platform::install(devices);
    }

    args.push_back(nullptr);
    const int status = frontend_main(static_cast<int>(args.size() - 1), args.data());
    if (replay) replay->finish();  // a difference ends the process here
    if (trace) trace->record_exit(status);
    console.reset();
    platform::install(nullptr);
    return status;
}
