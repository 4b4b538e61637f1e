// Compares what flash-tool printed in the guest with a transcript scenario's
// expectations: exit status exactly, standard output and standard error
// line by line after the wait lines' dots are evened out.
//
// Usage: ft_e2e_compare SCENARIO_FILE CAPTURE_DIR
//   CAPTURE_DIR holds the files stdout, stderr and status (the exit status
//   in decimal) as the guest wrote them.
// Exit status: 0 on a match, 1 on a difference (listed on standard output),
// 2 when the scenario or a captured file cannot be read.
//
// Usage: ft_e2e_compare --words SCENARIO_FILE
//   Prints the scenario's words as NUL-terminated pairs: "device" or "tool",
//   then the word. Exit status 3 for a scenario that needs standard input or
//   files, which the guest does not provide; 2 for an unreadable one.
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "frontend/build_info.h"
#include "frontend/tool_version.h"
#include "device_words.h"
#include "scenario.h"
#include "wait_dots.h"

namespace {

namespace fs = std::filesystem;

std::optional<std::string> read_whole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::optional<int> parse_status(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    int status = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), status);
    if (error != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return status;
}

bool same_text(std::string_view what, const std::string& expected, const std::string& actual) {
    const std::string diff = line_diff(collapse_wait_dots(expected), collapse_wait_dots(actual));
    if (diff.empty()) return true;
    std::cout << what << " differs:\n" << diff;
    return false;
}

std::optional<scenario> load_scenario(const fs::path& path) {
    const auto text = read_whole(path);
    if (!text) {
        std::cerr << "cannot read " << path.string() << '\n';
        return std::nullopt;
    }
    std::string error;
    auto s = parse_scenario(*text, error);
    if (!s) std::cerr << path.string() << ": " << error << '\n';
    return s;
}

int print_words(const scenario& s) {
    if (s.input || !s.files.empty()) return 3;
    const parted_words parted = part_words(s.args);
    for (const std::string& word : parted.device) std::cout << "device" << '\0' << word << '\0';
    for (const std::string& word : parted.tool) std::cout << "tool" << '\0' << word << '\0';
    return 0;
}

int compare(const scenario& s, const fs::path& capture) {
    const auto out = read_whole(capture / "stdout");
    const auto err = read_whole(capture / "stderr");
    const auto status_text = read_whole(capture / "status");
    if (!out || !err || !status_text) {
        std::cerr << "the guest did not deliver stdout, stderr and status in " << capture.string() << '\n';
        return 2;
    }
    const auto status = parse_status(*status_text);
    if (!status) {
        std::cerr << "unreadable exit status in " << (capture / "status").string() << '\n';
        return 2;
    }

    bool match = true;
    if (*status != s.exit_status) {
        std::cout << "exit status " << *status << ", expected " << s.exit_status << '\n';
        match = false;
    }
    const build_values build{build_date(), tool_version()};
    match &= same_text("standard output", expand_expected(s.expected_stdout, build), *out);
    match &= same_text("standard error", expand_expected(s.expected_stderr, build), *err);
    return match ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const bool words = argc == 3 && std::string_view(argv[1]) == "--words";
    if (argc != 3) {
        std::cerr << "usage: " << argv[0] << " SCENARIO_FILE CAPTURE_DIR\n"
                  << "       " << argv[0] << " --words SCENARIO_FILE\n";
        return 2;
    }
    const auto s = load_scenario(argv[words ? 2 : 1]);
    if (!s) return 2;
    return words ? print_words(*s) : compare(*s, argv[2]);
}
