#include "usb/usb_bulk_channel.h"

namespace {
constexpr int PACKET_SIZE = 256;
}

usb_bulk_channel_ptr usb_bulk_channel_open(std::uint16_t vendor_id, std::uint16_t product_id,
                                           int interface_number, serial_number serial) {
    auto channel = std::make_unique<usb_bulk_channel>();
    channel->device = usb_device_open(vendor_id, product_id, interface_number, serial);
    if (!channel->device) return nullptr;
    // A device without a bulk pair still opens (both pipes 0); its transfers
    // then fail at the platform.
    if (usb_device_find_pipes(*channel->device, channel->in_pipe, channel->in_max_packet,
                              channel->out_pipe, channel->out_max_packet) < 0)
        return nullptr;
    channel->packet_size = PACKET_SIZE;
    return channel;
}

void usb_bulk_channel_close(usb_bulk_channel_ptr& channel) { channel.reset(); }
