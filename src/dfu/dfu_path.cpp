#include "dfu/dfu_path.h"

#include "dfu/dfu_request.h"
#include "platform/interrupt.h"
#include "platform/platform.h"
#include "usb/usb_device_wait.h"

namespace {

int interface_for(std::uint16_t product_id) { return product_id == DFU_PRODUCT_ID ? 0 : 1; }

// The run and the device as the last wait found it: every later wait must
// find it again (in its newest enumeration).
struct dfu_run {
    run_context& context;
    usb_device_identity device;
    dfu_relay relay;
    bool with_image = false;
};

reporter& report_of(dfu_run& run) { return run.context.report; }

outcome report_error(dfu_run& run, message id, outcome result) {
    report_of(run).error(error_of(id, result));
    return result;
}

// Polls for the run's device and opens its DFU interface; null (after
// " [FAIL]" and the reason) when it does not appear within the allowed
// attempts. After a detach (`detached`) the device must have left the bus
// first; the wait begins with the settling pause.
dfu_device_ptr wait_for_device(dfu_run& run, outcome& cause, bool detached, platform::DepartureWatch watch = 0) {
    reporter& report = report_of(run);
    usb_wait_request request;
    request.device = &run.device;
    request.restarted = detached;
    request.watch = watch;
    if (detached) usb_wait_pause(run.context.os, request, DFU_DETACH_SETTLE_MS);
    report.phase_begin(phase::wait);
    dfu_device_ptr opened;
    bool unopened = false;  // found, but its DFU interface did not open
    request.take = [&](const usb_device_identity& candidate) {
        opened = dfu_open_same(run.context.os, DEVICE_VENDOR_ID, candidate.product_id,
                               interface_for(candidate.product_id), candidate);
        unopened = opened == nullptr;
        return opened != nullptr;
    };
    request.missed = [&report] { report.poll(phase::wait); };
    const usb_wait_result result = usb_wait_for_device(run.context.os, request);
    if (result == usb_wait_result::back) {
        run.device = request.found;
        const usb_device& usb = dfu_usb_device(*opened);
        report.waited(true, usb_device_product_id(usb), usb_device_release(usb));
        return opened;
    }
    report.waited(false, 0, std::nullopt);
    cause = failed(failure::did_not_come_back);
    if (result == usb_wait_result::did_not_restart)
        cause = report_error(run, message::did_not_restart, failed(failure::did_not_restart));
    if (unopened) {
        // Seen through its HID interface, or without the rights or the
        // driver its DFU interface needs: say so rather than "not found".
        cause = failed(failure::open_failed);
        report.error(error_of(message::dfu_interface_unopened, cause, run.context.os.inaccessible_device_hint()));
    }
    return nullptr;
}

// After the device left DFU mode: it must be back in run-time mode, and, when
// the image names a product that could not be checked while the device was in
// DFU mode, be that product.
outcome check_back_in_run_time(dfu_run& run, dfu_device& device, std::uint16_t image_product) {
    const std::uint16_t product_id = usb_device_product_id(dfu_usb_device(device));
    if (product_id == DFU_PRODUCT_ID)
        return report_error(run, message::back_in_dfu_mode, failed(failure::came_back_in_dfu_mode));
    if (image_product != ANY_ID && image_product != product_id) {
        const outcome result = failed(failure::image_wrong_product);
        report_of(run).error(error_of(message::came_back_as_other, result, image_product, product_id));
        return result;
    }
    return succeeded();
}

}  // namespace

std::string dfu_failure_text(const outcome& failure) {
    if (failure.kind == failure::device_status) return dfu_status_name(static_cast<unsigned>(failure.code));
    return message_text(error_of(message::dfu_request_failed, failure));
}

namespace {

bool in_dfu_mode(dfu_device& device) { return usb_device_product_id(dfu_usb_device(device)) == DFU_PRODUCT_ID; }

// The closing error line and the empty line after it; the device is closed.
outcome run_failed(dfu_run& run, dfu_device_ptr& device, outcome cause) {
    report_of(run).error(error_of(run.with_image ? message::dfu_upgrade_failed : message::dfu_info_failed, cause));
    report_of(run).say("\n");
    device.reset();
    return cause;
}

// The whole sequence from the first wait to the last.
outcome upgrade(dfu_run& run, const run_job& job, bool reset_after) {
    const std::optional<std::span<const std::uint8_t>> image = job.reset ? std::nullopt : job.image;
    const bool read_info = !job.reset && job.read_info;
    reporter& report = report_of(run);
    const dfu_event_fn callback = [&run](dfu_device& device, dfu_event event, int value, const char* text) {
        dfu_relay_event(run.relay, device, event, value, text);
    };
    platform::Platform& os = run.context.os;
    outcome cause = failed(failure::communication);
    auto fail = [&](dfu_device_ptr& device) { return run_failed(run, device, cause); };

    dfu_device_ptr device = wait_for_device(run, cause, false);
    if (!device) return fail(device);
    // From the first detach on, the device restarts, takes an image or
    // leaves DFU mode until the last wait.
    const platform::interrupt_critical_phase critical;

    if (!in_dfu_mode(*device)) {
        const platform::DepartureWatchOwner watch(os, os.usb_watch_departure(dfu_usb_device(*device).handle.get()));
        cause = failed(failure::communication);
        if (!dfu_leave_mode(*device, "run-time", callback).ok()) return fail(device);
        device.reset();
        device = wait_for_device(run, cause, true, watch.get());
        if (!device) return fail(device);
        if (!in_dfu_mode(*device)) {
            cause = report_error(run, message::not_in_upgrade_mode, failed(failure::not_in_dfu_mode));
            return fail(device);
        }
    }

    if (image) report.phase_begin(phase::upgrade);
    outcome transfer_result = dfu_transfer(*device, image, callback);
    // What failed, unless the transfer's events said so already.
    if (!transfer_result.ok() && !run.relay.failure_shown)
        report.info(info_kind::device_message, dfu_failure_text(transfer_result) + "\n");
    // The information text is what an information read is for: without one
    // (a failed or empty upload) the read failed.
    if (read_info && dfu_status_text(*device)[0] == '\0' && transfer_result.ok())
        transfer_result = failed(failure::communication);
    if (image) report.phase_end(phase::upgrade, transfer_result);
    platform::DepartureWatchOwner watch;
    if (reset_after) {
        watch.reset(os, os.usb_watch_departure(dfu_usb_device(*device).handle.get()));
        cause = failed(failure::communication);
        if (!dfu_leave_mode(*device, "DFU", callback).ok()) return fail(device);
    }
    device.reset();

    device = wait_for_device(run, cause, reset_after, watch.get());
    if (!transfer_result.ok()) cause = transfer_result;
    if (!device || !transfer_result.ok()) return fail(device);
    if (reset_after) {
        if (const outcome back = check_back_in_run_time(run, *device, job.image_product); !back.ok()) {
            cause = back;
            return fail(device);
        }
    }
    report.say("\n");
    device.reset();  // closed before the departure watch and the critical phase end
    return run.relay.cause;
}

}  // namespace

void dfu_relay_event(dfu_relay& relay, dfu_device& device, dfu_event event, int value, const char* text) {
    reporter& report = relay.report;
    const auto fail = [&relay](outcome cause) {
        if (relay.cause.ok()) relay.cause = cause;
        return cause;
    };
    switch (event) {
        case DFU_EVENT_PROGRESS:
            report.progress(phase::transfer, static_cast<std::uint64_t>(value < 0 ? 0 : value), relay.image_size);
            break;
        case DFU_EVENT_TRANSFER_BEGIN:
            relay.flashing = false;
            report.phase_begin(phase::transfer);
            break;
        case DFU_EVENT_MANIFEST_BEGIN:
            report.phase_end(phase::transfer, succeeded());
            relay.flashing = true;
            report.phase_begin(phase::flash);
            break;
        case DFU_EVENT_MANIFEST_POLL: report.poll(phase::flash); break;
        case DFU_EVENT_TRANSFER_END:
            if (value == 0) {
                if (!device.failure.ok()) report.info(info_kind::device_message, dfu_failure_text(device.failure));
                relay.failure_shown = true;
                report.phase_end(relay.flashing ? phase::flash : phase::transfer, fail(failed(failure::communication)));
            } else {
                report.phase_end(phase::flash,
                                 value < 0 ? fail(failed(failure::device_status, device.failure.code)) : succeeded());
            }
            break;
        case DFU_EVENT_TEXT:
            if (value == 2)
                report.info(info_kind::flash_status, dfu_status_text(device));
            else if (value == 0)
                report.info(info_kind::flash_status_missing, "");
            else
                report.info(info_kind::image_info, value == 1 ? dfu_status_text(device) : "");
            break;
        case DFU_EVENT_DETACH_BEGIN: report.phase_begin(phase::detach, text != nullptr ? text : ""); break;
        case DFU_EVENT_DETACH_END:
            report.phase_end(phase::detach, value > 0 ? succeeded() : fail(failed(failure::communication)));
            break;
        case DFU_EVENT_TEXT_BEGIN: break;
    }
}

outcome dfu_path(run_context& run, const run_job& job) {
    run.report.device(run.device, run_path::dfu);
    if (job.reset) run.report.phase_begin(phase::reset);
    dfu_run state{run, run.device, dfu_relay{run.report, 0, false, false, succeeded()},
                  !job.reset && job.image.has_value()};
    if (state.with_image) state.relay.image_size = job.image->size();
    return upgrade(state, job, job.reset || job.restart_after);
}
