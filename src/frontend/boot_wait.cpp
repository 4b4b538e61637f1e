#include "frontend/boot_wait.h"

#include <cstdio>

#include "usb/usb_device_wait.h"

bool wait_for_boot(platform::Platform& os, const usb_device_identity& device, bool restarted,
                   platform::DepartureWatch watch) {
    usb_wait_request request;
    request.device = &device;
    request.restarted = restarted;
    request.watch = watch;
    usb_wait_pause(os, request, BOOT_WAIT_FIRST_PAUSE_MS);
    std::fputs("* Wait for boot  ", stdout);
    request.missed = [] { std::fflush(stdout); };
    const usb_wait_result result = usb_wait_for_device(os, request);
    if (result == usb_wait_result::back) {
        std::printf("[OK - %.4x:%.4x]\n", DEVICE_VENDOR_ID, request.found.product_id);
        if (!restarted || request.found.product_id != DFU_PRODUCT_ID) return true;
        std::fflush(stdout);
        std::fputs(USB_WAIT_BACK_IN_DFU_MODE_TEXT, stderr);
        return false;
    }
    std::fflush(stdout);
    std::fputs("[FAIL]\n", stderr);
    std::fputs(result == usb_wait_result::did_not_restart ? USB_WAIT_DID_NOT_RESTART_TEXT : USB_WAIT_NOT_BACK_TEXT,
               stderr);
    return false;
}
