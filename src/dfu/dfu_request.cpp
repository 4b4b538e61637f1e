#include "dfu/dfu_request.h"

#include "usb/le.h"

namespace {

constexpr std::array<const char*, 16> STATUS_NAMES = {
    "OK",
    "ERROR Target",
    "ERROR File",
    "ERROR Write",
    "ERROR Erase",
    "ERROR Check Erased",
    "ERROR Prog",
    "ERROR Verify",
    "ERROR Address",
    "ERROR Not Done",
    "ERROR Firmware",
    "ERROR Vendor",
    "ERROR USBR",
    "ERROR POR",
    "ERROR Unknown",
    "ERROR Stalled Packet",
};

int request_out(usb_device& usb, std::uint8_t request, std::uint16_t value) {
    int moved = 0;
    return usb_device_control_out(usb, request, value, {}, 0, moved) == 0 ? 0 : -1;
}

}  // namespace

dfu_status dfu_status_decode(std::span<const std::uint8_t, DFU_STATUS_SIZE> reply) {
    dfu_status status;
    status.bStatus = reply[0];
    status.bwPollTimeout = le24(reply, 1);
    status.bState = reply[4];
    status.iString = reply[5];
    return status;
}

std::array<std::uint8_t, DFU_STATUS_SIZE> dfu_status_encode(const dfu_status& status) {
    return {status.bStatus,
            static_cast<std::uint8_t>(status.bwPollTimeout),
            static_cast<std::uint8_t>(status.bwPollTimeout >> 8),
            static_cast<std::uint8_t>(status.bwPollTimeout >> 16),
            status.bState,
            status.iString};
}

const char* dfu_status_name(unsigned code) {
    return code < STATUS_NAMES.size() ? STATUS_NAMES[code] : "ERROR Unknown Status Value";
}

bool dfu_detach_failure_tolerated(platform::UsbError error) {
    return error == platform::UsbError::general_failure || error == platform::UsbError::device_gone;
}

int dfu_detach(usb_device& usb) {
    int moved = 0;
    if (usb_device_control_out(usb, DFU_DETACH, DFU_DETACH_TIMEOUT, {}, 0, moved) == 0) return 0;
    return dfu_detach_failure_tolerated(usb.last_error) ? 0 : -1;
}

int dfu_dnload(usb_device& usb, std::span<const std::uint8_t> data, std::uint32_t block) {
    if (data.size() > 0xFFFF) return -1;
    int moved = 0;
    if (usb_device_control_out(usb, DFU_DNLOAD, static_cast<std::uint16_t>(block), data,
                               static_cast<std::uint16_t>(data.size()), moved) != 0)
        return -1;
    return moved;
}

int dfu_upload(usb_device& usb, std::span<std::uint8_t, DFU_UPLOAD_SIZE> buffer, std::uint32_t block) {
    int received = 0;
    if (usb_device_control_in(usb, DFU_UPLOAD, static_cast<std::uint16_t>(block), buffer, DFU_UPLOAD_SIZE,
                              received) != 0)
        return -1;
    return received;
}

int dfu_get_status(usb_device& usb, dfu_status& status) {
    std::array<std::uint8_t, DFU_STATUS_SIZE> reply{};
    int received = 0;
    if (usb_device_control_in(usb, DFU_GETSTATUS, 0, reply, DFU_STATUS_SIZE, received) != 0 ||
        received != static_cast<int>(DFU_STATUS_SIZE))
        return -1;
    status = dfu_status_decode(reply);
    return static_cast<int>(DFU_STATUS_SIZE);
}

int dfu_clr_status(usb_device& usb) { return request_out(usb, DFU_CLRSTATUS, 0); }

int dfu_abort(usb_device& usb) { return request_out(usb, DFU_ABORT, 0); }
