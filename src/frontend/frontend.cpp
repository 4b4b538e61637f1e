#include "frontend/frontend.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "frontend/build_info.h"
#include "frontend/console.h"
#include "frontend/device_list.h"
#include "frontend/device_reports.h"
#include "frontend/device_run.h"
#include "frontend/image.h"
#include "frontend/image_check.h"
#include "frontend/options.h"
#include "frontend/several_devices.h"
#include "frontend/tool_version.h"
#include "frontend/version.h"
#include "platform/interrupt.h"
#include "platform/platform.h"
#include "report/console_reporter.h"
#include "report/json_reporter.h"
#include "report/live_view.h"
#include "report/shared_console.h"
#include "report/text_format.h"
#include "usb/usb_device.h"

namespace {

// The file's DFU suffix, if it has one, checked before any device is looked
// at; a failure after an error saying what does not match.
outcome check_image_file(reporter& report, const char* image_path, const std::vector<std::uint8_t>& image,
                         std::optional<dfu_suffix>& fitting) {
    dfu_suffix suffix;
    const image_verdict verdict = image_check(image, DEVICE_VENDOR_ID, suffix);
    if (verdict == image_verdict::sendable) {
        fitting = suffix;
        return succeeded();
    }
    if (verdict == image_verdict::no_suffix) {
        report.notice("NOTICE: The image carries no DFU suffix; it is sent unchecked.");
        return succeeded();
    }
    error_report error;
    switch (verdict) {
        case image_verdict::empty:
            error = error_of(message::image_empty, failed(failure::image_empty), image_path);
            break;
        case image_verdict::suffix_only:
            error = error_of(message::image_suffix_only, failed(failure::image_suffix_only), image_path);
            break;
        case image_verdict::malformed_suffix:
            error = error_of(message::image_malformed_suffix, failed(failure::image_malformed_suffix), suffix.length,
                             static_cast<std::uint32_t>(DFU_SUFFIX_LENGTH));
            break;
        case image_verdict::bad_crc:
            error =
                error_of(message::image_bad_crc, failed(failure::image_bad_crc), suffix.stored_crc, suffix.file_crc);
            break;
        default:
            error = error_of(message::image_wrong_vendor, failed(failure::image_wrong_vendor), suffix.vendor_id,
                             DEVICE_VENDOR_ID);
            break;
    }
    report.error(error);
    return error.result;
}

// Says which mode the run is in and fills `file_buffer` in file upgrade mode.
// A failure when the image file cannot be read or fails its check; `suffix`
// receives the file's DFU suffix when it has one that fits.
outcome prepare_image(reporter& report, run_mode mode, const char* image_path, std::vector<std::uint8_t>& file_buffer,
                      std::optional<dfu_suffix>& suffix) {
    switch (mode) {
        case run_mode::reset_only: return succeeded();
        case run_mode::info: report.say("Get Info Mode\n=============\n\n"); return succeeded();
        case run_mode::file_upgrade: {
            report.say("Upgrade Mode Override\n=====================\n\n");
            report.say(text_format("Read file: <%s>...", image_path));
            if (const image_read_status status = read_image_file(image_path, file_buffer);
                status != image_read_status::ok) {
                const outcome result = failed(failure::image_unreadable);
                report.error(error_of(message::image_unreadable, result, image_read_error_text(status, image_path)));
                return result;
            }
            report.say(text_format(" [%d bytes].\n", static_cast<int>(file_buffer.size())));
            return check_image_file(report, image_path, file_buffer, suffix);
        }
        case run_mode::builtin_upgrade:
            report.say("Built-in Upgrade Mode\n=====================\n\n");
            report.say(
                text_format("- Using built-in firmware image, %d bytes.\n\n", image_for(mode, file_buffer).length));
            return succeeded();
    }
    return succeeded();
}

// A device seen but not openable for lack of permission, and what grants it.
void report_inaccessible_device_hint(platform::Platform& os, reporter& report) {
    const std::string hint = os.inaccessible_device_hint();
    if (!hint.empty()) report.hint(hint);
}

// The one device the selection names; nothing (after saying why) when none or
// several fit it. Nothing has been sent to any device yet.
std::optional<usb_device_identity> choose_device(platform::Platform& os, reporter& report,
                                                 const usb_selection& selection, outcome& why) {
    const std::vector<usb_device_identity> attached = usb_list_devices(os);
    std::vector<usb_device_identity> devices = usb_select(attached, selection);
    if (devices.size() > 1) {
        report_several_devices(report, devices, selection);
        why = failed(failure::several_devices);
        return std::nullopt;
    }
    if (devices.empty()) {
        report.say("No Korvix device detected\n\n");
        if (selection.serial || selection.location) report_no_match(report, selection, attached);
        report_inaccessible_device_hint(os, report);
        why = failed(failure::no_device);
        return std::nullopt;
    }
    if (usb_identity_is_weak(devices.front()))
        report.notice(
            "NOTICE: The device has neither a serial number nor a USB location; the waits accept it only "
            "while it is the only Korvix device attached.");
    return std::move(devices.front());
}

// Finds the one device of the run, chooses the path and runs it.
outcome run_device_path(platform::Platform& os, reporter& report, const device_job& job) {
    outcome why = succeeded();
    const std::optional<usb_device_identity> chosen =
        choose_device(os, report, {job.options.serial, job.options.location}, why);
    if (!chosen) return why;
    return run_on_device(os, report, *chosen, job);
}

// --all or --station: on a terminal that redraws, one live line per device;
// elsewhere every device's lines, prefixed with its label; or JSON Lines.
outcome run_several(platform::Platform& os, reporter& report, shared_console& shared, const device_job& job,
                    bool standard_streams) {
    // A station that runs all day keeps this many devices done in view.
    constexpr std::size_t FINISHED_IN_VIEW = 8;
    std::optional<live_view> view;
    std::unique_ptr<device_reports> reports;
    if (job.options.json) {
        reports = json_lines_reports(shared, report, tool_version());
    } else if (standard_streams && console_redraws()) {
        view.emplace(shared.direct(), FINISHED_IN_VIEW);
        reports = live_reports(*view, [&os] { return os.now_ms(); });
    } else {
        reports = prefixed_reports(shared, report, build_date());
    }
    return job.options.station ? run_station(os, report, *reports, job) : run_all(os, report, *reports, job);
}

// The last event and, on the console of an interactive run, the key wait.
int finish(reporter& report, const outcome& result, const run_options& options) {
    const int exit_status = result.ok() ? 0 : 1;
    report.result(result, exit_status);
    if (!options.non_interactive && !options.json) wait_for_key();
    return exit_status;
}

// The devices -l shows: those that fit the selection, and those it cannot
// open too, by location (their serial cannot be read).
std::vector<usb_device_identity> devices_to_list(platform::Platform& os, const usb_selection& selection,
                                                 const std::vector<usb_device_identity>& attached) {
    std::vector<usb_device_identity> shown = usb_select(attached, selection);
    for (usb_device_identity& unopened : usb_list_unopened(os, attached))
        if (!selection.serial && (!selection.location || unopened.location == *selection.location))
            shown.push_back(std::move(unopened));
    std::stable_sort(shown.begin(), shown.end(), [](const usb_device_identity& a, const usb_device_identity& b) {
        return a.location < b.location;
    });
    return shown;
}

outcome list(platform::Platform& os, reporter& report, const run_options& options) {
    const usb_selection selection{options.serial, options.location};
    const std::vector<usb_device_identity> attached = usb_list_devices(os);
    const bool listed = list_devices(os, report, devices_to_list(os, selection, attached));
    if (!listed && (selection.serial || selection.location)) report_no_match(report, selection, attached);
    // Also after a list: a device may be listed through one interface while
    // another of it could not be opened.
    report_inaccessible_device_hint(os, report);
    return listed ? succeeded() : failed(failure::no_device);
}

}  // namespace

int frontend_main(platform::Platform& os, int argc, char** argv, option_set set, const console_sink* console_text) {
    // Error lines are written out at once, so that a log of both streams has
    // them where they happened. The Windows C runtime buffers standard error
    // when it is a file (every error line would end up after the final
    // banner); the C standard asks for it unbuffered everywhere else.
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    os.console_clear_quick_edit();

    // Whether the run speaks JSON decides its first line, whatever comes
    // before or after --json (a --help, a bad option).
    const bool json = asks_for_json(argc, argv);
    run_options options;
    options.json = json;
    options.non_interactive = json;  // also when the parse ends before --json
    const console_sink sink = console_text != nullptr ? *console_text : console_streams();
    // The run's own events and, in a run on several devices, the devices'
    // lines share the console.
    shared_console shared(sink);
    console_reporter console(build_date(), shared.direct());
    json_reporter json_lines(tool_version(), shared.direct());
    reporter& report = json ? static_cast<reporter&>(json_lines) : console;
    report.start(std::span<char* const>(argv, static_cast<std::size_t>(argc > 0 ? argc : 0)));

    switch (parse_options(argc, argv, options, set)) {
        case parse_outcome::run: break;
        case parse_outcome::help:
            // Standard output holds only events in JSON.
            (json ? sink.err : sink.out)(usage_text(argc > 0 ? argv[0] : "flash-tool", set));
            return finish(report, succeeded(), options);
        case parse_outcome::version:
            // -V and -l are questions a script asks: the answer ends without a
            // key wait, on a terminal too. -h keeps it.
            options.non_interactive = true;
            report.info(info_kind::version, version_text(os));
            return finish(report, succeeded(), options);
        case parse_outcome::bad: return finish(report, failed(failure::usage), options);
    }
    // Ctrl-C ends a JSON run with its events too.
    const std::string interrupted = json_lines.interrupted_lines();
    if (json) platform::interrupt_abort_texts("", interrupted.c_str());
    platform::interrupt_arm();
    if (options.list) {
        // A question, not an operation: it never waits for a key.
        options.non_interactive = true;
        const outcome listed = list(os, report, options);
        platform::interrupt_disarm();
        platform::interrupt_abort_texts(platform::INTERRUPT_ERROR, platform::INTERRUPT_BANNER);
        return finish(report, listed, options);
    }

    const run_mode mode = select_mode(options);
    outcome result = succeeded();
    {
        // The file's buffer lives until the path is done, and no longer than
        // the final report.
        std::vector<std::uint8_t> file_buffer;
        std::optional<dfu_suffix> suffix;
        result = prepare_image(report, mode, options.image_path, file_buffer, suffix);
        if (result.ok()) {
            const firmware_image image = image_for(mode, file_buffer);
            const device_job job{options, image, suffix};
            result = options.all || options.station ? run_several(os, report, shared, job, console_text == nullptr)
                                                    : run_device_path(os, report, job);
        }
    }
    platform::interrupt_disarm();
    platform::interrupt_abort_texts(platform::INTERRUPT_ERROR, platform::INTERRUPT_BANNER);
    return finish(report, result, options);
}
