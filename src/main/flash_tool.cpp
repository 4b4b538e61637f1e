// The flash-tool executable: the front end over the operating system's own
// platform backend, optionally recording the run (--trace FILE).
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <span>

#include "frontend/frontend.h"
#include "frontend/options.h"
#include "frontend/tool_version.h"
#include "platform/native.h"
#include "platform/trace.h"
#include "platform/trace_console.h"

namespace {

// The file of the last --trace before the options end, read silently with
// the front end's own parser (which reads them again, and says what is
// wrong with them, once the recording runs).
const char* trace_path(int argc, char** argv) {
    run_options options;
    parse_options(argc, argv, options, option_set::with_trace, true);
    return options.trace_path;
}

}  // namespace

int main(int argc, char** argv) {
    // The command line as given, before the parser reorders it.
    const std::vector<char*> command_line(argv, argv + argc);
    std::unique_ptr<platform::Platform> native = platform_make_native();
    const char* path = trace_path(argc, argv);
    if (path == nullptr) {
        platform::install(native.get());
        const int status = frontend_main(argc, argv, option_set::with_trace);
        platform::install(nullptr);
        return status;
    }

    std::ofstream trace_file(path, std::ios::out | std::ios::trunc);
    if (!trace_file) {
        std::fprintf(stderr, "flash-tool: cannot write the trace file <%s>\n", path);
        return 1;
    }
    platform::TracePlatform traced(*native, trace_file);
    int status = 0;
    {
        const platform::TraceConsole console(traced);
        traced.record_start(tool_version(), command_line, platform::trace_wall_clock_now());
        platform::install(&traced);
        status = frontend_main(argc, argv, option_set::with_trace);
        traced.record_exit(status);
    }
    platform::install(nullptr);
    return status;
}
