// The DFU interface of a device in DFU mode (interface 0, class 0xFE,
// subclass 1, protocol 2): the DFU 1.1 state machine, strict about which
// request each state allows. It accepts DNLOAD blocks back to back as well
// as with a GETSTATUS after every block. DETACH returns the device to
// run-time mode, running what it received.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sim/composite_device.h"
#include "sim/dfu_firmware.h"

namespace sim {

class DfuModeFunction : public UsbFunction {
public:
    // `run_time` is the configuration the device enumerates with after DETACH.
    DfuModeFunction(std::shared_ptr<DfuFirmware> firmware, DeviceConfiguration run_time);

    void on_attach(CompositeDevice& device) override;
    void append_descriptors(std::uint8_t interface_number, std::vector<std::uint8_t>& out) const override;
    TransferStatus control(std::uint64_t now_ms, const SetupPacket& setup, std::span<std::uint8_t> data,
                           std::size_t& transferred) override;

    std::uint8_t state() const { return state_; }

private:
    TransferStatus handle(std::uint64_t now_ms, const SetupPacket& setup, std::span<std::uint8_t> data,
                          std::size_t& transferred, bool& illegal);
    TransferStatus dnload(std::uint64_t now_ms, const SetupPacket& setup, std::span<std::uint8_t> data,
                          std::size_t& transferred, bool& illegal);
    TransferStatus upload(std::span<std::uint8_t> data, std::size_t& transferred);
    TransferStatus get_status(std::uint64_t now_ms, std::span<std::uint8_t> data, std::size_t& transferred);
    TransferStatus stall_into_error(bool& illegal);

    std::shared_ptr<DfuFirmware> firmware_;
    DeviceConfiguration run_time_;
    CompositeDevice* device_ = nullptr;
    std::uint8_t state_ = dfu::IDLE;
    std::uint8_t status_ = dfu::OK;
    std::uint64_t manifest_done_ms_ = 0;
    std::uint8_t manifest_status_ = dfu::OK;
    bool downloaded_ = false;    // a download was manifested in this session
    std::string text_;           // what UPLOAD returns
    std::size_t upload_offset_ = 0;
};

}  // namespace sim
