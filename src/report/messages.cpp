#include "report/messages.h"

#include "report/text_format.h"
#include "usb/usb_device_wait.h"
#include "usb/usb_ids.h"

namespace {

// The link's result in the form its error lines give it.
unsigned result_code(const error_report& report) { return static_cast<unsigned>(report.result.code); }

}  // namespace

std::string message_text(const error_report& report) {
    const unsigned vendor = DEVICE_VENDOR_ID;
    switch (report.id) {
        case message::communication_error: return "ERROR: Communication error\n";
        case message::open_device:
            return text_format("ERROR: Could not open USB device %.4X:%.4X\n", vendor, report.first);
        case message::upgrade_failed: return "ERROR: Could not upgrade device.\n";
        case message::info_failed: return "ERROR: Could not get read info from device.\n";
        case message::dfu_upgrade_failed: return "\nERROR: Could not upgrade device.\n";
        case message::dfu_info_failed: return "\nERROR: Could not get read info from device.\n";
        case message::did_not_restart: return USB_WAIT_DID_NOT_RESTART_TEXT;
        case message::not_back: return USB_WAIT_NOT_BACK_TEXT;
        case message::back_in_dfu_mode: return USB_WAIT_BACK_IN_DFU_MODE_TEXT;
        case message::dfu_interface_unopened:
            return "ERROR: The device is attached, but its DFU interface cannot be opened.\n" +
                   (report.subject.empty() ? std::string() : report.subject + "\n");
        case message::not_in_upgrade_mode: return "\nERROR: Device is not in upgrade mode.\n";
        case message::came_back_as_other:
            return text_format("ERROR: The image is for product ID %.4x, but the device came back as %.4x:%.4x.\n",
                               report.first, vendor, report.second);
        case message::link_syserror:
            return text_format("ERROR: Could not read the system error value (result 0x%x).\n", result_code(report));
        case message::link_upgrade:
            return text_format("ERROR: Could not upgrade device (result 0x%x).\n", result_code(report));
        case message::link_restart:
            return text_format("ERROR: Could not restart the device (result 0x%x).\n", result_code(report));
        case message::link_unavailable:
            return text_format("ERROR: Could not open the KXP link to USB device %.4X:%.4X\n", vendor, report.first);
        case message::serial_too_long:
            return text_format(
                "ERROR: Serial number <%s> is longer than the %u characters a USB KXP link address holds.\n",
                report.subject.c_str(), report.first);
        case message::image_unreadable: return "\n" + report.subject + "\n";
        case message::image_empty: return "ERROR: The image file <" + report.subject + "> is empty.\n";
        case message::image_suffix_only:
            return "ERROR: The image file <" + report.subject + "> holds a DFU suffix and no firmware.\n";
        case message::image_malformed_suffix:
            return text_format("ERROR: The image's DFU suffix is malformed: its length is %u, not %u.\n", report.first,
                               report.second);
        case message::image_bad_crc:
            return text_format("ERROR: The image's DFU suffix gives CRC %.8x, but its contents have CRC %.8x.\n",
                               report.first, report.second);
        case message::image_wrong_vendor:
            return text_format("ERROR: The image is for vendor ID %.4x, not %.4x.\n", report.first, report.second);
        case message::image_wrong_product:
            return text_format("ERROR: The image is for product ID %.4x, but the device is %.4x:%.4x.\n", report.first,
                               vendor, report.second);
        case message::several_devices:
        case message::no_match: return report.subject;
        case message::dfu_request_failed:
            if (report.result.code == 6)
                return "\n[ERROR: Communication error (6): device still flashing after 3000 status polls]\n";
            return text_format("\n[ERROR: Communication error (%d)]\n", static_cast<int>(report.result.code));
        case message::device_in_use:
            return "ERROR: The device at " + report.subject + " is in use by another flash-tool (" + report.detail +
                   ").\n";
    }
    return {};
}

const char* failure_name(failure kind) {
    switch (kind) {
        case failure::none: return "none";
        case failure::usage: return "usage";
        case failure::no_device: return "no_device";
        case failure::several_devices: return "several_devices";
        case failure::device_in_use: return "device_in_use";
        case failure::open_failed: return "open_failed";
        case failure::communication: return "communication";
        case failure::device_status: return "device_status";
        case failure::image_unreadable: return "image_unreadable";
        case failure::image_empty: return "image_empty";
        case failure::image_suffix_only: return "image_suffix_only";
        case failure::image_malformed_suffix: return "image_malformed_suffix";
        case failure::image_bad_crc: return "image_bad_crc";
        case failure::image_wrong_vendor: return "image_wrong_vendor";
        case failure::image_wrong_product: return "image_wrong_product";
        case failure::not_in_dfu_mode: return "not_in_dfu_mode";
        case failure::did_not_restart: return "did_not_restart";
        case failure::did_not_come_back: return "did_not_come_back";
        case failure::came_back_in_dfu_mode: return "came_back_in_dfu_mode";
        case failure::link_unavailable: return "link_unavailable";
        case failure::serial_too_long: return "serial_too_long";
        case failure::interrupted: return "interrupted";
    }
    return "none";
}
