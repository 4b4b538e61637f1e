#include "frontend/device_run.h"

#include "dfu/dfu_path.h"
#include "frontend/device_lock.h"
#include "frontend/path_choice.h"
#include "kxp/kxp_path.h"
#include "native/hid_path.h"
#include "report/text_format.h"

namespace {

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

}  // namespace

outcome run_on_device(platform::Platform& os, reporter& report, const usb_device_identity& device,
                      const device_job& job) {
    const run_options& options = job.options;
    // Held until the run ends: no other flash-tool talks to the device
    // meanwhile, across its restarts and mode changes (it keeps its port).
    const device_lock lock = device_lock_take(os, device);
    if (!lock.taken()) {
        const outcome result = failed(failure::device_in_use);
        report.error(error_of(message::device_in_use, result, device.location, device_lock_holder_text(lock)));
        return result;
    }
    if (const outcome fits = check_image_product(report, device, job.suffix); !fits.ok()) return fits;
    const std::uint16_t product_id = device.product_id;
    if (product_id == BRIDGE_PRODUCT_ID && options.enable_kxp)
        report.notice("Talking to a bridge, will ignore option --enable_kxp");
    const device_path path =
        choose_path(product_id, options.force_dfu, options.enable_kxp, [&] { return hid_probe(os, device) ? 0 : -1; });
    run_context run{os, report, device};
    run_job work;
    work.reset = options.reset;
    work.read_info = options.read_info;
    if (job.image.data != nullptr)
        work.image = std::span<const std::uint8_t>(job.image.data, static_cast<std::size_t>(job.image.length));
    work.restart_after = options.restart_after_upgrade;
    work.serial = options.serial;
    if (job.suffix && product_id == DFU_PRODUCT_ID) work.image_product = job.suffix->product_id;
    switch (path) {
        case device_path::none: break;
        case device_path::dfu: return dfu_path(run, work);
        case device_path::hid: return hid_path(run, work);
        case device_path::kxp:
            if (const std::optional<outcome> linked = kxp_path(run, work)) return *linked;
            return hid_path(run, work);
    }
    return failed(failure::open_failed);
}
