#include "sim/configuration_view.h"

#include "sim/usb_descriptors.h"
#include "usb/le.h"

namespace sim {

std::vector<InterfaceView> parse_configuration(std::span<const std::uint8_t> descriptor) {
    std::vector<InterfaceView> interfaces;
    std::size_t pos = 0;
    while (descriptor.size() - pos >= 2) {
        const std::size_t length = descriptor[pos];
        if (length < 2 || length > descriptor.size() - pos) break;
        const auto item = descriptor.subspan(pos, length);
        pos += length;
        if (item[1] == DESC_INTERFACE && length >= 9) {
            InterfaceView view;
            view.info.interface_number = item[2];
            view.info.alternate_setting = item[3];
            view.info.num_endpoints = item[4];
            view.info.interface_class = item[5];
            view.info.interface_subclass = item[6];
            view.info.interface_protocol = item[7];
            interfaces.push_back(view);
        } else if (item[1] == DESC_ENDPOINT && length >= 7 && !interfaces.empty()) {
            platform::UsbPipeInfo pipe;
            pipe.pipe_id = item[2];
            pipe.pipe_type = item[3] & 0x03;
            pipe.max_packet_size = static_cast<std::uint16_t>(le16(item, 4) & 0x07FF);
            pipe.interval = item[6];
            interfaces.back().pipes.push_back(pipe);
        }
    }
    return interfaces;
}

std::optional<InterfaceView> find_interface(std::span<const std::uint8_t> descriptor, std::uint8_t number,
                                            std::uint8_t alternate) {
    for (auto& view : parse_configuration(descriptor))
        if (view.info.interface_number == number && view.info.alternate_setting == alternate) return view;
    return std::nullopt;
}

std::string decode_string_descriptor(std::span<const std::uint8_t> descriptor) {
    std::string text;
    if (descriptor.size() < 2 || descriptor[1] != DESC_STRING) return text;
    const std::size_t length = std::min<std::size_t>(descriptor[0], descriptor.size());
    for (std::size_t pos = 2; pos + 1 < length; pos += 2) {
        const std::uint16_t unit = le16(descriptor, pos);
        text.push_back(unit < 0x100 ? static_cast<char>(unit) : '?');
    }
    return text;
}

}  // namespace sim
