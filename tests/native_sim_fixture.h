// A simulated bus, the platform of the device-layer tests.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <vector>

#include "platform/platform.h"
#include "sim/clock.h"
#include "sim/composite_device.h"
#include "sim/native_bulk_function.h"
#include "sim/sim_platform.h"
#include "sim/touch_controller.h"
#include "sim/usb_descriptors.h"
#include "usb/usb_ids.h"

// Records every feature report and pipe transfer the host makes.
class RecordingSim : public sim::SimPlatform {
public:
    using sim::SimPlatform::SimPlatform;

    bool hid_set_feature(platform::HidHandle handle, std::span<const std::uint8_t> report) override {
        set_reports.emplace_back(report.begin(), report.end());
        return sim::SimPlatform::hid_set_feature(handle, report);
    }
    bool hid_get_feature(platform::HidHandle handle, std::span<std::uint8_t> report) override {
        ++get_reports;
        return sim::SimPlatform::hid_get_feature(handle, report);
    }
    platform::UsbError usb_write_pipe(platform::UsbHandle handle, std::uint8_t pipe_id,
                                      std::span<const std::uint8_t> buffer, std::size_t& transferred) override {
        pipe_writes.emplace_back(buffer.begin(), buffer.end());
        return sim::SimPlatform::usb_write_pipe(handle, pipe_id, buffer, transferred);
    }

    std::vector<std::vector<std::uint8_t>> set_reports;
    std::vector<std::vector<std::uint8_t>> pipe_writes;
    unsigned get_reports = 0;
};

// A vendor HID interface with a report of `length` bytes (report ID
// included) that answers GET_REPORT with scripted reports, for device
// behaviour the touch controller model never shows.
class ScriptedHidFunction : public sim::UsbFunction {
public:
    explicit ScriptedHidFunction(std::size_t length) : length_(length) {}

    void append_descriptors(std::uint8_t number, std::vector<std::uint8_t>& out) const override {
        sim::append_interface_descriptor(out, number, 1, 3, 0, 0);
        sim::append_hid_descriptor(out, static_cast<std::uint16_t>(hid_report_descriptor().size()));
        sim::append_endpoint_descriptor(out, 0x81, sim::ENDPOINT_INTERRUPT, 64, 10);
    }
    std::vector<std::uint8_t> hid_report_descriptor() const override {
        const auto count = static_cast<std::uint16_t>(length_ - 1);
        return {0x06, 0x01, 0xFF, 0x09, 0xF1, 0xA1, 0x01, 0x85, 0xFF, 0x75, 0x08,
                0x96, static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8),
                0x15, 0x00, 0x26, 0xFF, 0x00, 0x09, 0x01, 0xB1, 0x02, 0xC0};
    }
    sim::TransferStatus control(std::uint64_t, const sim::SetupPacket& setup, std::span<std::uint8_t> data,
                                std::size_t& transferred) override {
        transferred = 0;
        if (setup.request == 0x09) {  // SET_REPORT
            transferred = data.size();
            return sim::TransferStatus::ack;
        }
        if (setup.request == 0x01 && !replies.empty()) {  // GET_REPORT
            std::vector<std::uint8_t> reply = replies.front();
            replies.pop_front();
            reply.resize(data.size(), 0);
            std::copy(reply.begin(), reply.end(), data.begin());
            transferred = data.size();
            return sim::TransferStatus::ack;
        }
        return sim::TransferStatus::stall;
    }

    // Whole reports the device answers, report ID first, in order.
    std::deque<std::vector<std::uint8_t>> replies;

private:
    std::size_t length_;
};

class SimBusTest : public testing::Test {
protected:
    SimBusTest() : os(clock) {}

    std::shared_ptr<sim::TouchController> attach_touch(sim::TouchConfig config = {}) {
        auto touch = std::make_shared<sim::TouchController>(std::move(config));
        os.attach(touch);
        return touch;
    }

    std::shared_ptr<sim::CompositeDevice> attach_device(std::uint16_t product_id,
                                                        std::vector<std::shared_ptr<sim::UsbFunction>> functions,
                                                        std::string serial = "S1") {
        sim::DeviceIdentity identity;
        identity.vendor_id = DEVICE_VENDOR_ID;
        identity.product_id = product_id;
        identity.product = "Test device";
        identity.serial = std::move(serial);
        auto device = std::make_shared<sim::CompositeDevice>(sim::DeviceConfiguration{identity, std::move(functions)});
        os.attach(device);
        return device;
    }

    sim::Clock clock;
    RecordingSim os;
};
