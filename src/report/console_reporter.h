// The console: the tool's texts, dots, waits and banners on standard output,
// its error lines on standard error, each written out as soon as it is
// complete so that a log of both streams keeps their order.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "report/reporter.h"

// Where the console's text goes: the two standard streams, or a capture.
struct console_sink {
    std::function<void(std::string_view)> out;
    std::function<void(std::string_view)> err;
};

// Writes to `out` and `err` at once, `out` first where both have text, so
// that a log of both streams keeps their order.
console_sink console_streams(std::FILE* out = stdout, std::FILE* err = stderr);

// The console's text of a run, kept for tests and the fault sweep.
struct console_capture {
    std::string out;
    std::string err;
    std::string both;  // as a log of both streams would show them
    console_sink sink();
};

class console_reporter final : public reporter {
public:
    // `build_date` goes into the start banner.
    explicit console_reporter(std::string build_date, console_sink sink = console_streams());

    void start(std::span<char* const> argv) override;
    void say(std::string_view text) override;
    void device(const usb_device_identity& device, run_path path) override;
    void listed(const listed_device& entry) override;
    void phase_begin(phase step, std::string_view detail) override;
    void progress(phase step, std::uint64_t done, std::uint64_t total) override;
    void poll(phase step) override;
    void phase_end(phase step, const outcome& result) override;
    void waited(bool back, std::uint16_t product_id, std::optional<std::uint16_t> release) override;
    void info(info_kind kind, std::string_view text, std::int64_t value) override;
    void peer(const link_peer& peer) override;
    void notice(std::string_view text) override;
    void hint(std::string_view text) override;
    void error(const error_report& report) override;
    void finished(const device_result& device) override;
    void summary(std::span<const device_result> devices) override;
    void tally(unsigned upgraded, unsigned failed) override;
    void result(const outcome& result, int exit_status) override;

private:
    void out(std::string_view text);
    void err(std::string_view text);
    // The link's step lines: "LOG:" starts each line, a line built from
    // several pieces gets it once.
    void link_log(std::string_view text);
    void dots_to(std::uint64_t percent);

    std::string build_date_;
    console_sink sink_;
    run_path path_ = run_path::hid;
    bool link_line_open_ = false;
    std::uint64_t dot_mark_ = 0;  // percent up to which progress dots are written
    std::uint64_t previous_done_ = 0;
};

// "serial TC0001", "no serial", "serial unknown" (a device not opened), or a
// serial with spaces, quotes or bytes that do not print shown in quotes with
// escapes: serial "TC 0001\x01".
std::string device_serial_text(const usb_device_identity& device);

// "HID", "DFU" or "KXP": the path as the console names it.
const char* interface_name(run_path path);
