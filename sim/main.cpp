// flash-tool-sim: the tool's front end over the simulator. The --sim-*
// options choose and shape the simulated devices; everything else goes to
// the tool unchanged.
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frontend/frontend.h"
#include "platform/platform.h"
#include "platform/trace.h"
#include "sim/device_registry.h"
#include "sim/sim_options.h"
#include "sim/sim_platform.h"

namespace {

constexpr int EXIT_USAGE = 2;

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    sim::SimOptions options;
    std::string error;
    if (!sim::sim_take_options(args, options, error)) {
        std::fprintf(stderr, "flash-tool-sim: %s\n", error.c_str());
        return EXIT_USAGE;
    }
    if (options.help) {
        std::fputs(sim::sim_help_text().c_str(), stdout);
        return 0;
    }

    sim::Clock clock;
    sim::SimPlatform simulator(clock, options.realtime);
    std::vector<sim::SimConfig> devices{options.config};
    devices.insert(devices.end(), options.more_devices.begin(), options.more_devices.end());
    for (const sim::SimConfig& device : devices)
        for (auto& model : sim::find_device_kind(device.device)->make(device, clock)) simulator.attach(model, device.location);

    std::ofstream trace_out;
    std::optional<platform::TracePlatform> trace;
    if (options.trace_file) {
        trace_out.open(*options.trace_file, std::ios::out | std::ios::trunc);
        if (!trace_out) {
            std::fprintf(stderr, "flash-tool-sim: cannot write trace file %s\n", options.trace_file->c_str());
            return EXIT_USAGE;
        }
        trace.emplace(simulator, trace_out);
        platform::install(&*trace);
    } else {
        platform::install(&simulator);
    }

    args.push_back(nullptr);
    const int status = frontend_main(static_cast<int>(args.size() - 1), args.data());
    platform::install(nullptr);
    return status;
}
