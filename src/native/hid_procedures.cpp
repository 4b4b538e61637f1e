#include "native/hid_procedures.h"

#include <array>
#include <cstdio>
#include <memory>

#include "native/cmd.h"
#include "platform/interrupt.h"
#include "usb/usb_device.h"
#include "usb/usb_device_wait.h"

namespace {

constexpr std::uint32_t RESTART_PAUSE_MS = 500;

// Error lines flush standard output first, so a log of both streams keeps
// the order in which the lines were written.
void communication_error() {
    std::fflush(stdout);
    std::fputs("ERROR: Communication error\n", stderr);
}

void open_error(std::uint16_t product_id) {
    std::fflush(stdout);
    std::fprintf(stderr, "ERROR: Could not open USB device %.4X:%.4X\n", static_cast<unsigned>(DEVICE_VENDOR_ID),
                 static_cast<unsigned>(product_id));
}

// Restarts the device over the open channel and waits for it to enumerate
// again in run-time mode. 0 when it is back, HID_UPGRADE_FAILED otherwise.
int restart_and_wait(cmd_channel& channel, const usb_device_identity& device) {
    std::puts("\nRestarting Device!");
    const platform::DepartureWatchOwner watch(*channel.os, cmd_channel_watch_departure(channel));
    if (cmd_restart(channel) < 0) {
        std::fflush(stdout);
        communication_error();
        std::fflush(stdout);
        return HID_UPGRADE_FAILED;
    }
    usb_wait_request request;
    request.device = &device;
    request.restarted = true;
    request.watch = watch.get();
    usb_wait_pause(*channel.os, request, RESTART_PAUSE_MS);
    std::fputs("Waiting for Korvix device to appear.", stdout);
    request.missed = [] {
        std::fputs(".", stdout);
        std::fflush(stdout);
    };
    const usb_wait_result result = usb_wait_for_device(*channel.os, request);
    if (result == usb_wait_result::back) {
        std::printf(" [OK - %.4x:%.4x]\n", static_cast<unsigned>(DEVICE_VENDOR_ID),
                    static_cast<unsigned>(request.found.product_id));
        if (request.found.product_id != DFU_PRODUCT_ID) return 0;
        std::fflush(stdout);
        std::fputs(USB_WAIT_BACK_IN_DFU_MODE_TEXT, stderr);
        return HID_UPGRADE_FAILED;
    }
    std::puts(" [FAIL]");
    std::fflush(stdout);
    std::fputs(result == usb_wait_result::did_not_restart ? USB_WAIT_DID_NOT_RESTART_TEXT : USB_WAIT_NOT_BACK_TEXT,
               stderr);
    return HID_UPGRADE_FAILED;
}

int upgrade_failed(int result) {
    std::fflush(stdout);
    std::fputs("ERROR: Could not upgrade device.\n", stderr);
    std::fputs("\n", stdout);
    return result;
}

int read_info(cmd_channel& channel) {
    auto text = std::make_unique<std::array<char, CMD_INFO_TEXT_SIZE>>();
    if (cmd_read_info(channel, *text) < 0) {
        std::fflush(stdout);
        communication_error();
        std::fflush(stdout);
        std::fputs("ERROR: Could not get read info from device.\n", stderr);
        std::fputs("\n", stdout);
        return HID_UPGRADE_FAILED;
    }
    std::printf("%s", text->data());
    std::fflush(stdout);
    std::fputs("\n", stdout);
    return 0;
}

int flash(cmd_channel& channel, std::span<const std::uint8_t> image, bool restart_after_flash,
          const usb_device_identity& device) {
    std::puts("Flash process begins. Please do not power off or unplug your machine.");
    const platform::interrupt_critical_phase flashing;
    std::array<char, CMD_TEXT_SIZE> status_text{};
    int status = 0;
    if (cmd_upgrade(channel, image, status_text, status, hid_progress) != 0) {
        std::fflush(stdout);
        communication_error();
        std::fflush(stdout);
        return upgrade_failed(HID_UPGRADE_FAILED);
    }
    if (status != 0)
        std::printf("\nFlash status: %s, %d\n", status_text.data(), status);
    else
        std::puts("\nFlash OK!");
    if (restart_after_flash) {
        if (const int result = restart_and_wait(channel, device); result < 0) return upgrade_failed(result);
    }
    std::fflush(stdout);
    // Any non-zero device status is a failed upgrade: a negative one is
    // passed on as it stands, a positive one as HID_UPGRADE_FAILED so that
    // the caller never takes it for success.
    if (status != 0) return upgrade_failed(status < 0 ? status : HID_UPGRADE_FAILED);
    std::fputs("\n", stdout);
    return 0;
}

}  // namespace

int hid_probe(platform::Platform& os, const usb_device_identity& device) {
    cmd_channel_ptr channel = cmd_channel_open_same(os, device);
    if (!channel) return -1;
    int status = 0;
    std::array<char, CMD_TEXT_SIZE> text{};
    return cmd_identify(*channel, status, text);
}

int hid_restart(platform::Platform& os, const usb_device_identity& device) {
    cmd_channel_ptr channel = cmd_channel_open_same(os, device);
    if (!channel) {
        open_error(device.product_id);
        std::fputs("\n", stdout);
        return -1;
    }
    int result = 0;
    const platform::interrupt_critical_phase restarting;
    if (cmd_restart(*channel) < 0) {
        communication_error();
        result = -1;
    }
    std::fputs("\n", stdout);
    channel.reset();  // closed inside the critical phase
    return result;
}

int hid_upgrade(platform::Platform& os, const usb_device_identity& device, const std::uint8_t* image,
                std::int32_t image_length, bool restart_after_flash) {
    const bool read_information = image == nullptr;
    cmd_channel_ptr channel = cmd_channel_open_same(os, device);
    int status = 0;
    std::array<char, CMD_TEXT_SIZE> text{};
    if (!channel) {
        open_error(device.product_id);
        std::fflush(stdout);
    } else if (cmd_identify(*channel, status, text) < 0) {
        communication_error();
        std::fflush(stdout);
    } else {
        std::printf("Device info: [%.2x] %s\n\n", static_cast<unsigned>(status), text.data());
        if (read_information) return read_info(*channel);
        const auto length = static_cast<std::size_t>(image_length < 0 ? 0 : image_length);
        return flash(*channel, std::span(image, length), restart_after_flash, device);
    }
    // The device was not reached or not identified.
    if (!read_information) return upgrade_failed(-1);
    std::fflush(stdout);
    std::fputs("ERROR: Could not get read info from device.\n", stderr);
    std::fputs("\n", stdout);
    return -1;
}

void hid_progress(unsigned event, int value) {
    // One dot per ten percent passed, over the whole transfer.
    static int dot_level = 0;
    switch (event) {
        case PROGRESS_TRANSFER_BEGIN:
            dot_level = 0;
            std::fputs("Transfer image: ", stdout);
            break;
        case PROGRESS_TRANSFER_STEP:
            while (dot_level < value) {
                std::fputs(".", stdout);
                dot_level += 10;
            }
            break;
        case PROGRESS_TRANSFER_END:
        case PROGRESS_FLASH_END: std::fputs("\n", stdout); break;
        case PROGRESS_FLASH_BEGIN: std::fputs("Flashing: ", stdout); break;
        case PROGRESS_FLASH_STEP: std::fputs(".", stdout); break;
        default: break;
    }
    std::fflush(stdout);
}
