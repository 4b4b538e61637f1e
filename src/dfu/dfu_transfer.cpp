#include "dfu/dfu_transfer.h"

#include <algorithm>
#include <cstring>

#include "dfu/dfu_request.h"
#include "platform/platform.h"

namespace {

void send(const dfu_event_fn& callback, dfu_device& device, dfu_event event, int value,
          const char* text = nullptr) {
    if (callback) callback(device, event, value, text);
}

// Every block, then the zero-length block that ends the download. A block
// that moves nothing would never finish the image and counts as failed.
bool download(dfu_device& device, std::span<const std::uint8_t> image, const dfu_event_fn& callback) {
    usb_device& usb = dfu_usb_device(device);
    std::size_t offset = 0;
    for (std::uint32_t block = 0;; ++block) {
        send(callback, device, DFU_EVENT_PROGRESS, static_cast<int>(offset));
        const std::size_t count = std::min(image.size() - offset, DFU_BLOCK_SIZE);
        const int moved = dfu_dnload(usb, image.subspan(offset, count), block);
        if (moved < 0 || (count > 0 && moved == 0)) {
            device.failure = failed(failure::communication, DFU_FAILED_DNLOAD);
            return false;
        }
        if (count == 0) return true;
        offset += std::min(static_cast<std::size_t>(moved), count);
    }
}

// Polls until the device leaves manifestation; its final status, or nothing
// with a pending message.
std::optional<dfu_status> wait_for_manifestation(dfu_device& device, const dfu_event_fn& callback) {
    usb_device& usb = dfu_usb_device(device);
    for (int poll = 0; poll < DFU_MANIFEST_MAX_POLLS; ++poll) {
        usb.os->sleep_ms(DFU_MANIFEST_POLL_MS);
        dfu_status status;
        if (dfu_get_status(usb, status) < 0) {
            device.failure = failed(failure::communication, DFU_FAILED_MANIFEST_POLL);
            return std::nullopt;
        }
        send(callback, device, DFU_EVENT_MANIFEST_POLL, 0);
        if (status.bState == DFU_STATE_IDLE || status.bState == DFU_STATE_ERROR) return status;
    }
    device.failure = failed(failure::communication, DFU_FAILED_MANIFEST_TIMEOUT);
    return std::nullopt;
}

// 0 when the image went out and manifestation ended (in dfuIDLE or
// dfuERROR), -1 on a communication failure.
int download_and_manifest(dfu_device& device, std::span<const std::uint8_t> image,
                          const dfu_event_fn& callback) {
    send(callback, device, DFU_EVENT_TRANSFER_BEGIN, 0);
    if (!download(device, image, callback)) {
        send(callback, device, DFU_EVENT_TRANSFER_END, 0);
        return -1;
    }
    send(callback, device, DFU_EVENT_PROGRESS, static_cast<int>(image.size()));
    send(callback, device, DFU_EVENT_MANIFEST_BEGIN, 0);
    const std::optional<dfu_status> status = wait_for_manifestation(device, callback);
    if (!status) {
        send(callback, device, DFU_EVENT_TRANSFER_END, 0);
        return -1;
    }
    if (status->bState == DFU_STATE_ERROR) {
        // dfuERROR with status OK fails the transfer's events, not the result.
        if (status->bStatus != 0) device.failure = failed(failure::device_status, status->bStatus);
        send(callback, device, DFU_EVENT_TRANSFER_END, -1);
    } else {
        send(callback, device, DFU_EVENT_TRANSFER_END, 1);
    }
    return 0;
}

// Uploads the status text into the device's buffer, as much of it as fits
// with its NUL. True when a short block ended it, or when the buffer is full
// (the text is kept, cut, and the device, left in dfuUPLOAD-IDLE, gets
// ABORT); false when a request failed (the text is then empty). NULs from
// the device are shown as spaces.
bool upload_text(dfu_device& device) {
    usb_device& usb = dfu_usb_device(device);
    constexpr std::size_t room = DFU_TEXT_SIZE - 1;  // the last byte holds the NUL
    std::size_t total = 0;
    for (std::uint32_t block = 0;; ++block) {
        std::array<std::uint8_t, DFU_UPLOAD_SIZE> chunk{};
        const int received = dfu_upload(usb, chunk, block);
        if (received < 0) {
            device.status_text[0] = '\0';
            return false;
        }
        const std::size_t kept = std::min(static_cast<std::size_t>(received), room - total);
        std::memcpy(device.status_text.data() + total, chunk.data(), kept);
        total += kept;
        if (received < static_cast<int>(DFU_UPLOAD_SIZE)) break;
        if (total == room) {
            // A failed ABORT leaves the device in dfuUPLOAD-IDLE, which the
            // detach sequence and the next transfer handle as well.
            dfu_abort(usb);
            break;
        }
    }
    std::replace(device.status_text.begin(), device.status_text.begin() + static_cast<std::ptrdiff_t>(total),
                 '\0', ' ');
    device.status_text[total] = '\0';
    return true;
}

// Brings the interface to dfuIDLE the ways DFU 1.1 allows: CLRSTATUS leaves
// dfuERROR, ABORT an idle download or upload; every other state is left
// alone. Success, or the request that failed.
outcome bring_to_idle(usb_device& usb) {
    dfu_status status;
    if (dfu_get_status(usb, status) < 0) return failed(failure::communication, DFU_FAILED_GETSTATUS);
    if (status.bState == DFU_STATE_ERROR)
        return dfu_clr_status(usb) < 0 ? failed(failure::communication, DFU_FAILED_CLRSTATUS) : succeeded();
    if (status.bState == DFU_STATE_DNLOAD_IDLE || status.bState == DFU_STATE_UPLOAD_IDLE)
        return dfu_abort(usb) < 0 ? failed(failure::communication, DFU_FAILED_ABORT) : succeeded();
    return succeeded();
}

}  // namespace

outcome dfu_make_idle(dfu_device& device) {
    const outcome idle = bring_to_idle(dfu_usb_device(device));
    if (!idle.ok()) device.failure = idle;
    return idle;
}

outcome dfu_leave_mode(dfu_device& device, const char* mode_name, const dfu_event_fn& callback) {
    send(callback, device, DFU_EVENT_DETACH_BEGIN, 0, mode_name);
    usb_device& usb = dfu_usb_device(device);
    // In DFU mode the device accepts DETACH only in dfuIDLE.
    bool ok = usb_device_product_id(usb) != DFU_PRODUCT_ID || bring_to_idle(usb).ok();
    ok = ok && dfu_detach(usb) >= 0;
    send(callback, device, DFU_EVENT_DETACH_END, ok ? 1 : 0);
    return ok ? succeeded() : failed(failure::communication);
}

outcome dfu_transfer(dfu_device& device, std::optional<std::span<const std::uint8_t>> image,
                 const dfu_event_fn& callback) {
    device.failure = succeeded();
    if (const outcome idle = dfu_make_idle(device); !idle.ok()) return idle;
    if (image && download_and_manifest(device, *image, callback) < 0) return device.failure;
    // A download that ended in dfuERROR has its status kept over the clearing.
    const outcome downloaded = device.failure;
    if (const outcome idle = dfu_make_idle(device); !idle.ok()) return idle;
    device.failure = downloaded;
    send(callback, device, DFU_EVENT_TEXT_BEGIN, 0);
    const bool text = upload_text(device);
    if (image)
        send(callback, device, DFU_EVENT_TEXT, text ? 2 : 0);
    else
        send(callback, device, DFU_EVENT_TEXT, text && device.status_text[0] != '\0' ? 1 : -1);
    return device.failure;
}
