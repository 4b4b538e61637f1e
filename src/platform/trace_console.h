// The console text of a traced run: while a TraceConsole lives, what the
// process writes through C stdio to standard output and standard error still
// reaches them unchanged and is also recorded in the trace, in order with
// the platform calls.
#pragma once

#include <cstdio>
#include <string>

#include "platform/trace.h"

namespace platform {

class TraceConsole {
public:
    // Takes over stdout and stderr; nothing is recorded where the C library
    // does not let them be replaced (Windows' msvcrt).
    explicit TraceConsole(TracePlatform& trace);
    ~TraceConsole();
    TraceConsole(const TraceConsole&) = delete;
    TraceConsole& operator=(const TraceConsole&) = delete;

    struct Stream {
        std::FILE* real = nullptr;  // the stream it stands in for
        const char* name = "";
        TracePlatform* trace = nullptr;
    };

private:
    Stream out_;
    Stream err_;
    std::FILE* out_tee_ = nullptr;
    std::FILE* err_tee_ = nullptr;
};

// The wall-clock time now, UTC, as "2026-12-07T20:51:03Z".
std::string trace_wall_clock_now();

}  // namespace platform
