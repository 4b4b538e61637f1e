// A recorded trace read back for the replayer: the platform calls in the
// order they were made, each checked to carry what the replayer needs to
// compare it and to answer it.
//
// A record is a call when its "op" names a platform call the trace writes
// (platform/trace_ops.h). Every other record (one without "op", or with
// another op, such as a note of what the console showed) is skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/trace_record.h"

namespace sim {

struct ReplayCall {
    std::size_t line = 0;  // in the recording, from 1
    std::string op;
    std::uint64_t t = 0;
    bool ok = false;
    TraceRecord fields;
};

// The calls of a recording given as text (JSON Lines). False, with
// "line N: reason" in `error`, for a line that is not a JSON object or a
// call that lacks a key it must have.
bool replay_parse(std::string_view text, std::vector<ReplayCall>& calls, std::string& error);

// The same for a file, gzip-compressed or plain.
bool replay_read_file(const std::string& path, std::vector<ReplayCall>& calls, std::string& error);

// The bytes of a hex value the parse has checked.
std::vector<std::uint8_t> replay_bytes(const ReplayCall& call, std::string_view key);

}  // namespace sim
