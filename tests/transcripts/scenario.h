// Transcript scenarios: a run of flash-tool-sim described by its command
// line, its standard input and files, and the exact output it must produce.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct scenario_file {
    std::string name;    // relative to the run's working directory
    std::string source;  // copied from here (relative to the source root); empty: an empty file
    bool directory = false;
};

struct scenario_output {
    std::string name;  // a file the run writes, in its working directory
    std::string text;  // its exact lines, placeholders still in place
};

struct scenario {
    std::vector<std::string> args;  // after the program name
    std::optional<std::string> input;  // standard input; none: /dev/null
    std::vector<scenario_file> files;
    int exit_status = 0;
    std::string expected_stdout;  // placeholders still in place
    std::string expected_stderr;
    // Both streams as one log sees them (`2>&1`): the order of the lines.
    std::optional<std::string> expected_combined;
    std::optional<scenario_output> expected_file;
    // The failure kind the JSON result of the same run names ("none" on
    // success); every scenario without --json in its args runs a second time
    // with it, and its events are checked.
    std::optional<std::string> failure;
    // Events a --json run must write, in this order (others may come
    // between): each line a JSON object whose fields the event has, with the
    // same values.
    std::optional<std::string> expected_json;
};

// Parses a scenario file's text. On a malformed text returns nothing and
// says why in `error`.
//
//   # comment (only before the first block)
//   args: --sim-device=none -n -i "a file.bin"
//   stdin: x\n                  (optional; \n and \\ are escapes)
//   file: empty.bin             (optional, repeatable; an empty file)
//   file: fw.dfu firmware/builtin.dfu   (a copy of a file of the source tree)
//   dir: adir                   (optional, repeatable)
//   exit: 1
//   failure: no_device          (the JSON result's failure kind; needed when
//                                exit is not 0)
//   --- stdout                  (not with --- json)
//   exact lines
//   --- stderr
//   exact lines
//   --- 2>&1                    (optional: both streams on one file, in the
//   exact lines                  order a `2>&1` log has them; a second run)
//   --- file trace.jsonl        (optional: a file the run writes; a trace's
//   exact lines                  "started" time reads as {STARTED})
//   --- json                    (instead of --- stdout, for args with --json:
//   {"event":"device"}           the events expected, in order, by subset)
std::optional<scenario> parse_scenario(std::string_view text, std::string& error);

// Splits an args line into words; double quotes group words with blanks.
std::vector<std::string> split_args(std::string_view line);

// What the tool's build puts into its output.
struct build_values {
    std::string_view build_date;
    std::string_view version;
};

// Expands the placeholders of an expected text: {BUILD_DATE}, {VERSION};
// {C*N}, the character C repeated N times (N decimal); {{ for a literal brace.
std::string expand_expected(std::string_view text, const build_values& build);

// A unified-diff-like listing of the lines that differ; empty when equal.
std::string line_diff(std::string_view expected, std::string_view actual);
