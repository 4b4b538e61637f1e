#include "platform/trace.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "platform/trace_ops.h"

namespace platform {

std::string trace_quote(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (c == '\n') {
            quoted += "\\n";  // console lines end in it
        } else if (byte < 0x20 || byte >= 0x7F) {
            // Names from the system are bytes, not necessarily UTF-8: escape
            // everything outside printable ASCII so each line stays valid JSON.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string trace_hex(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const auto b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 0xF];
    }
    return hex;
}

namespace {

// The device of the calling thread's worker; "" outside a worker.
thread_local std::string worker_location;

const char* error_name(UsbError error) {
    switch (error) {
        case UsbError::none: return "none";
        case UsbError::general_failure: return "general_failure";
        case UsbError::device_gone: return "device_gone";
        case UsbError::timeout: return "timeout";
        case UsbError::other: return "other";
    }
    return "other";
}

}  // namespace

// One JSON object under construction; written, with its line end, when it
// goes out of scope.
class TracePlatform::Line {
public:
    // A call's record. The console text written before the call is recorded
    // first.
    // The flush comes before the lock: a console stream holds its own lock
    // while it records its text here, and the two are never taken the other
    // way round.
    Line(TracePlatform& trace, const char* op) : trace_(trace), lock_(trace.mutex_, std::defer_lock) {
        if (trace.flush_console_ != nullptr) trace.flush_console_();
        lock_.lock();
        trace.end_console_line();
        begin(op);
    }
    // A record of the run itself (start, console text): nothing before it.
    struct run_record {};
    Line(TracePlatform& trace, const char* op, run_record) : trace_(trace), lock_(trace.mutex_) { begin(op); }
    ~Line() { trace_.out_ << text_ << "}\n" << std::flush; }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    Line& raw(const char* key, const std::string& json) {
        text_ += ",\"";
        text_ += key;
        text_ += "\":";
        text_ += json;
        return *this;
    }
    Line& number(const char* key, std::uint64_t value) { return raw(key, std::to_string(value)); }
    Line& text(const char* key, std::string_view value) { return raw(key, trace_quote(value)); }
    Line& hex(const char* key, std::span<const std::uint8_t> bytes) { return raw(key, "\"" + trace_hex(bytes) + "\""); }
    // A failed call also carries the system's own error, where it is known.
    Line& ok(bool value) {
        raw("ok", value ? "true" : "false");
        if (value) return *this;
        const std::string os_error = trace_.inner_.last_os_error();
        return os_error.empty() ? *this : text("os_error", os_error);
    }
    Line& texts(const char* key, const std::vector<std::string>& values) {
        std::string json = "[";
        for (const auto& value : values) json += (json.size() > 1 ? "," : "") + trace_quote(value);
        return raw(key, json + "]");
    }
    // The byte count of a transfer that moved less (or claims more) than it
    // was given; absent when it moved everything.
    Line& transferred(bool ok, std::size_t sent, std::size_t moved) {
        if (ok && moved != sent) number("transferred", moved);
        return *this;
    }
    Line& error(UsbError value) {
        ok(value == UsbError::none);
        if (value != UsbError::none) text("error", error_name(value));
        return *this;
    }

private:
    void begin(const char* op) {
        text_ = "{\"t\":" + std::to_string(trace_.inner_.now_ms() - trace_.start_ms_) + ",\"op\":\"" + op + "\"";
        // A worker's calls carry its device, so that one trace of a run on
        // several devices tells them apart.
        if (!worker_location.empty()) text("worker", worker_location);
    }

    TracePlatform& trace_;
    std::unique_lock<std::recursive_mutex> lock_;
    std::string text_;
};

TracePlatform::TracePlatform(Platform& inner, std::ostream& out)
    : ForwardingPlatform(inner), out_(out), start_ms_(inner.now_ms()) {}

void TracePlatform::record_start(std::string_view version, std::span<char* const> command_line,
                                 std::string_view started) {
    std::vector<std::string> words(command_line.begin(), command_line.end());
    Line(*this, trace_op::START, Line::run_record{})
        .text("version", version)
        .texts("command_line", words)
        .text("platform", inner_.backend_name())
        .text("started", started);
}

void TracePlatform::record_console(std::string_view stream, std::string_view text) {
    const std::lock_guard lock(mutex_);
    if (!open_line_.empty() && stream != open_stream_) end_console_line();
    open_stream_ = stream;
    for (;;) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) break;
        open_line_ += text.substr(0, end + 1);
        end_console_line();
        text.remove_prefix(end + 1);
    }
    open_line_ += text;
}

void TracePlatform::end_console_line() {
    if (open_line_.empty()) return;
    Line(*this, trace_op::CONSOLE, Line::run_record{}).text("stream", open_stream_).text("text", open_line_);
    open_line_.clear();
}

void TracePlatform::worker_begins(const std::string& location) {
    worker_location = location;
    inner_.worker_begins(location);
}

void TracePlatform::worker_ends() {
    inner_.worker_ends();
    worker_location.clear();
}

void TracePlatform::record_exit(int status) {
    Line(*this, trace_op::EXIT).raw("status", std::to_string(status));
}

bool TracePlatform::usb_device_names(std::vector<std::string>& names) {
    const bool ok = inner_.usb_device_names(names);
    Line line(*this, trace_op::NAMES);
    line.ok(ok).number("count", ok ? names.size() : 0);
    if (ok) line.texts("names", names);
    return ok;
}

UsbHandle TracePlatform::usb_open(const std::string& name) {
    const UsbHandle handle = inner_.usb_open(name);
    Line(*this, trace_op::OPEN).text("dev", name).ok(handle != 0).number("handle", handle);
    return handle;
}

void TracePlatform::usb_close(UsbHandle handle) {
    inner_.usb_close(handle);
    Line(*this, trace_op::CLOSE).number("dev", handle).ok(true);
}

bool TracePlatform::usb_get_descriptor(UsbHandle handle, std::uint8_t type, std::uint8_t index,
                                       std::uint16_t language, std::span<std::uint8_t> buffer,
                                       std::size_t& transferred) {
    const bool ok = inner_.usb_get_descriptor(handle, type, index, language, buffer, transferred);
    Line line(*this, trace_op::DESCRIPTOR);
    line.number("dev", handle).ok(ok).number("type", type).number("index", index).number("language", language);
    if (ok) line.hex("data", buffer.first(std::min(transferred, buffer.size())));
    return ok;
}

UsbError TracePlatform::usb_control_transfer(UsbHandle handle, const std::uint8_t (&setup)[8],
                                             std::span<std::uint8_t> buffer, std::size_t& transferred) {
    // Host-to-device data is recorded as sent, before the call; device-to-
    // host data as received, after it.
    const bool in = (setup[0] & 0x80) != 0;
    const std::size_t length = static_cast<std::size_t>(setup[6] | (setup[7] << 8));
    const std::size_t sent_length = in ? 0 : std::min(length, buffer.size());
    const std::string sent = trace_hex(buffer.first(sent_length));
    const UsbError error = inner_.usb_control_transfer(handle, setup, buffer, transferred);
    Line line(*this, trace_op::CONTROL);
    line.number("dev", handle).error(error).raw("setup", "\"" + trace_hex(setup) + "\"");
    if (!in) line.raw("data", "\"" + sent + "\"").transferred(error == UsbError::none, sent_length, transferred);
    else if (error == UsbError::none) line.hex("data", buffer.first(std::min(transferred, buffer.size())));
    return error;
}

UsbError TracePlatform::usb_read_pipe(UsbHandle handle, std::uint8_t pipe_id, std::span<std::uint8_t> buffer,
                                      std::size_t& transferred) {
    const UsbError error = inner_.usb_read_pipe(handle, pipe_id, buffer, transferred);
    Line line(*this, trace_op::READ_PIPE);
    line.number("dev", handle).error(error).number("pipe", pipe_id);
    if (error == UsbError::none) line.hex("data", buffer.first(std::min(transferred, buffer.size())));
    return error;
}

UsbError TracePlatform::usb_write_pipe(UsbHandle handle, std::uint8_t pipe_id, std::span<const std::uint8_t> buffer,
                                       std::size_t& transferred) {
    const UsbError error = inner_.usb_write_pipe(handle, pipe_id, buffer, transferred);
    Line(*this, trace_op::WRITE_PIPE)
        .number("dev", handle)
        .error(error)
        .number("pipe", pipe_id)
        .hex("data", buffer)
        .transferred(error == UsbError::none, buffer.size(), transferred);
    return error;
}

bool TracePlatform::usb_interface_settings(UsbHandle handle, std::uint8_t alternate, UsbInterfaceInfo& info) {
    const bool ok = inner_.usb_interface_settings(handle, alternate, info);
    Line line(*this, trace_op::SETTINGS);
    line.number("dev", handle).ok(ok).number("alternate", alternate);
    if (ok)
        line.number("interface", info.interface_number)
            .number("endpoints", info.num_endpoints)
            .number("class", info.interface_class)
            .number("setting", info.alternate_setting)
            .number("subclass", info.interface_subclass)
            .number("protocol", info.interface_protocol);
    return ok;
}

bool TracePlatform::usb_query_pipe(UsbHandle handle, std::uint8_t alternate, std::uint8_t pipe_index,
                                   UsbPipeInfo& info) {
    const bool ok = inner_.usb_query_pipe(handle, alternate, pipe_index, info);
    Line line(*this, trace_op::PIPE);
    line.number("dev", handle).ok(ok).number("alternate", alternate).number("index", pipe_index);
    if (ok)
        line.number("pipe", info.pipe_id)
            .number("type", info.pipe_type)
            .number("max_packet", info.max_packet_size)
            .number("interval", info.interval);
    return ok;
}

bool TracePlatform::usb_serial_number(UsbHandle handle, std::string& serial) {
    const bool ok = inner_.usb_serial_number(handle, serial);
    Line line(*this, trace_op::SERIAL);
    line.number("dev", handle).ok(ok);
    if (ok) line.text("serial", serial);
    return ok;
}

void TracePlatform::record_placement(Line& line, bool ok, const UsbPlacement& placement) {
    if (!ok) return;
    line.text("location", placement.location);
    if (placement.enumeration) line.number("enumeration", *placement.enumeration);
}

bool TracePlatform::usb_placement(UsbHandle handle, UsbPlacement& placement) {
    const bool ok = inner_.usb_placement(handle, placement);
    Line line(*this, trace_op::PLACEMENT);
    line.number("dev", handle).ok(ok);
    record_placement(line, ok, placement);
    return ok;
}

bool TracePlatform::hid_placement(HidHandle handle, UsbPlacement& placement) {
    const bool ok = inner_.hid_placement(handle, placement);
    Line line(*this, trace_op::HID_PLACEMENT);
    line.number("dev", handle).ok(ok);
    record_placement(line, ok, placement);
    return ok;
}

bool TracePlatform::hid_paths(std::vector<std::string>& paths) {
    const bool ok = inner_.hid_paths(paths);
    Line line(*this, trace_op::HID_LIST);
    line.ok(ok).number("count", ok ? paths.size() : 0);
    if (ok) line.texts("paths", paths);
    return ok;
}

HidHandle TracePlatform::hid_open(const std::string& path) {
    const HidHandle handle = inner_.hid_open(path);
    Line(*this, trace_op::HID_OPEN).text("dev", path).ok(handle != 0).number("handle", handle);
    return handle;
}

void TracePlatform::hid_close(HidHandle handle) {
    inner_.hid_close(handle);
    Line(*this, trace_op::HID_CLOSE).number("dev", handle).ok(true);
}

bool TracePlatform::hid_attributes(HidHandle handle, HidAttributes& attributes) {
    const bool ok = inner_.hid_attributes(handle, attributes);
    Line line(*this, trace_op::HID_ATTRIBUTES);
    line.number("dev", handle).ok(ok);
    if (ok) line.number("vid", attributes.vendor_id).number("pid", attributes.product_id).number("version", attributes.version);
    return ok;
}

bool TracePlatform::hid_caps(HidHandle handle, HidCaps& caps) {
    const bool ok = inner_.hid_caps(handle, caps);
    Line line(*this, trace_op::HID_CAPS);
    line.number("dev", handle).ok(ok);
    if (ok)
        line.number("usage_page", caps.usage_page)
            .number("usage", caps.usage)
            .number("feature_length", caps.feature_report_length)
            .number("input_length", caps.input_report_length)
            .number("output_length", caps.output_report_length);
    return ok;
}

bool TracePlatform::hid_get_feature(HidHandle handle, std::span<std::uint8_t> report) {
    const bool ok = inner_.hid_get_feature(handle, report);
    Line line(*this, trace_op::GET_FEATURE);
    line.number("dev", handle).ok(ok);
    if (ok) line.hex("data", report);
    return ok;
}

bool TracePlatform::hid_set_feature(HidHandle handle, std::span<const std::uint8_t> report) {
    const bool ok = inner_.hid_set_feature(handle, report);
    Line(*this, trace_op::SET_FEATURE).number("dev", handle).ok(ok).hex("data", report);
    return ok;
}

bool TracePlatform::hid_serial_number(HidHandle handle, std::string& serial) {
    const bool ok = inner_.hid_serial_number(handle, serial);
    Line line(*this, trace_op::HID_SERIAL);
    line.number("dev", handle).ok(ok);
    if (ok) line.text("serial", serial);
    return ok;
}

void TracePlatform::sleep_ms(std::uint32_t milliseconds) {
    // The line carries the time the sleep began; it is written before the
    // sleep, which may wait for other threads' records.
    Line(*this, trace_op::SLEEP).ok(true).number("ms", milliseconds);
    inner_.sleep_ms(milliseconds);
}

void TracePlatform::console_clear_quick_edit() {
    inner_.console_clear_quick_edit();
    Line(*this, trace_op::QUICK_EDIT).ok(true);
}

}  // namespace platform
