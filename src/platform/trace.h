// A decorator over any platform backend that records every primitive call
// as one JSON object per line, between a first record of the run ("start":
// version, command line, platform, wall-clock time) and a last one ("exit":
// the exit status), with the console text the user saw in order with the
// calls ("console": stream and text). Each call record has "t" (milliseconds since the decorator was
// made, from the inner platform's clock), "op", "dev" (name, path or
// handle), "ok", "worker" (the device of the worker thread that made the
// call, in a run on several devices), and per op the setup packet, pipe, data bytes (hex), the
// lists of names or paths, or sleep length: enough to answer every call again
// (flash-tool-sim --sim-replay). Used for field diagnostics and by tests.
// Calls that are not device calls (the clock, the backend's name, the
// diagnostics, the device lock and the departure watch) pass through
// unrecorded.
#pragma once

#include <cstdint>
#include <mutex>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "platform/forwarding_platform.h"

namespace platform {

class TracePlatform : public ForwardingPlatform {
public:
    TracePlatform(Platform& inner, std::ostream& out);

    // The first record: the tool's version, the command line, the inner
    // platform's backend name and `started`, the wall-clock start time.
    void record_start(std::string_view version, std::span<char* const> command_line, std::string_view started);
    // Console text as it was written to `stream` ("stdout" or "stderr"): one
    // record per line; a line not yet ended is recorded before the next
    // record of another kind, so the text stays in order with the calls.
    void record_console(std::string_view stream, std::string_view text);
    // The last record. Records what console text is still open first.
    void record_exit(int status);
    // Called before each record of a call, the exit record included, with no
    // record under way: the owner flushes the console streams there, so text
    // written before a call is recorded before it.
    void on_before_call(void (*flush)()) { flush_console_ = flush; }

    bool usb_device_names(std::vector<std::string>& names) override;
    UsbHandle usb_open(const std::string& name) override;
    void usb_close(UsbHandle handle) override;
    bool usb_get_descriptor(UsbHandle handle, std::uint8_t type, std::uint8_t index, std::uint16_t language,
                            std::span<std::uint8_t> buffer, std::size_t& transferred) override;
    UsbError usb_control_transfer(UsbHandle handle, const std::uint8_t (&setup)[8], std::span<std::uint8_t> buffer,
                                  std::size_t& transferred) override;
    UsbError usb_read_pipe(UsbHandle handle, std::uint8_t pipe_id, std::span<std::uint8_t> buffer,
                           std::size_t& transferred) override;
    UsbError usb_write_pipe(UsbHandle handle, std::uint8_t pipe_id, std::span<const std::uint8_t> buffer,
                            std::size_t& transferred) override;
    bool usb_interface_settings(UsbHandle handle, std::uint8_t alternate, UsbInterfaceInfo& info) override;
    bool usb_query_pipe(UsbHandle handle, std::uint8_t alternate, std::uint8_t pipe_index,
                        UsbPipeInfo& info) override;
    bool usb_serial_number(UsbHandle handle, std::string& serial) override;
    bool usb_placement(UsbHandle handle, UsbPlacement& placement) override;

    bool hid_paths(std::vector<std::string>& paths) override;
    HidHandle hid_open(const std::string& path) override;
    void hid_close(HidHandle handle) override;
    bool hid_attributes(HidHandle handle, HidAttributes& attributes) override;
    bool hid_caps(HidHandle handle, HidCaps& caps) override;
    bool hid_get_feature(HidHandle handle, std::span<std::uint8_t> report) override;
    bool hid_set_feature(HidHandle handle, std::span<const std::uint8_t> report) override;
    bool hid_serial_number(HidHandle handle, std::string& serial) override;
    bool hid_placement(HidHandle handle, UsbPlacement& placement) override;

    void worker_begins(const std::string& location) override;
    void worker_ends() override;
    void sleep_ms(std::uint32_t milliseconds) override;
    void console_clear_quick_edit() override;

private:
    class Line;

    static void record_placement(Line& line, bool ok, const UsbPlacement& placement);
    // Records the open console line, if any.
    void end_console_line();

    // Workers record from several threads: one record at a time, whole.
    std::recursive_mutex mutex_;
    std::ostream& out_;
    std::uint64_t start_ms_;
    void (*flush_console_)() = nullptr;
    std::string open_stream_;  // the stream of `open_line_`
    std::string open_line_;    // console text after the last line end recorded
};

// JSON helpers, shared with the tests: a quoted, escaped string and the
// lower-case hex of bytes.
std::string trace_quote(std::string_view text);
std::string trace_hex(std::span<const std::uint8_t> bytes);

}  // namespace platform
