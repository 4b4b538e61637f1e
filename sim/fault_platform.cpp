#include "sim/fault_platform.h"

#include <charconv>

namespace sim {

using platform::UsbError;

bool fault_parse(std::string_view text, FaultPlan& plan) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    std::uint64_t call = 0;
    const char* first = text.data();
    const char* last = text.data() + colon;
    const auto [end, error] = std::from_chars(first, last, call);
    if (error != std::errc() || end != last || call == 0) return false;
    const std::string_view kind = text.substr(colon + 1);
    for (const FaultKind candidate : {FaultKind::fail, FaultKind::gone, FaultKind::unplug}) {
        if (kind == fault_kind_name(candidate)) {
            plan = {call, candidate};
            return true;
        }
    }
    return false;
}

const char* fault_kind_name(FaultKind kind) {
    switch (kind) {
        case FaultKind::fail: return "fail";
        case FaultKind::gone: return "gone";
        case FaultKind::unplug: return "unplug";
    }
    return "fail";
}

FaultPlatform::FaultPlatform(platform::Platform& inner, FaultPlan plan, std::function<void()> unplug)
    : ForwardingPlatform(inner), plan_(plan), unplug_(std::move(unplug)) {}

void FaultPlatform::set_limits(FaultLimits limits, std::function<void()> on_runaway) {
    limits_ = limits;
    on_runaway_ = std::move(on_runaway);
}

void FaultPlatform::check_limits() {
    if (runaway_) return;
    const bool too_many = limits_.max_calls != 0 && calls_ > limits_.max_calls;
    const bool too_long = limits_.max_ms != 0 && inner_.now_ms() > limits_.max_ms;
    if (!too_many && !too_long) return;
    runaway_ = true;
    if (on_runaway_) on_runaway_();
}

FaultPlatform::Verdict FaultPlatform::count(const char* operation, const std::string& device) {
    ++calls_;
    log_.push_back({operation, true});  // failed until the inner platform's answer says otherwise
    check_limits();
    if (runaway_) return Verdict::fail;
    if (plan_.call != 0 && calls_ == plan_.call) {
        injected_ = FaultRecord{calls_, operation, device};
        if (on_fault_) on_fault_(*injected_);
        switch (plan_.kind) {
            case FaultKind::fail: return Verdict::fail;
            case FaultKind::gone: return Verdict::gone;
            case FaultKind::unplug:
                if (unplug_) unplug_();
                else unplugged_ = true;
                break;
        }
    }
    return unplugged_ ? Verdict::fail : Verdict::pass;
}

bool FaultPlatform::note(bool ok) {
    log_.back().failed = !ok;
    return ok;
}

std::uintptr_t FaultPlatform::note(std::uintptr_t handle) {
    log_.back().failed = handle == 0;
    return handle;
}

UsbError FaultPlatform::note(UsbError error) {
    log_.back().failed = error != UsbError::none;
    return error;
}

std::string FaultPlatform::usb_name(platform::UsbHandle handle) const {
    const auto it = usb_names_.find(handle);
    return it != usb_names_.end() ? it->second : "handle " + std::to_string(handle);
}

std::string FaultPlatform::hid_path(platform::HidHandle handle) const {
    const auto it = hid_paths_.find(handle);
    return it != hid_paths_.end() ? it->second : "handle " + std::to_string(handle);
}

// ---- WinUSB role ---------------------------------------------------------

bool FaultPlatform::usb_device_names(std::vector<std::string>& names) {
    const std::lock_guard lock(mutex_);
    const Verdict verdict = count("usb_device_names", "");
    names.clear();
    // Off the bus the list is still made, without the devices.
    if (unplugged_ && verdict == Verdict::fail && !runaway_) return note(true);
    if (verdict != Verdict::pass) return false;
    return note(inner_.usb_device_names(names));
}

platform::UsbHandle FaultPlatform::usb_open(const std::string& name) {
    const std::lock_guard lock(mutex_);
    if (count("usb_open", name) != Verdict::pass) return 0;
    const platform::UsbHandle handle = note(inner_.usb_open(name));
    if (handle != 0) usb_names_[handle] = name;
    return handle;
}

void FaultPlatform::usb_close(platform::UsbHandle handle) {
    const std::lock_guard lock(mutex_);
    // A close has no result: the handle is released whatever the verdict.
    count("usb_close", usb_name(handle));
    usb_names_.erase(handle);
    inner_.usb_close(handle);
    log_.back().failed = false;
}

bool FaultPlatform::usb_get_descriptor(platform::UsbHandle handle, std::uint8_t type, std::uint8_t index,
                                       std::uint16_t language, std::span<std::uint8_t> buffer,
                                       std::size_t& transferred) {
    const std::lock_guard lock(mutex_);
    transferred = 0;
    if (count("usb_get_descriptor", usb_name(handle)) != Verdict::pass) return false;
    return note(inner_.usb_get_descriptor(handle, type, index, language, buffer, transferred));
}

UsbError FaultPlatform::usb_control_transfer(platform::UsbHandle handle, const std::uint8_t (&setup)[8],
                                             std::span<std::uint8_t> buffer, std::size_t& transferred) {
    const std::lock_guard lock(mutex_);
    transferred = 0;
    switch (count("usb_control_transfer", usb_name(handle))) {
        case Verdict::pass: return note(inner_.usb_control_transfer(handle, setup, buffer, transferred));
        case Verdict::fail: return UsbError::general_failure;
        case Verdict::gone: return UsbError::device_gone;
    }
    return UsbError::other;
}

UsbError FaultPlatform::usb_read_pipe(platform::UsbHandle handle, std::uint8_t pipe_id,
                                      std::span<std::uint8_t> buffer, std::size_t& transferred) {
    const std::lock_guard lock(mutex_);
    transferred = 0;
    switch (count("usb_read_pipe", usb_name(handle))) {
        case Verdict::pass: return note(inner_.usb_read_pipe(handle, pipe_id, buffer, transferred));
        case Verdict::fail: return UsbError::general_failure;
        case Verdict::gone: return UsbError::device_gone;
    }
    return UsbError::other;
}

UsbError FaultPlatform::usb_write_pipe(platform::UsbHandle handle, std::uint8_t pipe_id,
                                       std::span<const std::uint8_t> buffer, std::size_t& transferred) {
    const std::lock_guard lock(mutex_);
    transferred = 0;
    switch (count("usb_write_pipe", usb_name(handle))) {
        case Verdict::pass: return note(inner_.usb_write_pipe(handle, pipe_id, buffer, transferred));
        case Verdict::fail: return UsbError::general_failure;
        case Verdict::gone: return UsbError::device_gone;
    }
    return UsbError::other;
}

bool FaultPlatform::usb_interface_settings(platform::UsbHandle handle, std::uint8_t alternate,
                                           platform::UsbInterfaceInfo& info) {
    const std::lock_guard lock(mutex_);
    if (count("usb_interface_settings", usb_name(handle)) != Verdict::pass) return false;
    return note(inner_.usb_interface_settings(handle, alternate, info));
}

bool FaultPlatform::usb_query_pipe(platform::UsbHandle handle, std::uint8_t alternate, std::uint8_t pipe_index,
                                   platform::UsbPipeInfo& info) {
    const std::lock_guard lock(mutex_);
    if (count("usb_query_pipe", usb_name(handle)) != Verdict::pass) return false;
    return note(inner_.usb_query_pipe(handle, alternate, pipe_index, info));
}

bool FaultPlatform::usb_serial_number(platform::UsbHandle handle, std::string& serial) {
    const std::lock_guard lock(mutex_);
    if (count("usb_serial_number", usb_name(handle)) != Verdict::pass) return false;
    return note(inner_.usb_serial_number(handle, serial));
}

bool FaultPlatform::usb_placement(platform::UsbHandle handle, platform::UsbPlacement& placement) {
    const std::lock_guard lock(mutex_);
    if (count("usb_placement", usb_name(handle)) != Verdict::pass) return false;
    return note(inner_.usb_placement(handle, placement));
}

// ---- HID role ------------------------------------------------------------

bool FaultPlatform::hid_paths(std::vector<std::string>& paths) {
    const std::lock_guard lock(mutex_);
    const Verdict verdict = count("hid_paths", "");
    paths.clear();
    if (unplugged_ && verdict == Verdict::fail && !runaway_) return note(true);
    if (verdict != Verdict::pass) return false;
    return note(inner_.hid_paths(paths));
}

platform::HidHandle FaultPlatform::hid_open(const std::string& path) {
    const std::lock_guard lock(mutex_);
    if (count("hid_open", path) != Verdict::pass) return 0;
    const platform::HidHandle handle = note(inner_.hid_open(path));
    if (handle != 0) hid_paths_[handle] = path;
    return handle;
}

void FaultPlatform::hid_close(platform::HidHandle handle) {
    const std::lock_guard lock(mutex_);
    count("hid_close", hid_path(handle));
    hid_paths_.erase(handle);
    inner_.hid_close(handle);
    log_.back().failed = false;
}

bool FaultPlatform::hid_attributes(platform::HidHandle handle, platform::HidAttributes& attributes) {
    const std::lock_guard lock(mutex_);
    if (count("hid_attributes", hid_path(handle)) != Verdict::pass) return false;
    return note(inner_.hid_attributes(handle, attributes));
}

bool FaultPlatform::hid_caps(platform::HidHandle handle, platform::HidCaps& caps) {
    const std::lock_guard lock(mutex_);
    if (count("hid_caps", hid_path(handle)) != Verdict::pass) return false;
    return note(inner_.hid_caps(handle, caps));
}

bool FaultPlatform::hid_get_feature(platform::HidHandle handle, std::span<std::uint8_t> report) {
    const std::lock_guard lock(mutex_);
    if (count("hid_get_feature", hid_path(handle)) != Verdict::pass) return false;
    return note(inner_.hid_get_feature(handle, report));
}

bool FaultPlatform::hid_set_feature(platform::HidHandle handle, std::span<const std::uint8_t> report) {
    const std::lock_guard lock(mutex_);
    if (count("hid_set_feature", hid_path(handle)) != Verdict::pass) return false;
    return note(inner_.hid_set_feature(handle, report));
}

bool FaultPlatform::hid_serial_number(platform::HidHandle handle, std::string& serial) {
    const std::lock_guard lock(mutex_);
    if (count("hid_serial_number", hid_path(handle)) != Verdict::pass) return false;
    return note(inner_.hid_serial_number(handle, serial));
}

bool FaultPlatform::hid_placement(platform::HidHandle handle, platform::UsbPlacement& placement) {
    const std::lock_guard lock(mutex_);
    if (count("hid_placement", hid_path(handle)) != Verdict::pass) return false;
    return note(inner_.hid_placement(handle, placement));
}

// ---- Time ----------------------------------------------------------------

void FaultPlatform::sleep_ms(std::uint32_t milliseconds) {
    inner_.sleep_ms(milliseconds);
    const std::lock_guard lock(mutex_);
    check_limits();
}

}  // namespace sim
