// Replies of the native command protocol in HID feature reports of any
// length the channel accepts, or in bulk packets: identify, the pieces of
// the information text, the image chunk count and the flash status.
#include <array>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_platform.h"
#include "native/cmd.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput header({data, size});
    fuzz::FuzzDevice device;
    if ((header.byte() & 1) != 0) {
        device.product_id = BRIDGE_PRODUCT_ID;
        device.pipes = {{platform::USB_PIPE_BULK, 0x81, 64, 0}, {platform::USB_PIPE_BULK, 0x02, 64, 0}};
    } else {
        device.feature_report_length = static_cast<std::uint16_t>(9 + header.byte());
    }
    fuzz::FuzzPlatform platform(header.rest(), device);
    cmd_channel_ptr channel = cmd_channel_open(platform, DEVICE_VENDOR_ID, device.product_id, std::nullopt);
    if (!channel) return 0;

    int status = 0;
    std::array<char, CMD_TEXT_SIZE> text;
    (void)cmd_identify(*channel, status, text);
    if (std::memchr(text.data(), '\0', text.size()) == nullptr) std::abort();
    static std::array<char, CMD_INFO_TEXT_SIZE> info;
    (void)cmd_read_info(*channel, info);
    const std::array<std::uint8_t, 600> image{};
    (void)cmd_upgrade(*channel, image, text, status);
    if (std::memchr(text.data(), '\0', text.size()) == nullptr) std::abort();
    (void)cmd_restart(*channel);
    return 0;
}
