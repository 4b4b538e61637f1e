// Fault sweep: runs one device path of flash-tool-sim once per device call
// N with that call failing (--sim-fault=N:KIND, every kind), all in this
// process. Each run must end by itself and either fail as the tool fails
// (exit 1, the failure banner, a line saying what failed) or succeed where
// the fault is tolerated (the table below).
//
// Usage: ft_fault_sweep PATH [--edge=E] [--spread=S]
//   every call is swept when the clean run makes at most 2E+S calls (E 200,
//   S 500 unless given); otherwise the first and last E, and S calls spread
//   evenly between.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_entry.h"

namespace {

using sim::FaultKind;

struct SweptPath {
    const char* name;
    std::vector<const char*> args;
};

// The runs swept, with the simulator options the transcripts use for them.
const std::vector<SweptPath> PATHS = {
    {"hid_upgrade", {"-n"}},
    {"hid_read_info", {"-n", "-r"}},
    {"hid_reset", {"-n", "-R"}},
    {"bridge_dfu", {"-n", "--sim-device=bridge"}},
    {"forced_dfu", {"-n", "-d"}},
    {"kxp_upgrade", {"-n", "-f"}},
};

// When a tolerated fault may end in success.
enum class When {
    always,
    fails_anyway,    // the call fails in the clean run as well
    same_output,     // the run printed exactly what the clean run printed
    fallback,        // the run printed one of `texts`, which the clean run does not
    during,          // the last line printed before the fault begins with one of `texts`
    after_last_use,  // every later call of the clean run is a close
};

struct Tolerated {
    const char* path;                     // nullptr: every path
    std::vector<std::string> operations;  // the call the fault went into; empty: any
    std::set<FaultKind> kinds;
    When when;
    std::vector<std::string> texts;
    const char* reason;
};

const std::set<FaultKind> FAIL_OR_GONE = {FaultKind::fail, FaultKind::gone};
const std::vector<std::string> DEVICE_WAITS = {"Waiting for Korvix device to appear", "* Wait for boot"};

// Faults a run may succeed through, and why.
const std::vector<Tolerated> TOLERATED = {
    {nullptr, {}, FAIL_OR_GONE, When::fails_anyway, {},
     "the call fails in the clean run too (a name WinUSB does not drive, a restart the device "
     "does not answer): the fault changes nothing"},
    {nullptr, {"usb_close", "hid_close"}, FAIL_OR_GONE, When::always, {},
     "a close has no result: the handle is released whatever the device does"},
    {nullptr,
     {"usb_device_names", "usb_open", "usb_get_descriptor", "usb_serial_number", "usb_placement"},
     FAIL_OR_GONE, When::same_output, {},
     "an answer the run does without: the device search's second pass (any interface) finds the "
     "device, another interface of it names it in the list, and without -S the serial number and "
     "place only label the one device"},
    {nullptr,
     {"hid_paths", "hid_open", "hid_attributes", "hid_caps", "hid_serial_number", "hid_placement"},
     FAIL_OR_GONE, When::same_output, {},
     "the device list also sees the device through WinUSB, and a HID interface that does not tell its "
     "place is known by its serial number"},
    {nullptr,
     {"usb_device_names", "usb_open", "usb_get_descriptor", "usb_serial_number", "usb_placement", "hid_paths",
      "hid_open", "hid_attributes", "hid_serial_number", "hid_placement"},
     FAIL_OR_GONE, When::during, DEVICE_WAITS,
     "one poll of a wait for the device fails; the next poll finds it"},
    {nullptr, {}, {FaultKind::unplug}, When::after_last_use, {},
     "the device leaves after the tool's last request to it: the run's work is done"},
    {nullptr,
     {"usb_placement", "usb_get_descriptor", "usb_close", "hid_paths", "hid_open", "hid_attributes",
      "hid_serial_number", "hid_placement"},
     {FaultKind::unplug}, When::during, DEVICE_WAITS,
     "the device leaves just after the wait recognised it (what is read then, and the rest of that "
     "lookup, is only shown); "
     "a wait that is not the last is followed by requests that fail"},
    {nullptr, {"usb_control_transfer"}, FAIL_OR_GONE, When::fallback, {"Flash status: No status available"},
     "the status text after the download is only shown: the device's DFU state reported success"},
    {nullptr,
     {"hid_paths", "hid_open", "hid_attributes", "hid_caps", "hid_serial_number", "hid_placement", "hid_set_feature",
      "hid_get_feature"},
     FAIL_OR_GONE, When::fallback, {"flash-tool using USB DFU interface"},
     "the native protocol probe failed: the device is served over its DFU interface instead"},
    {"kxp_upgrade",
     {"hid_paths", "hid_open", "hid_attributes", "hid_caps", "hid_serial_number", "hid_placement", "hid_set_feature",
      "hid_get_feature"},
     FAIL_OR_GONE, When::fallback, {"flash-tool using USB HID interface"},
     "the link hello failed: the tool falls back to the native HID protocol"},
};

const char* FAILURE_BANNER = "* Operations failed! Please retry or call tech support. *";

// What a tolerance rule looks at.
struct Outcome {
    const sim::FaultRecord& fault;
    FaultKind kind;
    const sim::SimRunReport& clean;
    const std::string& clean_output;
    const std::string& output;
    std::size_t printed_before_fault;
};

bool holds(const Tolerated& row, const Outcome& run) {
    auto any_text = [&](auto&& test) {
        for (const std::string& text : row.texts)
            if (test(text)) return true;
        return false;
    };
    switch (row.when) {
        case When::always: return true;
        case When::fails_anyway: return run.clean.calls.at(run.fault.call - 1).failed;
        case When::same_output: return run.output == run.clean_output;
        case When::fallback:
            return any_text([&](const std::string& text) {
                return run.output.find(text) != std::string::npos && run.clean_output.find(text) == std::string::npos;
            });
        case When::during: {
            const std::string before = run.output.substr(0, run.printed_before_fault);
            const std::size_t line = before.rfind('\n', before.empty() ? 0 : before.size() - 1);
            const std::string last = before.substr(line == std::string::npos ? 0 : line + 1);
            return any_text([&](const std::string& text) { return last.rfind(text, 0) == 0; });
        }
        case When::after_last_use:
            for (std::size_t i = run.fault.call; i < run.clean.calls.size(); ++i) {
                const std::string_view operation = run.clean.calls[i].operation;
                if (operation != "usb_close" && operation != "hid_close") return false;
            }
            return true;
    }
    return false;
}

// How many runs each row of TOLERATED let pass.
std::vector<unsigned> tolerated_runs(TOLERATED.size());

bool tolerated(const char* path, const Outcome& run) {
    for (std::size_t i = 0; i < TOLERATED.size(); ++i) {
        const Tolerated& row = TOLERATED[i];
        if (row.path != nullptr && std::strcmp(row.path, path) != 0) continue;
        if (!row.operations.empty() &&
            std::find(row.operations.begin(), row.operations.end(), run.fault.operation) == row.operations.end())
            continue;
        if (row.kinds.count(run.kind) != 0 && holds(row, run)) {
            ++tolerated_runs[i];
            return true;
        }
    }
    return false;
}

// ---- Console capture -----------------------------------------------------

using Capture = console_capture;

std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

// The tool says what failed on standard error; the link session's own
// messages are standard output lines starting "ERROR:"; a device that cannot
// be listed or read while the tool looks for one is reported as none there.
bool names_the_failure(const Capture& capture) {
    for (const std::string_view line : lines_of(capture.err))
        if (line.find_first_not_of(" \t\r") != std::string_view::npos) return true;
    for (const std::string_view line : lines_of(capture.out))
        if (line.substr(0, 6) == "ERROR:" || line == "No Korvix device detected") return true;
    return false;
}

// ---- Runs ----------------------------------------------------------------

// The run under way, for the last-resort alarm.
char alarm_text[512];

extern "C" void on_alarm(int) {
    const ssize_t written = write(STDERR_FILENO, alarm_text, std::strlen(alarm_text));
    (void)written;
    _exit(3);
}

constexpr unsigned RUN_SECONDS_LIMIT = 30;

struct Run {
    int status = -1;
    sim::SimRunReport report;
    Capture capture;
    std::size_t printed_before_fault = 0;
};

std::vector<std::string> command_words(const SweptPath& path, const std::string& fault) {
    std::vector<std::string> words{"flash-tool-sim"};
    words.insert(words.end(), path.args.begin(), path.args.end());
    if (!fault.empty()) words.push_back("--sim-fault=" + fault);
    return words;
}

std::string command_text(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

Run run_once(const SweptPath& path, const std::string& fault, sim::SimRunLimits* limits) {
    std::vector<std::string> words = command_words(path, fault);
    std::snprintf(alarm_text, sizeof alarm_text, "fault sweep: no end after %u s: %s\n", RUN_SECONDS_LIMIT,
                  command_text(words).c_str());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    Run run;
    if (limits != nullptr)
        limits->on_fault = [&run](const sim::FaultRecord&) { run.printed_before_fault = run.capture.both.size(); };
    alarm(RUN_SECONDS_LIMIT);
    const console_sink sink = run.capture.sink();
    run.status = sim::sim_main(static_cast<int>(argv.size() - 1), argv.data(), &run.report, limits, &sink);
    alarm(0);
    if (limits != nullptr) limits->on_fault = nullptr;  // it refers to this run
    return run;
}

std::vector<std::uint64_t> calls_to_sweep(std::uint64_t total, std::uint64_t edge, std::uint64_t spread) {
    std::vector<std::uint64_t> calls;
    if (total <= 2 * edge + spread) {
        for (std::uint64_t n = 1; n <= total; ++n) calls.push_back(n);
        return calls;
    }
    for (std::uint64_t n = 1; n <= edge; ++n) calls.push_back(n);
    const std::uint64_t first = edge + 1, last = total - edge;  // the middle, inclusive
    for (std::uint64_t i = 0; i < spread; ++i) calls.push_back(first + i * (last - first) / (spread - 1));
    for (std::uint64_t n = total - edge + 1; n <= total; ++n) calls.push_back(n);
    return calls;
}

std::string last_lines(const std::string& text, std::size_t count) {
    const std::vector<std::string_view> lines = lines_of(text);
    std::string tail;
    for (std::size_t i = lines.size() > count ? lines.size() - count : 0; i < lines.size(); ++i)
        tail += "      | " + std::string(lines[i]) + "\n";
    return tail;
}

// What is wrong with a run, or "" when it ended as it should.
std::string verdict(const SweptPath& path, const Run& run, FaultKind kind, const Run& clean) {
    if (run.report.runaway) return "no end: past the call or clock limit";
    if (!run.report.fault) return "the fault was not injected";
    // Up to the fault the run is the clean run: any difference there is state
    // an earlier run in this process left behind.
    const std::string_view before(run.capture.both.data(), run.printed_before_fault);
    if (before != std::string_view(clean.capture.both).substr(0, before.size()))
        return "printed other text than the clean run before the fault (state left by an earlier run?)";
    if (run.status == 0) {
        const Outcome outcome{*run.report.fault, kind, clean.report, clean.capture.both, run.capture.both,
                              run.printed_before_fault};
        return tolerated(path.name, outcome) ? "" : "exit 0 (success) after the fault";
    }
    if (run.status != 1) return "exit " + std::to_string(run.status);
    if (run.capture.out.find(FAILURE_BANNER) == std::string::npos) return "exit 1 without the failure banner";
    if (!names_the_failure(run.capture)) return "exit 1 with no line saying what failed";
    return "";
}

int sweep(const SweptPath& path, std::uint64_t edge, std::uint64_t spread) {
    const Run clean = run_once(path, "", nullptr);
    if (clean.status != 0) {
        std::printf("%s: the clean run failed (exit %d):\n%s", path.name, clean.status,
                    last_lines(clean.capture.both, 10).c_str());
        return 1;
    }
    const std::uint64_t total = clean.report.device_calls;
    // Generous bounds: a failing run may poll for a device that does not
    // come back (a few calls every 100 ms of a wait of a minute or so), but
    // not for ten minutes of virtual time.
    sim::SimRunLimits limits;
    limits.limits = {10 * total + 100000, 4 * clean.report.clock_ms + 600000};

    const std::vector<std::uint64_t> calls = calls_to_sweep(total, edge, spread);
    unsigned runs = 0, passed = 0;
    std::string failures;
    for (const FaultKind kind : {FaultKind::fail, FaultKind::gone, FaultKind::unplug}) {
        for (const std::uint64_t n : calls) {
            const std::string fault = std::to_string(n) + ":" + sim::fault_kind_name(kind);
            const Run run = run_once(path, fault, &limits);
            ++runs;
            const std::string wrong = verdict(path, run, kind, clean);
            if (wrong.empty()) {
                ++passed;
                continue;
            }
            const sim::FaultRecord where = run.report.fault.value_or(sim::FaultRecord{});
            failures += "  N=" + fault + " " + where.operation + " (" + where.device + "): " + wrong + "\n" +
                        last_lines(run.capture.both, 6) + "      reproduce: " +
                        command_text(command_words(path, fault)) + "\n";
        }
    }
    std::printf("%s: %llu device calls in the clean run; %u runs, %u passed, %u failed\n%s", path.name,
                static_cast<unsigned long long>(total), runs, passed, runs - passed, failures.c_str());
    for (std::size_t i = 0; i < TOLERATED.size(); ++i)
        if (tolerated_runs[i] != 0) std::printf("  exit 0 tolerated %u times: %s\n", tolerated_runs[i], TOLERATED[i].reason);
    return passed == runs ? 0 : 1;
}

bool number_option(std::string_view arg, std::string_view name, std::uint64_t& value) {
    if (arg.substr(0, name.size()) != name) return false;
    value = std::strtoull(std::string(arg.substr(name.size())).c_str(), nullptr, 10);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGALRM, on_alarm);
    const SweptPath* path = nullptr;
    std::uint64_t edge = 200, spread = 500;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (number_option(arg, "--edge=", edge) || number_option(arg, "--spread=", spread)) continue;
        for (const SweptPath& candidate : PATHS)
            if (arg == candidate.name) path = &candidate;
    }
    if (path == nullptr || spread < 2) {
        std::fprintf(stderr, "usage: ft_fault_sweep PATH [--edge=E] [--spread=S]   (S at least 2)\nPATH:");
        for (const SweptPath& candidate : PATHS) std::fprintf(stderr, " %s", candidate.name);
        std::fputs("\n", stderr);
        return 2;
    }
    return sweep(*path, edge, spread);
}
