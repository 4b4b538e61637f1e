#include "wait_dots.h"

#include <array>

namespace {

constexpr std::array<std::string_view, 3> WAIT_LINE_STARTS{
    "Waiting for Korvix device to appear",
    "* Wait for boot",
    "LOG:* Program image",
};

bool is_wait_line(std::string_view line) {
    for (std::string_view start : WAIT_LINE_STARTS) {
        if (line.substr(0, start.size()) == start) return true;
    }
    return false;
}

void append_collapsed(std::string& out, std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '.' && i > 0 && line[i - 1] == '.') continue;
        out += line[i];
    }
}

}  // namespace

std::string collapse_wait_dots(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::size_t length = end == std::string_view::npos ? text.size() : end + 1;
        const std::string_view line = text.substr(0, length);
        if (is_wait_line(line)) {
            append_collapsed(out, line);
        } else {
            out += line;
        }
        text.remove_prefix(length);
    }
    return out;
}
