#include "frontend/frontend.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "dfu/dfu_path.h"
#include "frontend/build_info.h"
#include "frontend/console.h"
#include "frontend/device_list.h"
#include "frontend/device_lock.h"
#include "frontend/image.h"
#include "frontend/image_check.h"
#include "frontend/options.h"
#include "frontend/path_choice.h"
#include "frontend/tool_version.h"
#include "frontend/version.h"
#include "kxp/kxp_path.h"
#include "native/hid_path.h"
#include "platform/interrupt.h"
#include "platform/platform.h"
#include "report/console_reporter.h"
#include "report/json_reporter.h"
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

// Checks the image's product ID against the device; for a device in DFU mode,
// which does not show it, says that the check waits until it is back.
outcome check_image_product(reporter& report, const usb_device_identity& device,
                            const std::optional<dfu_suffix>& suffix) {
    if (!suffix || suffix->product_id == ANY_ID) return succeeded();
    if (device.product_id == DFU_PRODUCT_ID) {
        report.notice(
            text_format("NOTICE: The device is in DFU mode, which hides its product ID: the image's product "
                        "ID %.4x cannot be checked yet.",
                        static_cast<unsigned>(suffix->product_id)));
        return succeeded();
    }
    if (image_fits_product(*suffix, device.product_id)) return succeeded();
    const outcome result = failed(failure::image_wrong_product);
    report.error(error_of(message::image_wrong_product, result, suffix->product_id, device.product_id));
    return result;
}

// Finds the one device of the run, chooses the path and runs it.
outcome run_device_path(platform::Platform& os, reporter& report, const run_options& options, firmware_image image,
                        const std::optional<dfu_suffix>& suffix) {
    outcome why = succeeded();
    const std::optional<usb_device_identity> chosen =
        choose_device(os, report, {options.serial, options.location}, why);
    if (!chosen) return why;
    const usb_device_identity& device = *chosen;
    // Held until the run ends: no other flash-tool talks to the device
    // meanwhile, across its restarts and mode changes (it keeps its port).
    const device_lock lock = device_lock_take(os, device);
    if (!lock.taken()) {
        const outcome result = failed(failure::device_in_use);
        report.error(error_of(message::device_in_use, result, device.location, device_lock_holder_text(lock)));
        return result;
    }
    if (const outcome fits = check_image_product(report, device, suffix); !fits.ok()) return fits;
    const std::uint16_t product_id = device.product_id;
    if (product_id == BRIDGE_PRODUCT_ID && options.enable_kxp)
        report.notice("Talking to a bridge, will ignore option --enable_kxp");
    const device_path path =
        choose_path(product_id, options.force_dfu, options.enable_kxp, [&] { return hid_probe(os, device) ? 0 : -1; });
    run_context run{os, report, device};
    run_job job;
    job.reset = options.reset;
    job.read_info = options.read_info;
    if (image.data != nullptr)
        job.image = std::span<const std::uint8_t>(image.data, static_cast<std::size_t>(image.length));
    job.restart_after = options.restart_after_upgrade;
    job.serial = options.serial;
    if (suffix && product_id == DFU_PRODUCT_ID) job.image_product = suffix->product_id;
    switch (path) {
        case device_path::none: break;
        case device_path::dfu: return dfu_path(run, job);
        case device_path::hid: return hid_path(run, job);
        case device_path::kxp:
            if (const std::optional<outcome> linked = kxp_path(run, job)) return *linked;
            return hid_path(run, job);
    }
    return failed(failure::open_failed);
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
    console_reporter console(build_date(), sink);
    json_reporter json_lines(tool_version(), sink);
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
        if (result.ok()) result = run_device_path(os, report, options, image_for(mode, file_buffer), suffix);
    }
    platform::interrupt_disarm();
    platform::interrupt_abort_texts(platform::INTERRUPT_ERROR, platform::INTERRUPT_BANNER);
    return finish(report, result, options);
}
