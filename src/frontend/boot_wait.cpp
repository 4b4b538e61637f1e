#include "frontend/boot_wait.h"

#include <cstdio>

#include "platform/platform.h"
#include "usb/usb_device.h"

bool wait_for_boot(serial_number serial) {
    platform::Platform& os = platform::current();
    os.sleep_ms(BOOT_WAIT_FIRST_PAUSE_MS);
    std::fputs("* Wait for boot  ", stdout);
    for (unsigned poll = 0; poll < BOOT_WAIT_POLLS; ++poll) {
        const std::uint16_t product_id = usb_find_product_id(serial);
        if (product_id != 0) {
            std::printf("[OK - %.4x:%.4x]\n", DEVICE_VENDOR_ID, product_id);
            return true;
        }
        os.sleep_ms(BOOT_WAIT_POLL_INTERVAL_MS);
        std::fflush(stdout);
    }
    std::fputs("[FAIL]\n", stderr);
    return false;
}
