// USB descriptors from the device: the string decoder of the backends, the
// device descriptor the WinUSB-role search reads, and
// the configuration and string descriptors as the simulator's host reads
// them. The same bytes feed each reader.
#include <cstdlib>

#include "fuzz/fuzz_platform.h"
#include "platform/usb_string.h"
#include "sim/configuration_view.h"
#include "usb/usb_device.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    platform::usb_string_descriptor_text(bytes);
    sim::parse_configuration(bytes);
    sim::decode_string_descriptor(bytes);

    fuzz::FuzzDevice device;
    device.descriptors_from_input = true;
    fuzz::FuzzPlatform platform(bytes, device);
    usb_device_ptr usb = usb_device_open(platform, DEVICE_VENDOR_ID, ANY_ID, 0, std::nullopt);
    // A device that opened shows the IDs its descriptor gave, nothing else.
    if (usb && usb->vendor_id != DEVICE_VENDOR_ID) std::abort();
    return 0;
}
