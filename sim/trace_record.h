// One line of a trace read back: the top-level keys of a JSON object and
// their values, for the replayer.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct TraceValue {
    enum class Kind { string, number, boolean, null, strings, other };
    Kind kind = Kind::other;
    std::string text;                  // string
    std::uint64_t number = 0;          // number: a non-negative integer
    bool boolean = false;              // boolean
    std::vector<std::string> strings;  // strings: an array of strings only
};

using TraceRecord = std::map<std::string, TraceValue, std::less<>>;

// Parses one line holding one JSON object. Values the trace does not use
// (negative or fractional numbers, nested objects, arrays of anything but
// strings) are checked for syntax and kept as `other`. False, with the reason
// in `error`, for anything that is not exactly one JSON object.
bool trace_parse_record(std::string_view line, TraceRecord& record, std::string& error);

}  // namespace sim
