#include "platform/trace_console.h"

#include <ctime>

#ifdef __GLIBC__
#include <unistd.h>
#endif

namespace platform {
namespace {

#ifdef __GLIBC__
// Passes the bytes on to the real stream at once (the tee stream does the
// buffering its stand-in would do) and records them.
ssize_t tee_write(void* cookie, const char* data, std::size_t size) {
    const TraceConsole::Stream& stream = *static_cast<const TraceConsole::Stream*>(cookie);
    const std::size_t written = std::fwrite(data, 1, size, stream.real);
    std::fflush(stream.real);
    if (written > 0) stream.trace->record_console(stream.name, {data, written});
    return written == 0 && size > 0 ? -1 : static_cast<ssize_t>(written);
}

void flush_console() {
    std::fflush(stdout);
    std::fflush(stderr);
}

std::FILE* open_tee(TraceConsole::Stream& stream, int mode) {
    std::FILE* tee = fopencookie(&stream, "w", cookie_io_functions_t{nullptr, tee_write, nullptr, nullptr});
    if (tee != nullptr) std::setvbuf(tee, nullptr, mode, mode == _IONBF ? 0 : BUFSIZ);
    return tee;
}
#endif

}  // namespace

TraceConsole::TraceConsole([[maybe_unused]] TracePlatform& trace) {
#ifdef __GLIBC__
    std::fflush(stdout);
    std::fflush(stderr);
    out_ = {stdout, "stdout", &trace};
    err_ = {stderr, "stderr", &trace};
    // The buffering the C library gives the streams themselves: standard
    // output by lines on a terminal, else in blocks; standard error none.
    out_tee_ = open_tee(out_, isatty(fileno(stdout)) ? _IOLBF : _IOFBF);
    err_tee_ = open_tee(err_, _IONBF);
    if (out_tee_ == nullptr || err_tee_ == nullptr) return;
    stdout = out_tee_;
    stderr = err_tee_;
    trace.on_before_call(flush_console);
#endif
}

TraceConsole::~TraceConsole() {
#ifdef __GLIBC__
    if (out_.trace != nullptr) out_.trace->on_before_call(nullptr);
    if (out_tee_ != nullptr && err_tee_ != nullptr) {
        stdout = out_.real;
        stderr = err_.real;
    }
    if (out_tee_ != nullptr) std::fclose(out_tee_);
    if (err_tee_ != nullptr) std::fclose(err_tee_);
#endif
}

std::string trace_wall_clock_now() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(text, length);
}

}  // namespace platform
