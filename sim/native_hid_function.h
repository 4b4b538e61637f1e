// The touch controller's vendor HID interface: one top-level collection
// (usage page 0xFF01, usage 0xF1) with feature report 0xFF of 256 data
// bytes, an interrupt IN endpoint, and the native command protocol in that
// report. Reports marked as link frames go to the link peer instead.
#pragma once

#include <memory>

#include "sim/link_peer.h"
#include "sim/native_device.h"
#include "sim/usb_function.h"

namespace sim {

inline constexpr std::uint8_t NATIVE_REPORT_ID = 0xFF;
inline constexpr std::size_t NATIVE_REPORT_LENGTH = 257;  // report ID + 256 data bytes
inline constexpr std::uint8_t HID_INTERRUPT_IN_ENDPOINT = 0x81;

std::vector<std::uint8_t> native_hid_report_descriptor();

class NativeHidFunction : public UsbFunction {
public:
    NativeHidFunction(std::shared_ptr<NativeDevice> device, std::shared_ptr<LinkPeer> link);

    void append_descriptors(std::uint8_t interface_number, std::vector<std::uint8_t>& out) const override;
    std::vector<std::uint8_t> hid_report_descriptor() const override;
    TransferStatus control(std::uint64_t now_ms, const SetupPacket& setup, std::span<std::uint8_t> data,
                           std::size_t& transferred) override;
    bool has_endpoint(std::uint8_t address) const override { return address == HID_INTERRUPT_IN_ENDPOINT; }

    void set_link_peer(std::shared_ptr<LinkPeer> link) { link_ = std::move(link); }

private:
    TransferStatus set_report(std::uint64_t now_ms, const SetupPacket& setup, std::span<std::uint8_t> data);
    TransferStatus get_report(std::uint64_t now_ms, const SetupPacket& setup, std::span<std::uint8_t> data,
                              std::size_t& transferred);

    std::shared_ptr<NativeDevice> device_;
    std::shared_ptr<LinkPeer> link_;
    bool link_mode_ = false;  // the last set carried a link frame
};

}  // namespace sim
