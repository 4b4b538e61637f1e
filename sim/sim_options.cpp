#include "sim/sim_options.h"

#include <string_view>

#include "sim/device_registry.h"
#include "sim/knobs.h"

namespace sim {
namespace {

constexpr std::string_view PREFIX = "--sim-";
constexpr std::string_view OPTIONS_WITH_VALUE[] = {"--sim-set", "--sim-device", "--sim-trace",
                                                       "--sim-replay", "--sim-fault", "--sim-ctrl-c"};

// The value of "--NAME=VALUE" or of "--NAME VALUE" (taking the next argument).
bool option_value(std::string_view arg, std::string_view name, std::vector<char*>& args, std::size_t& i,
                  std::string& value, bool& matched) {
    matched = false;
    if (arg.substr(0, name.size()) != name) return true;
    const auto rest = arg.substr(name.size());
    if (!rest.empty() && rest.front() != '=') return true;
    matched = true;
    if (!rest.empty()) {
        value = std::string(rest.substr(1));
        return true;
    }
    if (i + 1 >= args.size()) return false;
    value = args[++i];
    return true;
}

}  // namespace

bool sim_option_value_is_next_word(std::string_view word) {
    for (std::string_view option : OPTIONS_WITH_VALUE)
        if (word == option) return true;
    return false;
}

bool sim_take_options(std::vector<char*>& args, SimOptions& options, std::string& error) {
    std::vector<char*> kept;
    unsigned devices_named = 0;
    // The device the knobs apply to: the newest one named.
    auto current = [&]() -> SimConfig& {
        return options.more_devices.empty() ? options.config : options.more_devices.back();
    };
    std::size_t i = 0;
    for (; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (i == 0 || arg.substr(0, PREFIX.size()) != PREFIX) {
            kept.push_back(args[i]);
            if (i > 0 && arg == "--") break;
            continue;
        }
        if (arg == "--sim-realtime") {
            options.realtime = true;
            continue;
        }
        if (arg == "--sim-help") {
            options.help = true;
            continue;
        }
        std::string value;
        bool matched = false;
        if (!option_value(arg, "--sim-set", args, i, value, matched)) {
            error = "option --sim-set needs KEY=VALUE";
            return false;
        }
        if (matched) {
            if (!knob_assign(current(), value, error)) return false;
            continue;
        }
        if (!option_value(arg, "--sim-device", args, i, value, matched)) {
            error = "option --sim-device needs a device name";
            return false;
        }
        if (matched) {
            if (find_device_kind(value) == nullptr) {
                error = "unknown device: " + value;
                return false;
            }
            if (++devices_named > 1) {
                // A copy of the device before it, but on a port of its own.
                options.more_devices.push_back(current());
                options.more_devices.back().location.clear();
            }
            current().device = value;
            continue;
        }
        if (!option_value(arg, "--sim-trace", args, i, value, matched)) {
            error = "option --sim-trace needs a file name";
            return false;
        }
        if (matched) {
            options.trace_file = value;
            continue;
        }
        if (!option_value(arg, "--sim-replay", args, i, value, matched)) {
            error = "option --sim-replay needs a file name";
            return false;
        }
        if (matched) {
            options.replay_file = value;
            continue;
        }
        if (!option_value(arg, "--sim-fault", args, i, value, matched)) {
            error = "option --sim-fault needs N:KIND";
            return false;
        }
        if (matched) {
            FaultPlan plan;
            if (!fault_parse(value, plan)) {
                error = "bad --sim-fault value (N:fail, N:gone or N:unplug, N from 1): " + value;
                return false;
            }
            options.fault = plan;
            continue;
        }
        if (!option_value(arg, "--sim-ctrl-c", args, i, value, matched)) {
            error = "option --sim-ctrl-c needs a time in ms";
            return false;
        }
        if (matched) {
            // At most 12 digits (some 30 years of ms): never past the type.
            if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos || value.size() > 12) {
                error = "bad --sim-ctrl-c value (ms on the virtual clock): " + value;
                return false;
            }
            options.ctrl_c_at.push_back(std::stoull(value));
            continue;
        }
        error = "unknown option: " + std::string(arg);
        return false;
    }
    // Everything after "--" belongs to the tool unchanged.
    for (++i; i < args.size(); ++i) kept.push_back(args[i]);
    if (find_device_kind(options.config.device) == nullptr) {
        error = "unknown device: " + options.config.device;
        return false;
    }
    for (const SimConfig& device : options.more_devices) {
        if (find_device_kind(device.device) == nullptr) {
            error = "unknown device: " + device.device;
            return false;
        }
    }
    args = std::move(kept);
    return true;
}

std::string sim_help_text() {
    std::string text =
        "flash-tool-sim: flash-tool over simulated devices on a virtual clock.\n"
        "Simulator options (removed before the tool's own options are read):\n"
        "  --sim-device=NAME     what is attached at start (default touch); repeat it to attach\n"
        "                        more devices, each shaped by the --sim-set options after it\n"
        "  --sim-set KEY=VALUE   set a knob (repeatable)\n"
        "  --sim-trace=FILE      record the run (every platform call, the console text) as JSON lines in FILE\n"
        "  --sim-replay=FILE     answer every platform call from a recorded trace instead\n"
        "                        (JSON lines, plain or gzip); exit status 2 when the run\n"
        "                        differs from the recording\n"
        "  --sim-fault=N:KIND    make the Nth USB or HID call fail (counted from 1): KIND fail (a plain\n"
        "                        failure), gone (the device left during the call) or unplug (the\n"
        "                        devices are off the bus from that call on)\n"
        "  --sim-realtime        sleep for real as well as on the virtual clock\n"
        "  --sim-ctrl-c=MS       press Ctrl-C once the virtual clock reaches MS (repeatable)\n"
        "  --sim-help            this text\n"
        "Devices:\n";
    for (const auto& kind : device_kinds()) text += "  " + std::string(kind.name) + ": " + std::string(kind.help) + "\n";
    text += "Knobs (text values take \\n \\t \\\\ \\0 \\xHH):\n";
    return text + knob_help();
}

}  // namespace sim
