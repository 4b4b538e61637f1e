// The simulator's knobs: named settings of SimConfig with a default, a help
// text and a parser, set from the command line as KEY=VALUE.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_config.h"

namespace sim {

struct Knob {
    std::string_view name;
    std::string_view help;
    // The default as a value; empty when the help text states it instead.
    std::function<std::string(const SimConfig&)> show;
    // False when the value does not parse or is out of range.
    std::function<bool(SimConfig&, std::string_view)> set;
};

const std::vector<Knob>& knob_table();

// Applies "KEY=VALUE". False with a message in `error` for an unknown key or
// a bad value.
bool knob_assign(SimConfig& config, std::string_view assignment, std::string& error);

// Every knob with its default, one block per knob.
std::string knob_help();

// Text values accept the escapes \n \t \\ \0 and \xHH.
bool knob_unescape(std::string_view text, std::string& out);

}  // namespace sim
