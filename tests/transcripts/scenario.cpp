#include "scenario.h"

#include <algorithm>
#include <charconv>
#include <utility>
#include <sstream>

namespace {

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            out += next == 'n' ? '\n' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            lines.push_back(text);
            break;
        }
        lines.push_back(text.substr(0, end + 1));
        text.remove_prefix(end + 1);
    }
    return lines;
}

// A line for the report: its line break shown as nothing, a missing one said.
std::string shown(std::string_view line) {
    if (!line.empty() && line.back() == '\n') return std::string(line.substr(0, line.size() - 1));
    return std::string(line) + "  (no line break)";
}

}  // namespace

std::vector<std::string> split_args(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    bool quoted = false;
    for (const char c : line) {
        if (c == '"') {
            quoted = !quoted;
            in_word = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (in_word) words.push_back(word);
            word.clear();
            in_word = false;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (in_word) words.push_back(word);
    return words;
}

std::optional<scenario> parse_scenario(std::string_view text, std::string& error) {
    scenario result;
    enum class section { header, out, err, combined, file, json } where = section::header;
    bool have_args = false;
    bool have_exit = false;
    bool have_stdout = false;
    int line_number = 0;
    for (const std::string_view line : lines_of(text)) {
        ++line_number;
        const std::string_view bare = line.back() == '\n' ? line.substr(0, line.size() - 1) : line;
        if (bare == "--- stdout" && where == section::header) {
            where = section::out;
            have_stdout = true;
            continue;
        }
        if (bare == "--- stderr" && (where == section::header || where == section::out)) {
            where = section::err;
            continue;
        }
        if (bare == "--- 2>&1" && where == section::err) {
            where = section::combined;
            result.expected_combined.emplace();
            continue;
        }
        if (starts_with(bare, "--- file ") && (where == section::err || where == section::combined)) {
            where = section::file;
            result.expected_file = scenario_output{std::string(bare.substr(9)), ""};
            continue;
        }
        if (bare == "--- json" && where != section::json) {
            where = section::json;
            result.expected_json.emplace();
            continue;
        }
        if (where == section::json) {
            *result.expected_json += line;
            continue;
        }
        if (where == section::file) {
            result.expected_file->text += line;
            continue;
        }
        if (where == section::combined) {
            *result.expected_combined += line;
            continue;
        }
        if (where == section::out) {
            result.expected_stdout += line;
            continue;
        }
        if (where == section::err) {
            result.expected_stderr += line;
            continue;
        }
        if (bare.empty() || bare.front() == '#') continue;
        const std::size_t colon = bare.find(": ");
        const std::string_view key = bare.substr(0, colon);
        const std::string_view value =
            colon == std::string_view::npos ? std::string_view{} : bare.substr(colon + 2);
        if (key == "args") {
            result.args = split_args(value);
            have_args = true;
        } else if (key == "stdin") {
            result.input = unescape(value);
        } else if (key == "exit") {
            const auto [end, status] =
                std::from_chars(value.data(), value.data() + value.size(), result.exit_status);
            if (status != std::errc{} || end != value.data() + value.size()) {
                error = "line " + std::to_string(line_number) + ": bad exit status";
                return std::nullopt;
            }
            have_exit = true;
        } else if (key == "file") {
            const std::vector<std::string> words = split_args(value);
            if (words.empty() || words.size() > 2) {
                error = "line " + std::to_string(line_number) + ": file: NAME [SOURCE]";
                return std::nullopt;
            }
            result.files.push_back({words[0], words.size() == 2 ? words[1] : "", false});
        } else if (key == "failure") {
            result.failure = std::string(value);
        } else if (key == "dir") {
            result.files.push_back({std::string(value), "", true});
        } else {
            error = "line " + std::to_string(line_number) + ": unknown key '" + std::string(key) + "'";
            return std::nullopt;
        }
    }
    if (!have_args || !have_exit || have_stdout == result.expected_json.has_value()) {
        error = "a scenario needs args:, exit: and a --- stdout or a --- json block";
        return std::nullopt;
    }
    return result;
}

std::string expand_expected(std::string_view text, const build_values& build) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '{') {
            out += text[i];
            continue;
        }
        if (starts_with(text.substr(i), "{{")) {
            out += '{';
            ++i;
            continue;
        }
        bool expanded = false;
        for (const auto& [name, value] : {std::pair{std::string_view("{BUILD_DATE}"), build.build_date},
                                          std::pair{std::string_view("{VERSION}"), build.version}}) {
            if (!starts_with(text.substr(i), name)) continue;
            out += value;
            i += name.size() - 1;
            expanded = true;
            break;
        }
        if (expanded) continue;
        // {C*N}
        const std::size_t close = text.find('}', i);
        if (close != std::string_view::npos && close >= i + 4 && text[i + 2] == '*') {
            const std::string_view digits = text.substr(i + 3, close - (i + 3));
            std::size_t count = 0;
            const auto [end, status] =
                std::from_chars(digits.data(), digits.data() + digits.size(), count);
            if (status == std::errc{} && end == digits.data() + digits.size()) {
                out.append(count, text[i + 1]);
                i = close;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string line_diff(std::string_view expected, std::string_view actual) {
    if (expected == actual) return {};
    const auto a = lines_of(expected);
    const auto b = lines_of(actual);
    // Longest common subsequence table, from the end.
    std::vector<std::vector<unsigned>> lcs(a.size() + 1, std::vector<unsigned>(b.size() + 1, 0));
    for (std::size_t i = a.size(); i-- > 0;) {
        for (std::size_t j = b.size(); j-- > 0;) {
            lcs[i][j] = a[i] == b[j] ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
        }
    }
    // Edit script: ' ' same, '-' expected only, '+' actual only.
    std::vector<std::pair<char, std::string_view>> script;
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() || j < b.size()) {
        if (i < a.size() && j < b.size() && a[i] == b[j]) {
            script.emplace_back(' ', a[i++]);
            ++j;
        } else if (i < a.size() && (j == b.size() || lcs[i + 1][j] >= lcs[i][j + 1])) {
            script.emplace_back('-', a[i++]);
        } else {
            script.emplace_back('+', b[j++]);
        }
    }
    constexpr std::size_t CONTEXT = 3;
    std::ostringstream report;
    report << "--- expected\n+++ actual\n";
    std::size_t last_printed = 0;
    bool printed_any = false;
    for (std::size_t k = 0; k < script.size(); ++k) {
        if (script[k].first == ' ') continue;
        const std::size_t from = k >= CONTEXT ? k - CONTEXT : 0;
        std::size_t start = printed_any ? std::max(from, last_printed) : from;
        if (!printed_any || from > last_printed) report << "@@ entry " << from + 1 << " @@\n";
        std::size_t to = k;
        // Extend over the run of changes and the context after it.
        while (to + 1 < script.size()) {
            std::size_t next_change = to + 1;
            while (next_change < script.size() && script[next_change].first == ' ') ++next_change;
            if (next_change < script.size() && next_change - to <= 2 * CONTEXT + 1) {
                to = next_change;
            } else {
                break;
            }
        }
        const std::size_t end = std::min(script.size(), to + CONTEXT + 1);
        for (std::size_t m = start; m < end; ++m) {
            report << script[m].first << shown(script[m].second) << '\n';
        }
        last_printed = end;
        printed_any = true;
        k = end - 1;
    }
    return report.str();
}
