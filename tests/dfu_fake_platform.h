// A platform whose only device answers control transfers from scripts, and
// records every setup packet and data stage it was given. Used by the unit
// tests of the DFU requests and transfer logic.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "dfu/dfu_device.h"
#include "dfu/dfu_request.h"
#include "platform/platform.h"

namespace dfu_test {

struct ControlCall {
    std::array<std::uint8_t, 8> setup{};
    std::vector<std::uint8_t> data;  // data stage sent by the host
    std::uint8_t request() const { return setup[1]; }
    std::uint16_t value() const { return static_cast<std::uint16_t>(setup[2] | (setup[3] << 8)); }
    std::uint16_t length() const { return static_cast<std::uint16_t>(setup[6] | (setup[7] << 8)); }
};

// What the device does with one request: fail with an error, or complete,
// returning `in` (device to host) or accepting `moved` bytes (host to device;
// all of them when unset).
struct Reply {
    platform::UsbError error = platform::UsbError::none;
    std::vector<std::uint8_t> in;
    std::optional<std::size_t> moved;
};

inline Reply status_reply(std::uint8_t state, std::uint8_t status = 0) {
    const auto bytes = dfu_status_encode({status, 0, state, 0});
    return {platform::UsbError::none, {bytes.begin(), bytes.end()}, std::nullopt};
}

inline Reply failure(platform::UsbError error = platform::UsbError::other) { return {error, {}, std::nullopt}; }

class FakePlatform : public platform::Platform {
public:
    // Per request code: replies used in order; once a queue is empty the
    // request completes with no data (or with `idle_status` for GETSTATUS).
    std::map<std::uint8_t, std::deque<Reply>> replies;
    std::vector<std::uint8_t> idle_status = status_reply(DFU_STATE_IDLE).in;
    std::vector<ControlCall> calls;
    std::uint64_t clock_ms = 0;
    std::uint32_t sleeps = 0;

    std::vector<std::uint8_t> requests() const {
        std::vector<std::uint8_t> codes;
        for (const ControlCall& call : calls) codes.push_back(call.request());
        return codes;
    }

    // A device record on this platform, as dfu_open would have made it.
    dfu_device_ptr open(std::uint16_t product_id, int interface_number) {
        auto device = std::make_unique<dfu_device>();
        device->usb = std::make_unique<usb_device>();
        device->usb->os = this;
        device->usb->vendor_id = DEVICE_VENDOR_ID;
        device->usb->product_id = product_id;
        device->usb->interface_number = interface_number;
        device->usb->handle.reset(*this, 1);
        return device;
    }

    platform::UsbError usb_control_transfer(platform::UsbHandle, const std::uint8_t (&setup)[8],
                                            std::span<std::uint8_t> buffer, std::size_t& transferred) override {
        ControlCall call;
        std::copy(std::begin(setup), std::end(setup), call.setup.begin());
        const bool in = (setup[0] & 0x80) != 0;
        if (!in) call.data.assign(buffer.begin(), buffer.end());
        calls.push_back(call);
        transferred = 0;
        Reply reply;
        auto& queue = replies[setup[1]];
        if (!queue.empty()) {
            reply = queue.front();
            queue.pop_front();
        } else if (setup[1] == DFU_GETSTATUS) {
            reply.in = idle_status;
        }
        if (reply.error != platform::UsbError::none) return reply.error;
        if (in) {
            transferred = std::min(reply.in.size(), buffer.size());
            std::copy_n(reply.in.begin(), transferred, buffer.begin());
        } else {
            transferred = reply.moved.value_or(buffer.size());
        }
        return platform::UsbError::none;
    }

    void sleep_ms(std::uint32_t ms) override {
        clock_ms += ms;
        ++sleeps;
    }
    std::uint64_t now_ms() override { return clock_ms; }

    // Everything else is absent from this platform.
    bool usb_device_names(std::vector<std::string>&) override { return false; }
    platform::UsbHandle usb_open(const std::string&) override { return 0; }
    void usb_close(platform::UsbHandle) override {}
    bool usb_get_descriptor(platform::UsbHandle, std::uint8_t, std::uint8_t, std::uint16_t, std::span<std::uint8_t>,
                            std::size_t&) override {
        return false;
    }
    platform::UsbError usb_read_pipe(platform::UsbHandle, std::uint8_t, std::span<std::uint8_t>,
                                     std::size_t&) override {
        return platform::UsbError::other;
    }
    platform::UsbError usb_write_pipe(platform::UsbHandle, std::uint8_t, std::span<const std::uint8_t>,
                                      std::size_t&) override {
        return platform::UsbError::other;
    }
    bool usb_interface_settings(platform::UsbHandle, std::uint8_t, platform::UsbInterfaceInfo&) override {
        return false;
    }
    bool usb_query_pipe(platform::UsbHandle, std::uint8_t, std::uint8_t, platform::UsbPipeInfo&) override {
        return false;
    }
    bool usb_serial_number(platform::UsbHandle, std::string&) override { return false; }
    bool hid_paths(std::vector<std::string>&) override { return false; }
    platform::HidHandle hid_open(const std::string&) override { return 0; }
    void hid_close(platform::HidHandle) override {}
    bool hid_attributes(platform::HidHandle, platform::HidAttributes&) override { return false; }
    bool hid_caps(platform::HidHandle, platform::HidCaps&) override { return false; }
    bool hid_get_feature(platform::HidHandle, std::span<std::uint8_t>) override { return false; }
    bool hid_set_feature(platform::HidHandle, std::span<const std::uint8_t>) override { return false; }
    bool hid_serial_number(platform::HidHandle, std::string&) override { return false; }
    void console_clear_quick_edit() override {}
    const char* backend_name() const override { return "test"; }
};

}  // namespace dfu_test
