// The --sim-* options of flash-tool-sim, taken out of the argument vector
// before the tool's own options are parsed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/fault_platform.h"
#include "sim/sim_config.h"

namespace sim {

struct SimOptions {
    SimConfig config;  // the first device
    // Devices after the first: each --sim-device after the first adds one,
    // starting as a copy of the device before it (on the next free port); the
    // knobs that follow shape it alone.
    std::vector<SimConfig> more_devices;
    std::optional<std::string> trace_file;
    std::optional<std::string> replay_file;
    std::optional<FaultPlan> fault;  // --sim-fault=N:KIND
    // --sim-ctrl-c=MS: a Ctrl-C when the base clock reaches each time.
    std::vector<std::uint64_t> ctrl_c_at;
    bool realtime = false;
    bool help = false;
};

// Removes every --sim-* argument (up to a "--") from `args` and applies it.
// `args[0]` is the program name and stays. False with a message in `error`
// for an unknown option, a missing value, an unknown knob or device, or a
// bad knob value.
bool sim_take_options(std::vector<char*>& args, SimOptions& options, std::string& error);

// Whether `word` is a --sim-* option whose value is the next word
// (--sim-set, --sim-device, --sim-trace, --sim-replay, --sim-fault written
// without "=").
bool sim_option_value_is_next_word(std::string_view word);

// The text --sim-help prints: the options, the devices and every knob with
// its default.
std::string sim_help_text();

}  // namespace sim
