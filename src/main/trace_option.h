// The flash-tool executable's own option, taken out of the argument vector
// before the front end parses it: --trace FILE (or --trace=FILE) records
// every platform call in FILE.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct trace_option {
    std::optional<std::string> file;  // the last --trace given
    bool missing_file = false;        // --trace was the last argument
    std::vector<char*> arguments;     // argv without the trace options, null-terminated
};

// Scans up to a "--" terminator, skipping the values of the tool's options
// (-i FILE, -S SERIAL), after which everything is left as it is.
trace_option take_trace_option(int argc, char** argv);
