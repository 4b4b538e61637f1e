#include "kxp/usb_link.h"

#include <algorithm>

#include "usb/usb_device.h"

bool usb_link_open(platform::Platform& os, usb_link_holder& holder, const usb_device_identity& device) {
    holder.device = usbhid_device_open_same(os, device);
    if (!holder.device) return false;
    if (usbhid_device_feature_length(holder.device.get()) != static_cast<int>(LINK_REPORT_LENGTH)) {
        holder.device.reset();
        return false;
    }
    return true;
}

void usb_link_close(usb_link_holder& holder) { holder.device.reset(); }

void usb_link_bind(usb_link_holder& holder, kxp_link& record) {
    record.send_frame = usb_link_send_frame;
    record.receive_frame = usb_link_receive_frame;
    record.kx_frame_size = KX_FRAME_SIZE;
    record.device = &holder;
}

bool usb_link_send_frame(void* holder_arg, std::span<const std::uint8_t> frame) {
    auto& holder = *static_cast<usb_link_holder*>(holder_arg);
    if (frame.size() > KX_FRAME_SIZE) return false;
    auto& report = holder.report;
    report.fill(0);
    report[0] = LINK_REPORT_ID;
    report[1] = LINK_FRAME_MARK;
    std::copy(frame.begin(), frame.end(), report.begin() + 2);
    return usbhid_device_set_feature(holder.device.get(), report) >= 0;
}

bool usb_link_receive_frame(void* holder_arg, std::span<const std::uint8_t>& frame) {
    auto& holder = *static_cast<usb_link_holder*>(holder_arg);
    auto& report = holder.report;
    report[0] = LINK_REPORT_ID;
    if (usbhid_device_get_feature(holder.device.get(), report) < 0) return false;
    if (report[1] == LINK_ERROR_MARK) return false;
    if (report[1] == LINK_FRAME_MARK)
        frame = std::span<const std::uint8_t>(report).subspan(2);
    else
        frame = std::span<const std::uint8_t>(report).subspan(2, 0);
    return true;
}
