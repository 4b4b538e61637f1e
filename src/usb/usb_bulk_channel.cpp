#include "usb/usb_bulk_channel.h"

namespace {
constexpr int PACKET_SIZE = 256;
}  // namespace

namespace {

usb_bulk_channel_ptr over(usb_device_ptr device) {
    if (!device) return nullptr;
    auto channel = std::make_unique<usb_bulk_channel>();
    channel->device = std::move(device);
    // A device without a bulk pair still opens (both pipes 0); its transfers
    // then fail at the platform.
    if (usb_device_find_pipes(*channel->device, channel->in_pipe, channel->out_pipe) < 0)
        return nullptr;
    channel->packet_size = PACKET_SIZE;
    return channel;
}

}  // namespace

usb_bulk_channel_ptr usb_bulk_channel_open(platform::Platform& os, std::uint16_t vendor_id, std::uint16_t product_id,
                                           int interface_number, serial_number serial) {
    return over(usb_device_open(os, vendor_id, product_id, interface_number, serial));
}

usb_bulk_channel_ptr usb_bulk_channel_open_same(platform::Platform& os, int interface_number,
                                                const usb_device_identity& device) {
    return over(usb_device_open_same(os, DEVICE_VENDOR_ID, device.product_id, interface_number, device));
}
