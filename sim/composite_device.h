// A device model made of an identity and a list of interface functions
// (interface N is functions[N]). It leaves the bus and enumerates again on a
// schedule, possibly as another device (another product ID and functions).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/usb_descriptors.h"
#include "sim/usb_function.h"
#include "sim/usb_model.h"

namespace sim {

struct DeviceConfiguration {
    DeviceIdentity identity;
    std::vector<std::shared_ptr<UsbFunction>> functions;
};

// A request the device refused, kept for tests to assert on.
struct RefusedRequest {
    std::uint64_t time_ms = 0;
    SetupPacket setup;
};

class CompositeDevice : public UsbDeviceModel {
public:
    explicit CompositeDevice(DeviceConfiguration configuration);

    // Leaves the bus at `leave_ms`; at `back_ms` (never when empty) it
    // enumerates again as `next`, with a new connection number.
    void reenumerate(std::uint64_t leave_ms, std::optional<std::uint64_t> back_ms,
                     DeviceConfiguration next);
    // Off the bus from `at_ms` on, for good (until a later reenumerate).
    void unplug(std::uint64_t at_ms);

    const DeviceConfiguration& configuration() const { return configuration_; }
    const std::vector<RefusedRequest>& refused_requests() const { return refused_; }

    bool present(std::uint64_t now_ms) override;
    std::uint32_t connection() const override { return connection_; }
    std::uint8_t speed() override { return configuration_.identity.speed; }
    std::vector<std::uint8_t> device_descriptor() override;
    std::vector<std::uint8_t> configuration_descriptor() override;
    std::optional<std::vector<std::uint8_t>> string_descriptor(std::uint8_t index,
                                                               std::uint16_t language) override;
    std::vector<std::uint8_t> hid_report_descriptor(std::uint8_t interface_number) override;
    TransferStatus control(std::uint64_t now_ms, const SetupPacket& setup,
                           std::span<std::uint8_t> data, std::size_t& transferred) override;
    TransferStatus bulk(std::uint64_t now_ms, std::uint8_t endpoint, std::span<std::uint8_t> data,
                        std::size_t& transferred) override;

protected:
    // For models that build their configuration after their own members.
    CompositeDevice() = default;
    void configure(DeviceConfiguration configuration);

private:
    struct Schedule {
        std::uint64_t leave_ms = 0;
        std::optional<std::uint64_t> back_ms;
        std::optional<DeviceConfiguration> next;
    };

    void advance(std::uint64_t now_ms);
    void attach_functions();
    TransferStatus standard_request(const SetupPacket& setup, std::span<std::uint8_t> data,
                                    std::size_t& transferred);
    TransferStatus refuse(std::uint64_t now_ms, const SetupPacket& setup, std::size_t& transferred);

    DeviceConfiguration configuration_;
    std::uint32_t connection_ = 1;
    bool on_bus_ = true;
    std::optional<Schedule> schedule_;
    std::vector<RefusedRequest> refused_;
};

}  // namespace sim
