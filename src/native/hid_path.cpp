#include "native/hid_path.h"

#include <array>
#include <memory>

#include "native/cmd.h"
#include "platform/interrupt.h"
#include "usb/usb_device_wait.h"

namespace {

constexpr std::uint32_t RESTART_PAUSE_MS = 500;

outcome report_error(run_context& run, message id, outcome result) {
    run.report.error(error_of(id, result));
    return result;
}

// The closing error line of a failed upgrade or information read, and the
// empty line after it.
outcome run_failed(run_context& run, const run_job& job, outcome result) {
    const outcome summary = report_error(run, job.image ? message::upgrade_failed : message::info_failed, result);
    run.report.say("\n");
    return summary;
}

// Restarts the device over the open channel and waits for it to enumerate
// again in run-time mode.
outcome restart_and_wait(run_context& run, cmd_channel& channel) {
    run.report.phase_begin(phase::restart);
    const platform::DepartureWatchOwner watch(run.os, cmd_channel_watch_departure(channel));
    if (const outcome restarted = cmd_restart(channel); !restarted.ok())
        return report_error(run, message::communication_error, restarted);
    run.report.phase_end(phase::restart, succeeded());
    usb_wait_request request;
    request.device = &run.device;
    request.restarted = true;
    request.watch = watch.get();
    usb_wait_pause(run.os, request, RESTART_PAUSE_MS);
    run.report.phase_begin(phase::wait);
    request.missed = [&run] { run.report.poll(phase::wait); };
    const usb_wait_result result = usb_wait_for_device(run.os, request);
    run.report.waited(result == usb_wait_result::back, request.found.product_id, std::nullopt);
    if (result == usb_wait_result::back) {
        if (request.found.product_id != DFU_PRODUCT_ID) return succeeded();
        return report_error(run, message::back_in_dfu_mode, failed(failure::came_back_in_dfu_mode));
    }
    if (result == usb_wait_result::did_not_restart)
        return report_error(run, message::did_not_restart, failed(failure::did_not_restart));
    return report_error(run, message::not_back, failed(failure::did_not_come_back));
}

outcome read_info(run_context& run, const run_job& job, cmd_channel& channel) {
    auto text = std::make_unique<std::array<char, CMD_INFO_TEXT_SIZE>>();
    if (const outcome read = cmd_read_info(channel, *text); !read.ok())
        return run_failed(run, job, report_error(run, message::communication_error, read));
    run.report.info(info_kind::information, text->data());
    return succeeded();
}

outcome flash(run_context& run, const run_job& job, cmd_channel& channel) {
    reporter& report = run.report;
    const std::span<const std::uint8_t> image = *job.image;
    report.phase_begin(phase::upgrade);
    const platform::interrupt_critical_phase flashing;
    const auto command_failed = [&](const outcome& cause) {
        return run_failed(run, job, report_error(run, message::communication_error, cause));
    };
    if (const outcome prepared = cmd_prepare(channel); !prepared.ok()) return command_failed(prepared);

    report.phase_begin(phase::transfer);
    cmd_progress progress;
    progress.sent = [&report](std::uint64_t done, std::uint64_t total) {
        report.progress(phase::transfer, done, total);
    };
    progress.busy = [&report] { report.poll(phase::flash); };
    const outcome sent = cmd_send_image(channel, image, progress);
    report.phase_end(phase::transfer, sent);
    if (!sent.ok()) return command_failed(sent);

    report.phase_begin(phase::flash);
    std::array<char, CMD_TEXT_SIZE> status_text{};
    int status = 0;
    const outcome flashed = cmd_flash(channel, static_cast<std::int32_t>(image.size()), status, status_text, progress);
    report.phase_end(phase::flash, flashed);
    if (!flashed.ok()) return command_failed(flashed);
    report.info(info_kind::flash_status, status_text.data(), status);
    const outcome flash_result = status == 0 ? succeeded() : failed(failure::device_status, status);
    report.phase_end(phase::upgrade, flash_result);

    if (job.restart_after) {
        if (const outcome restarted = restart_and_wait(run, channel); !restarted.ok())
            return run_failed(run, job, restarted);
    }
    // Any non-zero device status is a failed upgrade.
    if (!flash_result.ok()) return run_failed(run, job, flash_result);
    report.say("\n");
    return succeeded();
}

outcome restart(run_context& run) {
    run.report.phase_begin(phase::reset);
    cmd_channel_ptr channel = cmd_channel_open_same(run.os, run.device);
    if (!channel) {
        const outcome result = failed(failure::open_failed);
        run.report.error(error_of(message::open_device, result, run.device.product_id));
        run.report.say("\n");
        return result;
    }
    outcome result = succeeded();
    const platform::interrupt_critical_phase restarting;
    if (const outcome restarted = cmd_restart(*channel); !restarted.ok())
        result = report_error(run, message::communication_error, restarted);
    run.report.say("\n");
    channel.reset();  // closed inside the critical phase
    return result;
}

}  // namespace

bool hid_probe(platform::Platform& os, const usb_device_identity& device) {
    cmd_channel_ptr channel = cmd_channel_open_same(os, device);
    if (!channel) return false;
    int status = 0;
    std::array<char, CMD_TEXT_SIZE> text{};
    return cmd_identify(*channel, status, text).ok();
}

outcome hid_path(run_context& run, const run_job& job) {
    run.report.device(run.device, run_path::hid);
    if (job.reset) return restart(run);
    cmd_channel_ptr channel = cmd_channel_open_same(run.os, run.device);
    if (!channel) {
        const outcome result = failed(failure::open_failed);
        run.report.error(error_of(message::open_device, result, run.device.product_id));
        return run_failed(run, job, result);
    }
    int status = 0;
    std::array<char, CMD_TEXT_SIZE> text{};
    if (const outcome identified = cmd_identify(*channel, status, text); !identified.ok())
        return run_failed(run, job, report_error(run, message::communication_error, identified));
    run.report.info(info_kind::identity, text.data(), status);
    return job.image ? flash(run, job, *channel) : read_info(run, job, *channel);
}
