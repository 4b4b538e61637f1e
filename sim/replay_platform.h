// A platform that answers every call from a recorded trace, in order: the
// results, the data read and the handles of the recorded run. Each call the
// tool makes is compared with the recorded one (operation, device, setup
// bytes, data written, request fields, the room for data read); at the first
// difference the replay stops answering: the handler, if any, is told, and
// every later call fails. Sleeps are compared and skipped; the clock reads
// the recorded time of the last call answered (after a sleep, its end).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "sim/replay_recording.h"

namespace sim {

struct ReplayDifference {
    std::size_t call = 0;  // the number of the call (from 1); one past the last call when the run ended early
    std::size_t line = 0;  // the recording's line of the expected call; 0 when none was left
    std::string what;      // which part differs
    std::string recorded;  // the recorded call, or what the recording held at that point
    std::string asked;     // the call the tool made, or what the run did instead
};

// The message flash-tool-sim prints, several lines, each ending in '\n'.
std::string replay_difference_text(const ReplayDifference& difference);

class ReplayPlatform : public platform::Platform {
public:
    explicit ReplayPlatform(std::vector<ReplayCall> calls);

    // Called once, at the first difference.
    void on_difference(std::function<void(const ReplayDifference&)> handler) { handler_ = std::move(handler); }
    const std::optional<ReplayDifference>& difference() const { return difference_; }
    // At the end of the run: true when every recorded call was made and none
    // differed; otherwise the difference (recorded calls left over count).
    bool finish();

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
    std::uint64_t now_ms() override { return clock_ms_; }
    const char* backend_name() const override { return "simulator (replay)"; }
    void console_clear_quick_edit() override;

private:
    class Request;

    // The recorded call that matches `asked`, now answered; nullptr after a
    // difference.
    const ReplayCall* take(const Request& asked);
    // A placement as recorded; false for a failed or missing call.
    static bool placement_from(const ReplayCall* call, platform::UsbPlacement& placement);
    // Copies the recorded data into `buffer`; its length in `transferred`.
    static void read_into(const ReplayCall& call, std::span<std::uint8_t> buffer, std::size_t& transferred);
    void differ(ReplayDifference difference);

    std::vector<ReplayCall> calls_;
    std::size_t next_ = 0;
    std::size_t asked_ = 0;
    std::uint64_t clock_ms_ = 0;
    std::optional<ReplayDifference> difference_;
    std::function<void(const ReplayDifference&)> handler_;
};

}  // namespace sim
