#include "sim/replay_platform.h"

#include <algorithm>

#include "platform/trace.h"
#include "platform/trace_ops.h"

namespace sim {
namespace {

namespace trace_op = platform::trace_op;

using platform::UsbError;

// Longer data is shown as its first bytes (or those from the first
// difference) and its length.
constexpr std::size_t SHOWN_BYTES = 16;

enum class Kind { number, text, hex };

bool is_in_request(const ReplayCall& call) {
    const auto setup = replay_bytes(call, "setup");
    return !setup.empty() && (setup[0] & 0x80) != 0;
}

// The keys that make up the request of a recorded call: what the tool
// chose, as opposed to what the device answered.
std::vector<std::pair<const char*, Kind>> request_keys(const ReplayCall& call) {
    const std::string& op = call.op;
    if (op == trace_op::OPEN || op == trace_op::HID_OPEN) return {{"dev", Kind::text}};
    if (op == trace_op::DESCRIPTOR)
        return {{"dev", Kind::number}, {"type", Kind::number}, {"index", Kind::number}, {"language", Kind::number}};
    if (op == trace_op::CONTROL) {
        if (is_in_request(call)) return {{"dev", Kind::number}, {"setup", Kind::hex}};
        return {{"dev", Kind::number}, {"setup", Kind::hex}, {"data", Kind::hex}};
    }
    if (op == trace_op::READ_PIPE) return {{"dev", Kind::number}, {"pipe", Kind::number}};
    if (op == trace_op::WRITE_PIPE) return {{"dev", Kind::number}, {"pipe", Kind::number}, {"data", Kind::hex}};
    if (op == trace_op::SETTINGS) return {{"dev", Kind::number}, {"alternate", Kind::number}};
    if (op == trace_op::PIPE) return {{"dev", Kind::number}, {"alternate", Kind::number}, {"index", Kind::number}};
    if (op == trace_op::SET_FEATURE) return {{"dev", Kind::number}, {"data", Kind::hex}};
    if (op == trace_op::SLEEP) return {{"ms", Kind::number}};
    if (op == trace_op::NAMES || op == trace_op::HID_LIST || op == trace_op::QUICK_EDIT) return {};
    return {{"dev", Kind::number}};
}

std::uint64_t number(const ReplayCall& call, const char* key) {
    const auto found = call.fields.find(key);
    return found != call.fields.end() && found->second.kind == TraceValue::Kind::number ? found->second.number : 0;
}

std::string text(const ReplayCall& call, const char* key) {
    const auto found = call.fields.find(key);
    return found != call.fields.end() && found->second.kind == TraceValue::Kind::string ? found->second.text : "";
}

std::vector<std::string> texts(const ReplayCall& call, const char* key) {
    const auto found = call.fields.find(key);
    return found != call.fields.end() ? found->second.strings : std::vector<std::string>();
}

std::string shown_hex(const std::vector<std::uint8_t>& bytes, std::size_t from) {
    if (bytes.size() <= 2 * SHOWN_BYTES) return platform::trace_hex(bytes);
    from = std::min(from, bytes.size() - SHOWN_BYTES);
    const std::string part = platform::trace_hex(std::span(bytes).subspan(from, SHOWN_BYTES));
    return part + "... (" + std::to_string(bytes.size()) + " bytes" +
           (from == 0 ? "" : ", shown from byte " + std::to_string(from)) + ")";
}

std::string calls_text(std::size_t count) { return std::to_string(count) + (count == 1 ? " call" : " calls"); }

UsbError error_of(const ReplayCall& call) {
    if (call.ok) return UsbError::none;
    const std::string name = text(call, "error");
    if (name == "general_failure") return UsbError::general_failure;
    if (name == "device_gone") return UsbError::device_gone;
    if (name == "timeout") return UsbError::timeout;
    return UsbError::other;
}

}  // namespace

// A call as the tool made it: its operation, the values of its request keys
// and the room it gives for data read.
class ReplayPlatform::Request {
public:
    explicit Request(const char* op) : op_(op) {}
    Request& number(const char* key, std::uint64_t value) {
        fields_.push_back({key, Kind::number, std::to_string(value), {}});
        return *this;
    }
    Request& text(const char* key, const std::string& value) {
        fields_.push_back({key, Kind::text, value, {}});
        return *this;
    }
    Request& hex(const char* key, std::span<const std::uint8_t> bytes) {
        fields_.push_back({key, Kind::hex, "", {bytes.begin(), bytes.end()}});
        return *this;
    }
    // Data read must fit `bytes` (or, `exact`, fill it).
    Request& room(std::size_t bytes, bool exact = false) {
        room_ = bytes;
        exact_ = exact;
        return *this;
    }

    // What differs between this request and a recorded call; empty when
    // nothing does.
    std::string compare(const ReplayCall& call) const {
        if (call.op != op_) return "the operation differs";
        for (const Field& field : fields_) {
            const std::string key = "\"" + field.key + "\"";
            if (field.kind == Kind::hex) {
                const auto recorded = replay_bytes(call, field.key);
                if (recorded == field.bytes) continue;
                const auto [mine, theirs] = std::mismatch(field.bytes.begin(), field.bytes.end(), recorded.begin(),
                                                          recorded.end());
                if (mine == field.bytes.end() || theirs == recorded.end())
                    return key + " differs in length (" + std::to_string(recorded.size()) + " bytes recorded, " +
                           std::to_string(field.bytes.size()) + " asked)";
                return key + " differs from byte " + std::to_string(mine - field.bytes.begin());
            }
            const std::string recorded = field.kind == Kind::number ? std::to_string(sim::number(call, field.key.c_str()))
                                                                    : sim::text(call, field.key.c_str());
            if (recorded != field.value) return key + " differs";
        }
        if (room_ && call.ok && call.fields.count("data") != 0) {
            const std::size_t recorded = replay_bytes(call, "data").size();
            if (exact_ ? recorded != *room_ : recorded > *room_)
                return "the recorded call read " + std::to_string(recorded) + " bytes, the tool's buffer holds " +
                       std::to_string(*room_);
        }
        return "";
    }

    // "op key=value ..."; hex shown from byte `from`.
    std::string describe(std::size_t from) const {
        std::string out = op_;
        for (const Field& field : fields_) {
            out += " " + field.key + "=";
            if (field.kind == Kind::number) out += field.value;
            else if (field.kind == Kind::text) out += platform::trace_quote(field.value);
            else out += shown_hex(field.bytes, from);
        }
        return out;
    }

    // The same form for a recorded call, over its own request keys.
    static std::string describe(const ReplayCall& call, std::size_t from) {
        Request request(call.op.c_str());
        for (const auto& [key, kind] : request_keys(call)) {
            if (kind == Kind::number) request.number(key, sim::number(call, key));
            else if (kind == Kind::text) request.text(key, sim::text(call, key));
            else request.hex(key, replay_bytes(call, key));
        }
        return request.describe(from);
    }

    // The byte where hex data differs, to show both sides from there.
    std::size_t first_difference(const ReplayCall& call) const {
        for (const Field& field : fields_) {
            if (field.kind != Kind::hex) continue;
            const auto recorded = replay_bytes(call, field.key);
            const auto [mine, theirs] =
                std::mismatch(field.bytes.begin(), field.bytes.end(), recorded.begin(), recorded.end());
            if (mine != field.bytes.end() || theirs != recorded.end())
                return static_cast<std::size_t>(mine - field.bytes.begin());
        }
        return 0;
    }

private:
    struct Field {
        std::string key;
        Kind kind;
        std::string value;
        std::vector<std::uint8_t> bytes;
    };
    std::string op_;
    std::vector<Field> fields_;
    std::optional<std::size_t> room_;
    bool exact_ = false;
};

std::string replay_difference_text(const ReplayDifference& difference) {
    std::string text = "replay: call " + std::to_string(difference.call) + " differs from the recording";
    if (difference.line != 0) text += " (line " + std::to_string(difference.line) + ")";
    return text + ": " + difference.what + "\n  recorded: " + difference.recorded + "\n  asked:    " +
           difference.asked + "\n";
}

ReplayPlatform::ReplayPlatform(std::vector<ReplayCall> calls) : calls_(std::move(calls)) {}

void ReplayPlatform::differ(ReplayDifference difference) {
    difference_ = std::move(difference);
    if (handler_) handler_(*difference_);
}

const ReplayCall* ReplayPlatform::take(const Request& asked) {
    ++asked_;
    if (difference_) return nullptr;
    if (next_ == calls_.size()) {
        differ({asked_, 0, "the recording ends",
                "nothing (the recording ends after " + calls_text(calls_.size()) + ")", asked.describe(0)});
        return nullptr;
    }
    const ReplayCall& call = calls_[next_];
    const std::string what = asked.compare(call);
    if (!what.empty()) {
        const std::size_t from = asked.first_difference(call);
        differ({asked_, call.line, what, Request::describe(call, from), asked.describe(from)});
        return nullptr;
    }
    ++next_;
    clock_ms_ = std::max(clock_ms_, call.t);
    return &call;
}

bool ReplayPlatform::finish() {
    if (difference_) return false;
    if (next_ == calls_.size()) return true;
    const ReplayCall& call = calls_[next_];
    differ({asked_ + 1, call.line, "the run ended", Request::describe(call, 0),
            "nothing (the run ended after " + calls_text(asked_) + ")"});
    return false;
}

void ReplayPlatform::read_into(const ReplayCall& call, std::span<std::uint8_t> buffer, std::size_t& transferred) {
    // The request's room was checked against the data's length.
    const auto data = replay_bytes(call, "data");
    transferred = std::min(data.size(), buffer.size());
    std::copy_n(data.begin(), transferred, buffer.begin());
}

bool ReplayPlatform::usb_device_names(std::vector<std::string>& names) {
    names.clear();
    const ReplayCall* call = take(Request(trace_op::NAMES));
    if (call == nullptr || !call->ok) return false;
    names = texts(*call, "names");
    return true;
}

platform::UsbHandle ReplayPlatform::usb_open(const std::string& name) {
    const ReplayCall* call = take(Request(trace_op::OPEN).text("dev", name));
    return call != nullptr && call->ok ? static_cast<platform::UsbHandle>(number(*call, "handle")) : 0;
}

void ReplayPlatform::usb_close(platform::UsbHandle handle) { take(Request(trace_op::CLOSE).number("dev", handle)); }

bool ReplayPlatform::usb_get_descriptor(platform::UsbHandle handle, std::uint8_t type, std::uint8_t index,
                                        std::uint16_t language, std::span<std::uint8_t> buffer,
                                        std::size_t& transferred) {
    transferred = 0;
    const ReplayCall* call = take(Request(trace_op::DESCRIPTOR)
                                      .number("dev", handle)
                                      .number("type", type)
                                      .number("index", index)
                                      .number("language", language)
                                      .room(buffer.size()));
    if (call == nullptr || !call->ok) return false;
    read_into(*call, buffer, transferred);
    return true;
}

UsbError ReplayPlatform::usb_control_transfer(platform::UsbHandle handle, const std::uint8_t (&setup)[8],
                                              std::span<std::uint8_t> buffer, std::size_t& transferred) {
    transferred = 0;
    const bool in = (setup[0] & 0x80) != 0;
    const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(setup[6] | (setup[7] << 8)), buffer.size());
    Request request(trace_op::CONTROL);
    request.number("dev", handle).hex("setup", setup);
    if (in) request.room(length);
    else request.hex("data", buffer.first(length));
    const ReplayCall* call = take(request);
    if (call == nullptr) return UsbError::other;
    if (!call->ok) return error_of(*call);
    if (in) read_into(*call, buffer.first(length), transferred);
    else transferred = call->fields.count("transferred") != 0 ? number(*call, "transferred") : length;
    return UsbError::none;
}

UsbError ReplayPlatform::usb_read_pipe(platform::UsbHandle handle, std::uint8_t pipe_id,
                                       std::span<std::uint8_t> buffer, std::size_t& transferred) {
    transferred = 0;
    const ReplayCall* call =
        take(Request(trace_op::READ_PIPE).number("dev", handle).number("pipe", pipe_id).room(buffer.size()));
    if (call == nullptr) return UsbError::other;
    if (!call->ok) return error_of(*call);
    read_into(*call, buffer, transferred);
    return UsbError::none;
}

UsbError ReplayPlatform::usb_write_pipe(platform::UsbHandle handle, std::uint8_t pipe_id,
                                        std::span<const std::uint8_t> buffer, std::size_t& transferred) {
    transferred = 0;
    const ReplayCall* call =
        take(Request(trace_op::WRITE_PIPE).number("dev", handle).number("pipe", pipe_id).hex("data", buffer));
    if (call == nullptr) return UsbError::other;
    if (!call->ok) return error_of(*call);
    transferred = call->fields.count("transferred") != 0 ? number(*call, "transferred") : buffer.size();
    return UsbError::none;
}

bool ReplayPlatform::usb_interface_settings(platform::UsbHandle handle, std::uint8_t alternate,
                                            platform::UsbInterfaceInfo& info) {
    const ReplayCall* call = take(Request(trace_op::SETTINGS).number("dev", handle).number("alternate", alternate));
    if (call == nullptr || !call->ok) return false;
    info.interface_number = static_cast<std::uint8_t>(number(*call, "interface"));
    info.alternate_setting = static_cast<std::uint8_t>(number(*call, "setting"));
    info.num_endpoints = static_cast<std::uint8_t>(number(*call, "endpoints"));
    info.interface_class = static_cast<std::uint8_t>(number(*call, "class"));
    info.interface_subclass = static_cast<std::uint8_t>(number(*call, "subclass"));
    info.interface_protocol = static_cast<std::uint8_t>(number(*call, "protocol"));
    return true;
}

bool ReplayPlatform::usb_query_pipe(platform::UsbHandle handle, std::uint8_t alternate, std::uint8_t pipe_index,
                                    platform::UsbPipeInfo& info) {
    const ReplayCall* call =
        take(Request(trace_op::PIPE).number("dev", handle).number("alternate", alternate).number("index", pipe_index));
    if (call == nullptr || !call->ok) return false;
    info.pipe_id = static_cast<std::uint8_t>(number(*call, "pipe"));
    info.pipe_type = static_cast<std::uint8_t>(number(*call, "type"));
    info.max_packet_size = static_cast<std::uint16_t>(number(*call, "max_packet"));
    info.interval = static_cast<std::uint8_t>(number(*call, "interval"));
    return true;
}

bool ReplayPlatform::usb_serial_number(platform::UsbHandle handle, std::string& serial) {
    const ReplayCall* call = take(Request(trace_op::SERIAL).number("dev", handle));
    if (call == nullptr || !call->ok) return false;
    serial = text(*call, "serial");
    return true;
}

bool ReplayPlatform::usb_placement(platform::UsbHandle handle, platform::UsbPlacement& placement) {
    return placement_from(take(Request(trace_op::PLACEMENT).number("dev", handle)), placement);
}

bool ReplayPlatform::hid_placement(platform::HidHandle handle, platform::UsbPlacement& placement) {
    return placement_from(take(Request(trace_op::HID_PLACEMENT).number("dev", handle)), placement);
}

bool ReplayPlatform::placement_from(const ReplayCall* call, platform::UsbPlacement& placement) {
    if (call == nullptr || !call->ok) return false;
    placement.location = text(*call, "location");
    placement.enumeration.reset();
    if (call->fields.count("enumeration") != 0)
        placement.enumeration = static_cast<std::uint32_t>(number(*call, "enumeration"));
    return true;
}

bool ReplayPlatform::hid_paths(std::vector<std::string>& paths) {
    paths.clear();
    const ReplayCall* call = take(Request(trace_op::HID_LIST));
    if (call == nullptr || !call->ok) return false;
    paths = texts(*call, "paths");
    return true;
}

platform::HidHandle ReplayPlatform::hid_open(const std::string& path) {
    const ReplayCall* call = take(Request(trace_op::HID_OPEN).text("dev", path));
    return call != nullptr && call->ok ? static_cast<platform::HidHandle>(number(*call, "handle")) : 0;
}

void ReplayPlatform::hid_close(platform::HidHandle handle) { take(Request(trace_op::HID_CLOSE).number("dev", handle)); }

bool ReplayPlatform::hid_attributes(platform::HidHandle handle, platform::HidAttributes& attributes) {
    const ReplayCall* call = take(Request(trace_op::HID_ATTRIBUTES).number("dev", handle));
    if (call == nullptr || !call->ok) return false;
    attributes.vendor_id = static_cast<std::uint16_t>(number(*call, "vid"));
    attributes.product_id = static_cast<std::uint16_t>(number(*call, "pid"));
    attributes.version = static_cast<std::uint16_t>(number(*call, "version"));
    return true;
}

bool ReplayPlatform::hid_caps(platform::HidHandle handle, platform::HidCaps& caps) {
    const ReplayCall* call = take(Request(trace_op::HID_CAPS).number("dev", handle));
    if (call == nullptr || !call->ok) return false;
    caps.usage_page = static_cast<std::uint16_t>(number(*call, "usage_page"));
    caps.usage = static_cast<std::uint16_t>(number(*call, "usage"));
    caps.feature_report_length = static_cast<std::uint16_t>(number(*call, "feature_length"));
    caps.input_report_length = static_cast<std::uint16_t>(number(*call, "input_length"));
    caps.output_report_length = static_cast<std::uint16_t>(number(*call, "output_length"));
    return true;
}

bool ReplayPlatform::hid_get_feature(platform::HidHandle handle, std::span<std::uint8_t> report) {
    const ReplayCall* call = take(Request(trace_op::GET_FEATURE).number("dev", handle).room(report.size(), true));
    if (call == nullptr || !call->ok) return false;
    std::size_t transferred = 0;
    read_into(*call, report, transferred);
    return true;
}

bool ReplayPlatform::hid_set_feature(platform::HidHandle handle, std::span<const std::uint8_t> report) {
    const ReplayCall* call = take(Request(trace_op::SET_FEATURE).number("dev", handle).hex("data", report));
    return call != nullptr && call->ok;
}

bool ReplayPlatform::hid_serial_number(platform::HidHandle handle, std::string& serial) {
    const ReplayCall* call = take(Request(trace_op::HID_SERIAL).number("dev", handle));
    if (call == nullptr || !call->ok) return false;
    serial = text(*call, "serial");
    return true;
}

void ReplayPlatform::sleep_ms(std::uint32_t milliseconds) {
    const ReplayCall* call = take(Request(trace_op::SLEEP).number("ms", milliseconds));
    // The recorded sleep began at its "t"; after a difference the clock still
    // moves, so the tool's waits end.
    clock_ms_ = call != nullptr ? std::max(clock_ms_, call->t + milliseconds) : clock_ms_ + milliseconds;
}

void ReplayPlatform::console_clear_quick_edit() { take(Request(trace_op::QUICK_EDIT)); }

}  // namespace sim
