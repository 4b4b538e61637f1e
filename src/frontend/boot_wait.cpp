#include "frontend/boot_wait.h"

#include <cstdio>

#include "platform/platform.h"
#include "usb/usb_device_wait.h"

bool wait_for_boot(serial_number serial, const usb_device_identity* device, bool restarted) {
    platform::current().sleep_ms(BOOT_WAIT_FIRST_PAUSE_MS);
    std::fputs("* Wait for boot  ", stdout);
    usb_wait_request request;
    request.device = device;
    request.serial = serial;
    request.restarted = restarted;
    request.missed = [] { std::fflush(stdout); };
    const usb_wait_result result = usb_wait_for_device(request);
    if (result == usb_wait_result::back) {
        std::printf("[OK - %.4x:%.4x]\n", DEVICE_VENDOR_ID, request.found.product_id);
        return true;
    }
    std::fflush(stdout);
    std::fputs("[FAIL]\n", stderr);
    std::fputs(result == usb_wait_result::did_not_restart ? USB_WAIT_DID_NOT_RESTART_TEXT
                                                          : "ERROR: The device did not come back.\n",
               stderr);
    return false;
}
