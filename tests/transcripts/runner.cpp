// Runs one transcript scenario against flash-tool-sim and compares its
// standard output, standard error and exit status with the expected ones.
// A scenario with a `2>&1` block runs a second time with both streams on one
// file, which shows the order of the lines as a log of the run has it.
//
// Usage: ft_transcript_runner SIM_EXECUTABLE SOURCE_ROOT SCENARIO_FILE
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "frontend/build_info.h"
#include "frontend/tool_version.h"
#include "scenario.h"

namespace {

namespace fs = std::filesystem;

// A hung tool ends here instead of holding the test until ctest's timeout.
constexpr unsigned RUN_LIMIT_SECONDS = 30;

std::string read_whole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct run_result {
    int exit_status = -1;
    std::string how_it_ended;  // empty for a normal exit
    std::string out;
    std::string err;
};

bool prepare_files(const scenario& s, const fs::path& work, const fs::path& source_root) {
    for (const scenario_file& file : s.files) {
        std::error_code error;
        if (file.directory) {
            fs::create_directories(work / file.name, error);
        } else if (file.source.empty()) {
            std::ofstream(work / file.name, std::ios::binary);
        } else {
            fs::copy_file(source_root / file.source, work / file.name, error);
        }
        if (error) {
            std::cerr << "cannot prepare " << file.name << ": " << error.message() << '\n';
            return false;
        }
    }
    return true;
}

int open_or_die(const fs::path& path, int flags) {
    const int fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0) _exit(127);
    return fd;
}

// With `combined`, standard error goes to the file of standard output, as
// `2>&1` sends it: `out` then holds both and `err` is empty.
run_result run_tool(const std::string& executable, const scenario& s, const fs::path& work,
                    const fs::path& capture, bool combined) {
    const fs::path input = capture / "stdin";
    const fs::path out = capture / "stdout";
    const fs::path err = capture / "stderr";
    if (s.input) std::ofstream(input, std::ios::binary) << *s.input;

    // The program name is fixed so that the usage text and the option
    // parser's diagnostics do not depend on where the build lives.
    std::vector<std::string> words{"flash-tool-sim"};
    words.insert(words.end(), s.args.begin(), s.args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int in_fd = s.input ? open_or_die(input, O_RDONLY) : open_or_die("/dev/null", O_RDONLY);
        const int out_fd = open_or_die(out, O_WRONLY | O_CREAT | O_TRUNC);
        const int err_fd = combined ? out_fd : open_or_die(err, O_WRONLY | O_CREAT | O_TRUNC);
        if (::dup2(in_fd, 0) < 0 || ::dup2(out_fd, 1) < 0 || ::dup2(err_fd, 2) < 0) _exit(127);
        if (::chdir(work.c_str()) != 0) _exit(127);
        ::alarm(RUN_LIMIT_SECONDS);  // survives the exec
        ::execv(executable.c_str(), argv.data());
        _exit(127);
    }
    run_result result;
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) {
        result.how_it_ended = "could not start or wait for the tool";
        return result;
    }
    if (WIFEXITED(status)) {
        result.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.how_it_ended = "killed by signal " + std::to_string(WTERMSIG(status));
    }
    result.out = read_whole(out);
    if (!combined) result.err = read_whole(err);
    return result;
}

using json = nlohmann::json;

// Every line of a --json run's standard output as one event; a line that is
// not a JSON object with an "event" is named in `problems`.
std::vector<json> events_of(const std::string& out, std::string& problems) {
    std::vector<json> events;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const json event = json::parse(line, nullptr, false);
        if (event.is_discarded() || !event.is_object() || !event.contains("event")) {
            problems += "not an event: " + line + "\n";
            continue;
        }
        events.push_back(event);
    }
    return events;
}

// What every --json run writes: the start first, the result last and nothing
// after it, progress within its total, and the result's exit status and
// failure kind.
std::string check_json_run(const std::vector<json>& events, int exit_status, const std::string& failure) {
    std::string problems;
    if (events.empty() || events.front()["event"] != "start" || events.front()["schema"] != 1 ||
        !events.front()["argv"].is_array())
        problems += "the first event is not a start of schema 1 with its argv\n";
    if (events.empty() || events.back()["event"] != "result") return problems + "the last event is not the result\n";
    const json& result = events.back();
    if (result["exit_status"] != exit_status || result["ok"] != (exit_status == 0))
        problems += "the result says " + result.dump() + ", the exit status is " + std::to_string(exit_status) + "\n";
    const json expected_failure = failure == "none" ? json(nullptr) : json(failure);
    if (result["failure"] != expected_failure)
        problems += "the result's failure is " + result["failure"].dump() + ", expected " + expected_failure.dump() + "\n";
    for (const json& event : events)
        if (event["event"] == "progress" && !(event["done"] <= event["total"]))
            problems += "progress beyond its total: " + event.dump() + "\n";
    return problems;
}

// Whether `event` has every field of `wanted`, with the same value.
bool has_fields(const json& event, const json& wanted) {
    for (const auto& [key, value] : wanted.items())
        if (!event.contains(key) || event[key] != value) return false;
    return true;
}

// The device an event belongs to in a run on several devices ("" for the
// run's own events).
std::string device_of(const json& event) {
    return event.contains("location") && event["event"] != "summary" ? event["location"].dump() : "";
}

// The expected events, in order, each a subset of a later actual event. The
// devices of a run on several devices go on at once: an expected event that
// names a location keeps its order among that device's events only.
std::string match_events(const std::vector<json>& events, const std::string& expected) {
    std::istringstream lines(expected);
    std::map<std::string, std::size_t> next;  // per device
    for (std::string line; std::getline(lines, line);) {
        const json wanted = json::parse(line, nullptr, false);
        if (wanted.is_discarded()) return "the expected line is no JSON: " + line + "\n";
        const std::string device = wanted.contains("location") ? device_of(wanted) : "";
        std::size_t& at = next[device];
        while (at < events.size() &&
               ((!device.empty() && device_of(events[at]) != device) || !has_fields(events[at], wanted)))
            ++at;
        if (at == events.size()) return "no event matches, in order: " + line + "\n";
        ++at;
    }
    return {};
}

// The lines of a run on several devices, which interleave as the devices go
// on, in an order that does not depend on it: the run's own lines as they
// came, then each device's lines ("[label] ...") as they came, the devices by
// label.
std::string by_device(const std::string& text) {
    std::string own;
    std::map<std::string, std::string> devices;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t end = line.find("] ");
        if (line.starts_with("[") && end != std::string::npos)
            devices[line.substr(0, end + 1)] += line + "\n";
        else
            own += line + "\n";
    }
    for (const auto& [label, device_lines] : devices) own += device_lines;
    return own;
}

bool runs_on_several_devices(const scenario& s) {
    return std::any_of(s.args.begin(), s.args.end(), [](const std::string& word) {
        return word == "--all" || word == "--station";
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: " << argv[0] << " SIM_EXECUTABLE SOURCE_ROOT SCENARIO_FILE\n";
        return 2;
    }
    // Absolute, because the tool runs in its own working directory.
    const std::string executable = fs::absolute(argv[1]).string();
    const fs::path source_root = fs::absolute(argv[2]);
    const fs::path scenario_path = argv[3];

    std::string error;
    const auto s = parse_scenario(read_whole(scenario_path), error);
    if (!s) {
        std::cerr << scenario_path.string() << ": " << error << '\n';
        return 2;
    }

    std::string base = (fs::temp_directory_path() / "ft_transcript_XXXXXX").string();
    if (::mkdtemp(base.data()) == nullptr) {
        std::perror("mkdtemp");
        return 2;
    }
    const fs::path capture = base;
    const fs::path work = capture / "work";
    fs::create_directory(work);
    int verdict = 2;
    if (prepare_files(*s, work, source_root)) {
        const run_result result = run_tool(executable, *s, work, capture, false);
        const build_values build{build_date(), tool_version()};
        // Text that does not end in a line end stays as it is.
        const auto in_order = [&](const std::string& text) {
            return runs_on_several_devices(*s) && (text.empty() || text.back() == '\n') ? by_device(text) : text;
        };
        const std::string expected_out = in_order(expand_expected(s->expected_stdout, build));
        const std::string expected_err = in_order(expand_expected(s->expected_stderr, build));
        verdict = 0;
        if (!result.how_it_ended.empty()) {
            std::cout << "the tool did not exit: " << result.how_it_ended << '\n';
            verdict = 1;
        } else if (result.exit_status != s->exit_status) {
            std::cout << "exit status " << result.exit_status << ", expected " << s->exit_status << '\n';
            verdict = 1;
        }
        if (s->expected_json) {
            std::string problems;
            const std::vector<json> events = events_of(result.out, problems);
            problems += check_json_run(events, s->exit_status, s->failure.value_or("none"));
            problems += match_events(events, expand_expected(*s->expected_json, build));
            if (!problems.empty()) {
                std::cout << "the JSON events:\n" << result.out << problems;
                verdict = 1;
            }
        } else if (const std::string diff = line_diff(expected_out, in_order(result.out)); !diff.empty()) {
            std::cout << "standard output differs:\n" << diff;
            verdict = 1;
        }
        if (const std::string diff = line_diff(expected_err, in_order(result.err)); !diff.empty()) {
            std::cout << "standard error differs:\n" << diff;
            verdict = 1;
        }
        if (s->expected_combined) {
            const run_result both = run_tool(executable, *s, work, capture, true);
            if (const std::string diff = line_diff(expand_expected(*s->expected_combined, build), both.out);
                !diff.empty()) {
                std::cout << "both streams in one log (2>&1) differ:\n" << diff;
                verdict = 1;
            }
        }
        if (const auto& file = s->expected_file) {
            // The wall-clock start time of a trace differs in every run.
            const std::string written = std::regex_replace(read_whole(work / file->name),
                                                           std::regex("\"started\":\"[^\"]*\""),
                                                           "\"started\":\"{STARTED}\"");
            if (const std::string diff = line_diff(expand_expected(file->text, build), written); !diff.empty()) {
                std::cout << file->name << " differs:\n" << diff;
                verdict = 1;
            }
        }
        // Exit statuses above 1 are the simulator's own (a bad knob, a replay
        // run out): the tool never ran to a result.
        if (!s->expected_json && s->exit_status <= 1) {
            // The same run in JSON: whole events, and the failure it names.
            scenario twin = *s;
            twin.args.push_back("--json");
            const run_result run = run_tool(executable, twin, work, capture, false);
            std::string problems;
            const std::vector<json> events = events_of(run.out, problems);
            if (!s->failure && s->exit_status != 0)
                problems += "the scenario declares no failure: kind\n";
            problems += check_json_run(events, s->exit_status, s->failure.value_or("none"));
            if (run.exit_status != s->exit_status) problems += "the --json run ended with another exit status\n";
            if (!problems.empty()) {
                std::cout << "the run with --json:\n" << run.out << problems;
                verdict = 1;
            }
        }
    }
    fs::remove_all(capture);
    return verdict;
}
