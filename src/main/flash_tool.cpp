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

// The whole program, on arguments in UTF-8.
int run(int argc, char** argv) {
    // The command line as given, before the parser reorders it.
    const std::vector<char*> command_line(argv, argv + argc);
    std::unique_ptr<platform::Platform> native = platform_make_native();
    const char* path = trace_path(argc, argv);
    if (path == nullptr) return frontend_main(*native, argc, argv, option_set::with_trace);

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
        status = frontend_main(traced, argc, argv, option_set::with_trace);
        traced.record_exit(status);
    }
    return status;
}

#ifdef _WIN32
#include <windows.h>

#include <string>
#include <vector>

// Windows keeps the command line in UTF-16; main()'s arguments come in the
// ANSI code page, which cannot carry a serial number beyond it. The front
// end takes UTF-8, as the backend gives the devices' strings.
int wmain(int argc, wchar_t** wide_argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide_argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string argument(size > 0 ? static_cast<std::size_t>(size) : 1, '\0');
        if (size > 0) WideCharToMultiByte(CP_UTF8, 0, wide_argv[i], -1, argument.data(), size, nullptr, nullptr);
        argument.resize(std::char_traits<char>::length(argument.c_str()));
        arguments.push_back(std::move(argument));
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return run(argc, argv.data());
}
#else
int main(int argc, char** argv) { return run(argc, argv); }
#endif
