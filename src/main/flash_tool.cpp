// The flash-tool executable: the front end over the operating system's own
// platform backend, optionally recording every platform call (--trace FILE).
#include <cstdio>
#include <fstream>
#include <memory>

#include "frontend/frontend.h"
#include "main/trace_option.h"
#include "platform/native.h"
#include "platform/trace.h"

int main(int argc, char** argv) {
    trace_option trace = take_trace_option(argc, argv);
    if (trace.missing_file) {
        std::fputs("flash-tool: option --trace needs a file name\n", stderr);
        return 1;
    }
    std::unique_ptr<platform::Platform> native = platform_make_native();
    std::ofstream trace_file;
    std::unique_ptr<platform::TracePlatform> traced;
    if (trace.file) {
        trace_file.open(*trace.file, std::ios::out | std::ios::trunc);
        if (!trace_file) {
            std::fprintf(stderr, "flash-tool: cannot write the trace file <%s>\n", trace.file->c_str());
            return 1;
        }
        traced = std::make_unique<platform::TracePlatform>(*native, trace_file);
    }
    platform::install(traced ? static_cast<platform::Platform*>(traced.get()) : native.get());
    const int status = frontend_main(static_cast<int>(trace.arguments.size() - 1), trace.arguments.data());
    platform::install(nullptr);
    return status;
}
