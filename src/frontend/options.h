// The command line: the run's options and their parser.
#pragma once

#include <cstdio>
#include <string>
#include <optional>
#include <string_view>

#include "usb/usb_ids.h"

struct run_options {
    const char* image_path = nullptr;  // the command line's own text, not a copy
    bool read_info = false;
    bool non_interactive = false;
    bool force_dfu = false;
    bool enable_kxp = false;
    bool reset = false;
    bool restart_after_upgrade = true;
    bool list = false;  // --list: list the attached devices, nothing else
    const char* trace_path = nullptr;  // --trace FILE; the command line's own text
    bool json = false;  // --json: JSON Lines on standard output instead of the console text
    serial_number serial;  // the command line's own text, not a copy
    // -p/--path: the USB location of the device, as -l shows it; the
    // command line's own text.
    std::optional<std::string_view> location;
    bool all = false;      // --all: every attached device at once
    bool station = false;  // --station: each device as it is plugged in, until told to end
    std::optional<unsigned> count;         // --count N: a station ends after N devices
    std::optional<unsigned> idle_seconds;  // --idle S: a station ends after S seconds with nothing to do
};

enum class parse_outcome {
    run,   // every option taken; go on with the run
    help,     // --help met: print the usage text, end as a success
    version,  // --version met: print the version text, end as a success
    bad,      // unknown option, missing argument or a word that is no option; the
              // parser has said why on stderr
};

// Which options a program takes: flash-tool-sim the standard ones, flash-tool
// also the long-only --trace FILE.
enum class option_set { standard, with_trace };

// Parses argv with getopt_long semantics ("i:rdfRsnS:p:lhV" and the long
// options of `set`, any unambiguous prefix of a long one), in order. Options
// before a --help, a --version or a bad option have taken effect in
// `options`. A word that is no option (after getopt's reordering) is refused;
// on Windows "/?" asks for the usage text as -h does. `quiet` leaves out
// every diagnostic. Safe to call more than once per process.
parse_outcome parse_options(int argc, char** argv, run_options& options, option_set set = option_set::standard,
                            bool quiet = false);

// Whether the command line holds --json (or an abbreviation of it) before
// any "--" that ends the options.
bool asks_for_json(int argc, char** argv);

// The --help text, with the program name in its first line.
std::string usage_text(const char* program_name, option_set set = option_set::standard);
