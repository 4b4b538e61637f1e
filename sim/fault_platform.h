// A decorator over any platform backend that makes one chosen device call
// fail, to see how the tool copes with a device that misbehaves at that
// point. It counts the device calls (usb_* and hid_*; not time, console or
// diagnostics) from 1 and makes the Nth one fail in one of three ways:
//   fail    a plain failure: false, a 0 handle or UsbError::general_failure,
//           nothing transferred;
//   gone    the device left during the call: UsbError::device_gone for
//           transfers, false (0 handle) for the others;
//   unplug  from call N on the device is off the bus: the owner's unplug
//           action runs before call N is passed on (the simulator detaches
//           its devices and answers as it would without them); with no
//           unplug action every call from N on fails and the lists are empty.
// A close cannot fail: a fail or gone fault on it passes the close on. The
// calls that are not device calls (time, console, diagnostics, the device
// lock, the departure watch) pass through: never a fault, never counted.
//
// A run that goes on far longer than it should (too many device calls, or
// the clock past a limit) is a runaway: `on_runaway` is called once, and
// every device call fails from then on.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/forwarding_platform.h"

namespace sim {

enum class FaultKind { fail, gone, unplug };

struct FaultPlan {
    std::uint64_t call = 0;  // 1 is the first device call; 0 injects nothing
    FaultKind kind = FaultKind::fail;
};

// The call a fault was injected into.
struct FaultRecord {
    std::uint64_t call = 0;
    std::string operation;  // "usb_write_pipe", "hid_get_feature", ...
    std::string device;     // name or path; for a handle the name it was opened by
};

struct CallRecord {
    const char* operation = "";
    bool failed = false;
};

struct FaultLimits {
    std::uint64_t max_calls = 0;  // 0: no limit
    std::uint64_t max_ms = 0;     // 0: no limit
};

// "N:KIND" (KIND fail, gone or unplug; N from 1). False for anything else.
bool fault_parse(std::string_view text, FaultPlan& plan);
const char* fault_kind_name(FaultKind kind);

class FaultPlatform : public platform::ForwardingPlatform {
public:
    FaultPlatform(platform::Platform& inner, FaultPlan plan, std::function<void()> unplug = {});

    void set_limits(FaultLimits limits, std::function<void()> on_runaway);
    // Called as the fault goes into its call, before the call is answered.
    void on_fault(std::function<void(const FaultRecord&)> hook) { on_fault_ = std::move(hook); }

    // Device calls made so far.
    std::uint64_t calls() const { return calls_; }
    // The call the fault went into, once it has.
    const std::optional<FaultRecord>& injected() const { return injected_; }
    bool runaway() const { return runaway_; }
    // Every device call so far (call N at N-1): its operation and whether it
    // failed, injected or not.
    const std::vector<CallRecord>& call_log() const { return log_; }

    bool usb_device_names(std::vector<std::string>& names) override;
    platform::UsbHandle usb_open(const std::string& name) override;
    void usb_close(platform::UsbHandle handle) override;
    bool usb_get_descriptor(platform::UsbHandle handle, std::uint8_t type, std::uint8_t index,
                            std::uint16_t language, std::span<std::uint8_t> buffer,
                            std::size_t& transferred) override;
    platform::UsbError usb_control_transfer(platform::UsbHandle handle, const std::uint8_t (&setup)[8],
                                            std::span<std::uint8_t> buffer, std::size_t& transferred) override;
    platform::UsbError usb_read_pipe(platform::UsbHandle handle, std::uint8_t pipe_id,
                                     std::span<std::uint8_t> buffer, std::size_t& transferred) override;
    platform::UsbError usb_write_pipe(platform::UsbHandle handle, std::uint8_t pipe_id,
                                      std::span<const std::uint8_t> buffer, std::size_t& transferred) override;
    bool usb_interface_settings(platform::UsbHandle handle, std::uint8_t alternate,
                                platform::UsbInterfaceInfo& info) override;
    bool usb_query_pipe(platform::UsbHandle handle, std::uint8_t alternate, std::uint8_t pipe_index,
                        platform::UsbPipeInfo& info) override;
    bool usb_serial_number(platform::UsbHandle handle, std::string& serial) override;
    bool usb_placement(platform::UsbHandle handle, platform::UsbPlacement& placement) override;

    bool hid_paths(std::vector<std::string>& paths) override;
    platform::HidHandle hid_open(const std::string& path) override;
    void hid_close(platform::HidHandle handle) override;
    bool hid_attributes(platform::HidHandle handle, platform::HidAttributes& attributes) override;
    bool hid_caps(platform::HidHandle handle, platform::HidCaps& caps) override;
    bool hid_get_feature(platform::HidHandle handle, std::span<std::uint8_t> report) override;
    bool hid_set_feature(platform::HidHandle handle, std::span<const std::uint8_t> report) override;
    bool hid_serial_number(platform::HidHandle handle, std::string& serial) override;
    bool hid_placement(platform::HidHandle handle, platform::UsbPlacement& placement) override;

    void sleep_ms(std::uint32_t milliseconds) override;

private:
    // What becomes of one device call.
    enum class Verdict { pass, fail, gone };
    Verdict count(const char* operation, const std::string& device);
    std::string usb_name(platform::UsbHandle handle) const;
    std::string hid_path(platform::HidHandle handle) const;
    void check_limits();
    // Record the answer of the inner platform for the current call.
    bool note(bool ok);
    std::uintptr_t note(std::uintptr_t handle);
    platform::UsbError note(platform::UsbError error);

    // Workers on several devices call at once: one device call at a time is
    // counted and answered, so that each call's answer lands on its record.
    // Never held across a sleep.
    std::recursive_mutex mutex_;
    FaultPlan plan_;
    std::function<void()> unplug_;
    FaultLimits limits_;
    std::function<void()> on_runaway_;
    std::function<void(const FaultRecord&)> on_fault_;
    std::uint64_t calls_ = 0;
    bool unplugged_ = false;  // with no unplug action: the devices are off the bus
    bool runaway_ = false;
    std::optional<FaultRecord> injected_;
    std::vector<CallRecord> log_;
    std::map<platform::UsbHandle, std::string> usb_names_;
    std::map<platform::HidHandle, std::string> hid_paths_;
};

}  // namespace sim
