#include "kxp/kxp_path.h"

#include <memory>
#include <string>

#include "kxp/client_info.h"
#include "kxp/kxp_codes.h"
#include "kxp/kxp_exchange.h"
#include "kxp/kxp_session.h"
#include "kxp/kxp_upgrade.h"
#include "platform/interrupt.h"
#include "report/text_format.h"
#include "usb/usb_device_wait.h"

namespace {

std::optional<std::string> version_text(const std::optional<kxp_version_bytes>& version) {
    if (!version) return std::nullopt;
    return text_format("%02x%02x.%02x%02x", (*version)[0], (*version)[1], (*version)[2], (*version)[3]);
}

link_peer peer_of(const client_info& info) {
    char serial[20] = {};
    client_info_serial_number(info, serial);
    link_peer peer;
    peer.protocol = version_text(client_info_protocol_version(info));
    peer.sw_version = version_text(client_info_sw_version(info));
    if (const auto mfg_id = client_info_mfg_id(info)) peer.mfg_id = std::string(*mfg_id);
    peer.serial = serial;
    return peer;
}

outcome link_failed(run_context& run, message id, const outcome& cause) {
    run.report.error(error_of(id, cause));
    return cause;
}

// Everything between a successful open and the close: information, system
// error value, upgrade and restart as the job asks. `watch` receives the
// system's watch on the device, set before it is told to restart.
outcome run_session(run_context& run, const run_job& job, kxp_session& session, platform::DepartureWatchOwner& watch) {
    reporter& report = run.report;
    const client_info* peer = nullptr;
    kxp_session_peer_info(session, peer);
    report.peer(peer_of(*peer));

    std::uint64_t syserror = 0;
    if (const outcome read = kxp_get_syserror(session, syserror); !read.ok())
        return link_failed(run, message::link_syserror, read);
    report.info(info_kind::syserror, "", static_cast<std::int64_t>(syserror));

    // From the upgrade to the end of the boot wait an interrupt is held back.
    const platform::interrupt_critical_phase critical;
    if (!job.reset) {
        if (job.image) report.phase_begin(phase::upgrade);
        const outcome upgraded = kxp_upgrade(session, job.image, report);
        if (job.image) report.phase_end(phase::upgrade, upgraded);
        if (!upgraded.ok()) {
            report.error(error_of(message::link_upgrade, upgraded));
            return upgraded;
        }
    }
    if (job.reset || job.restart_after) {
        report.phase_begin(phase::reset);
        if (session.holder.device) watch.reset(run.os, run.os.hid_watch_departure(session.holder.device->handle.get()));
        if (const outcome restarted = kxp_restart(session); !restarted.ok())
            return link_failed(run, message::link_restart, restarted);
        report.phase_end(phase::reset, succeeded());
    }
    return succeeded();
}

}  // namespace

outcome kxp_wait_for_boot(run_context& run, bool restarted, platform::DepartureWatch watch) {
    reporter& report = run.report;
    usb_wait_request request;
    request.device = &run.device;
    request.restarted = restarted;
    request.watch = watch;
    usb_wait_pause(run.os, request, BOOT_WAIT_FIRST_PAUSE_MS);
    report.phase_begin(phase::wait);
    request.missed = [&report] { report.poll(phase::wait); };
    const usb_wait_result result = usb_wait_for_device(run.os, request);
    report.waited(result == usb_wait_result::back, request.found.product_id, std::nullopt);
    if (result == usb_wait_result::back) {
        if (!restarted || request.found.product_id != DFU_PRODUCT_ID) return succeeded();
        const outcome cause = failed(failure::came_back_in_dfu_mode);
        report.error(error_of(message::back_in_dfu_mode, cause));
        return cause;
    }
    const bool stayed = result == usb_wait_result::did_not_restart;
    const outcome cause = failed(stayed ? failure::did_not_restart : failure::did_not_come_back);
    report.error(error_of(stayed ? message::did_not_restart : message::not_back, cause));
    return cause;
}

std::optional<outcome> kxp_path(run_context& run, const run_job& job) {
    std::string address = "USB";
    if (job.serial) {
        if (job.serial->size() > LINK_SERIAL_MAX) {
            const outcome cause = failed(failure::serial_too_long);
            run.report.error(error_of(message::serial_too_long, cause, static_cast<std::uint32_t>(LINK_SERIAL_MAX), 0,
                                      std::string(*job.serial)));
            return cause;
        }
        address += ':';
        address += *job.serial;
    }

    auto session = std::make_unique<kxp_session>();
    kxp_session_init(*session);
    const int opened = kxp_session_open(run.os, *session, address, KXP_CLIENT_NAME, run.device);
    if (opened == KXP_ERR_LINK) {
        // The first line is the link layer's own; the error line names the
        // device, as the HID path does when it cannot open one.
        run.report.say("flash-tool: USB KXP failed to initialize communication link layer\n\n");
        const outcome cause = failed(failure::link_unavailable, opened);
        run.report.error(error_of(message::link_unavailable, cause, run.device.product_id));
        return cause;
    }
    if (opened != 0) return std::nullopt;
    run.report.device(run.device, run_path::kxp);

    platform::DepartureWatchOwner watch;
    const outcome done = run_session(run, job, *session, watch);
    kxp_session_close(*session);
    if (!done.ok()) return done;
    const platform::interrupt_critical_phase restarting;
    return kxp_wait_for_boot(run, job.reset || job.restart_after, watch.get());
}
