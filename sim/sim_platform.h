// The simulator's operating system: implements the platform seam over a
// virtual clock and the device models attached to a virtual bus, mapping
// each primitive onto USB requests as Windows would (WinUSB on interfaces
// it can drive, the HID class driver on HID interfaces).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/hid_report_descriptor.h"
#include "platform/platform.h"
#include "sim/clock.h"
#include "sim/usb_model.h"

namespace sim {

// Device-interface class GUIDs used in the names and paths.
inline constexpr const char* USB_DEVICE_GUID = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
inline constexpr const char* HID_DEVICE_GUID = "{4d1e55b2-f16f-11cf-88cb-001111000030}";

// What the simulated operating system tells, or lets the tool do, for one
// attached device: Linux tells all of it; Windows gives no enumeration
// token; a system may not know the port; a device whose interfaces have no
// WinUSB binding is seen only through its HID interface.
struct PortBehaviour {
    bool reports_location = true;
    bool gives_token = true;
    bool winusb = true;
    // Another flash-tool (this process ID) holds the device's lock.
    std::optional<std::uint64_t> held_by;
    // The user may not open it (a node without permission).
    bool access_denied = false;
    // Plugged in this long after the start, pulled out at this time (none:
    // never) and plugged back at this one (none: never), on the device's own
    // time.
    std::uint64_t arrive_ms = 0;
    std::optional<std::uint64_t> unplug_ms;
    std::optional<std::uint64_t> replug_ms;
};

class SimPlatform : public platform::Platform {
public:
    explicit SimPlatform(Clock& clock, bool realtime = false);

    // Plugs a device into the bus (it shows up whenever it is present) or
    // pulls it out (every handle on it fails from then on). A device keeps its
    // port, the location, in every mode; "" gives the next free port ("1-1",
    // "1-2", ...).
    // A device attached with a `timeline` lives on it: see bind_thread.
    void attach(std::shared_ptr<UsbDeviceModel> model, std::string location = "", PortBehaviour behaviour = {},
                Clock* timeline = nullptr);
    void detach(const std::shared_ptr<UsbDeviceModel>& model);

    // Runs on several devices at once each keep their own virtual time: a
    // thread bound to a device's timeline reads it as now_ms and advances only
    // it when it sleeps; every call of the seam sees each device at its own
    // timeline's time. An unbound thread (null: the default) reads the base
    // clock, and its sleep advances the base clock and every timeline
    // together, as one bus would. Every call is safe from several threads.
    static void bind_thread(Clock* timeline);
    // A worker binds its thread to the timeline of the device at `location`
    // (where it has one) until worker_ends. While any worker runs, an
    // unbound sleep also waits (for real) until every worker's timeline has
    // reached the base clock's new time: the base thread sees the workers'
    // devices as they are at its own time, whatever the threads' speeds.
    // `act` once for each of `times` the base clock reaches, at the end of
    // the unbound sleep that reaches it.
    void at_base_time(std::vector<std::uint64_t> times, std::function<void()> act);
    void worker_begins(const std::string& location) override;
    void worker_ends() override;

    // How often the console's quick-edit mode was cleared.
    unsigned quick_edit_clears() const { return quick_edit_clears_; }

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

    std::string inaccessible_device_hint() override;
    std::vector<platform::UnopenedDevice> unopened_devices() override;
    std::string last_os_error() override;

    // Locks of this process only, so that simulator runs in parallel never
    // meet; a device's `held_by` stands for another process holding it.
    platform::LockHandle lock_device(const std::string& key, std::uint64_t& holder) override;
    void unlock_device(platform::LockHandle handle) override;

    void sleep_ms(std::uint32_t milliseconds) override;
    std::uint64_t now_ms() override;
    void console_clear_quick_edit() override;
    const char* backend_name() const override { return "simulator"; }

private:
    struct Slot {
        unsigned id = 0;
        std::shared_ptr<UsbDeviceModel> model;
        std::string location;
        PortBehaviour behaviour;
        Clock* timeline = nullptr;  // null: the base clock
    };
    // What a name or path leads to.
    struct Target {
        unsigned slot = 0;
        std::shared_ptr<UsbDeviceModel> model;
        std::uint32_t connection = 0;
        std::uint8_t interface_number = 0;
        std::uint8_t interface_class = 0;
        platform::HidTopCollection collection;  // HID paths only
        bool uses_report_ids = false;           // HID paths only
    };
    using Table = std::vector<std::pair<std::string, Target>>;

    // The time a device lives at: its timeline's, else the base clock's.
    std::uint64_t time_of(const Slot& slot) const;
    std::uint64_t time_on(unsigned slot_id) const;

    Table usb_names();
    Table hid_table();
    const Target* live_usb(platform::UsbHandle handle);
    const Target* live_hid(platform::HidHandle handle);
    // Whether the slot's device is on the bus now: plugged in and present.
    bool on_bus(const Slot& slot) const;
    bool alive(const Target& target);
    static bool owns_pipe(const Target& target, std::uint8_t pipe_id);
    bool serial_of(UsbDeviceModel& model, std::string& serial);
    const Slot* slot_of(const Target& target) const;
    bool placement_of(const Target* target, platform::UsbPlacement& placement) const;
    bool hid_feature(const Target& target, bool get, std::span<std::uint8_t> report);

    // Held by every call of the seam; recursive because calls use each other.
    mutable std::recursive_mutex mutex_;
    // Signalled when a worker's timeline moves or its worker ends.
    std::condition_variable_any moved_;
    // The timelines workers are bound to, with their number of workers.
    std::map<Clock*, unsigned> busy_;
    std::vector<std::uint64_t> timed_;
    std::function<void()> on_time_;
    Clock& clock_;
    bool realtime_;
    unsigned next_slot_ = 1;
    std::vector<Slot> slots_;
    std::uintptr_t next_handle_ = 1;
    std::map<std::uintptr_t, Target> usb_handles_;
    std::map<std::uintptr_t, Target> hid_handles_;
    unsigned quick_edit_clears_ = 0;
    std::map<platform::LockHandle, std::string> locks_;
    // Of the last listings: what could not be opened, and the last call's error.
    std::vector<platform::UnopenedDevice> unopened_;
    std::string last_error_;
    // Notes a refused open of `target`'s device; 0.
    std::uintptr_t denied(const Target& target);
};

}  // namespace sim
