#include "sim/sim_entry.h"

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frontend/frontend.h"
#include "frontend/options.h"
#include "platform/interrupt.h"
#include "frontend/tool_version.h"
#include "platform/platform.h"
#include "platform/trace.h"
#include "platform/trace_console.h"
#include "sim/device_registry.h"
#include "sim/replay_platform.h"
#include "sim/sim_options.h"
#include "sim/sim_platform.h"

namespace sim {
namespace {

// The simulator's own failures: bad --sim-* options, an unreadable
// recording, a run that differs from its recording.
constexpr int EXIT_SIMULATOR = 2;

// Ends the run at the first difference from the recording: what the tool
// printed so far stays, then the difference.
[[noreturn]] void stop_replay(const ReplayDifference& difference) {
    std::fflush(stdout);
    std::fprintf(stderr, "flash-tool-sim: %s", replay_difference_text(difference).c_str());
    std::exit(EXIT_SIMULATOR);
}

// Whether the tool's options ask for a run on several devices at once. Read
// from a copy: the parser reorders what it reads.
bool runs_on_many_devices(const std::vector<char*>& args) {
    std::vector<char*> copy = args;
    copy.push_back(nullptr);
    run_options tool;
    parse_options(static_cast<int>(args.size()), copy.data(), tool, option_set::standard, true);
    return tool.all || tool.station;
}

}  // namespace

int sim_main(int argc, char** argv, SimRunReport* report, const SimRunLimits* limits, const console_sink* console_text) {
    const std::vector<char*> command_line(argv, argv + argc);
    std::vector<char*> args(argv, argv + argc);
    SimOptions options;
    std::string error;
    if (!sim_take_options(args, options, error)) {
        std::fprintf(stderr, "flash-tool-sim: %s\n", error.c_str());
        return EXIT_SIMULATOR;
    }
    if (options.help) {
        std::fputs(sim_help_text().c_str(), stdout);
        return 0;
    }

    Clock clock;
    SimPlatform simulator(clock, options.realtime);
    if (!options.ctrl_c_at.empty()) simulator.at_base_time(options.ctrl_c_at, platform::interrupt_now);
    // A run on several devices at once gives each device its own time; one
    // device's run keeps the one clock of the bus, as its traces show it.
    const bool device_timelines = runs_on_many_devices(args);
    std::deque<Clock> timelines;
    std::optional<ReplayPlatform> replay;
    platform::Platform* devices = &simulator;
    std::vector<std::shared_ptr<UsbDeviceModel>> models;
    if (options.replay_file) {
        std::vector<ReplayCall> calls;
        if (!replay_read_file(*options.replay_file, calls, error)) {
            std::fprintf(stderr, "flash-tool-sim: %s\n", error.c_str());
            return EXIT_SIMULATOR;
        }
        replay.emplace(std::move(calls));
        replay->on_difference(stop_replay);
        devices = &*replay;
    } else {
        std::vector<SimConfig> configs{options.config};
        configs.insert(configs.end(), options.more_devices.begin(), options.more_devices.end());
        for (const SimConfig& config : configs) {
            Clock* timeline = device_timelines ? &timelines.emplace_back() : nullptr;
            for (auto& model : find_device_kind(config.device)->make(config, timeline ? *timeline : clock)) {
                simulator.attach(model, config.location, config.port, timeline);
                models.push_back(model);
            }
        }
    }

    // An unplug fault takes the simulated devices off the bus; a recording
    // has no bus, so there every call from then on fails instead.
    std::function<void()> unplug;
    if (!replay) {
        unplug = [&] {
            for (const auto& model : models) simulator.detach(model);
        };
    }
    FaultPlatform faults(*devices, options.fault.value_or(FaultPlan{}), std::move(unplug));
    if (limits != nullptr) {
        faults.set_limits(limits->limits, limits->on_runaway);
        faults.on_fault(limits->on_fault);
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
        trace.emplace(faults, trace_out);
        console.emplace(*trace);
        trace->record_start(tool_version(), command_line, platform::trace_wall_clock_now());
    }
    // The tool sees the recording decorator when there is one, else the faults.
    platform::Platform& os = trace ? static_cast<platform::Platform&>(*trace) : faults;

    args.push_back(nullptr);
    const int status = frontend_main(os, static_cast<int>(args.size() - 1), args.data(), option_set::standard, console_text);
    if (replay) replay->finish();  // a difference ends the process here
    if (trace) trace->record_exit(status);
    console.reset();
    if (report != nullptr) *report = {faults.calls(), faults.injected(), faults.runaway(), clock.now(), faults.call_log()};
    return status;
}

}  // namespace sim
