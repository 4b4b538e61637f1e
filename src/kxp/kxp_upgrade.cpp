#include "kxp/kxp_upgrade.h"

#include <algorithm>

#include "kxp/kxp_codes.h"
#include "kxp/kxp_exchange.h"

namespace {

outcome end_phase(reporter& report, phase step, const outcome& result) {
    report.phase_end(step, result);
    return result;
}

// The device's answer while it is still programming the image.
bool still_programming(const outcome& result) {
    return result.kind == failure::device_status && result.code == KXP_AGAIN;
}

}  // namespace

outcome kxp_upgrade(kxp_session& session, std::optional<std::span<const std::uint8_t>> image, reporter& report) {
    if (!image) {
        report.notice("NOTICE: Not doing upgrade since no image provided");
        return succeeded();
    }
    const auto image_size = static_cast<std::uint32_t>(image->size());

    report.phase_begin(phase::prepare);
    if (const outcome result = kxp_prepare_upgrade(session, image_size); !result.ok())
        return end_phase(report, phase::prepare, result);
    report.phase_end(phase::prepare, succeeded());

    report.phase_begin(phase::transfer);
    const std::uint32_t chunk = kxp_max_chunk(session);
    for (std::uint32_t offset = 0; offset < image_size;) {
        const std::uint32_t length = std::min(chunk, image_size - offset);
        if (const outcome result = kxp_image_data(session, image->subspan(offset, length)); !result.ok())
            return end_phase(report, phase::transfer, result);
        offset += length;
        report.progress(phase::transfer, offset, image_size);
    }
    report.phase_end(phase::transfer, succeeded());

    report.phase_begin(phase::flash);
    outcome result = kxp_program_image(session);
    if (!result.ok()) return end_phase(report, phase::flash, result);
    // The device answers "still programming" until it is done. Its answers
    // are untrusted, so the polling ends after a generous bound.
    const std::uint64_t started = session.driver.now_ms();
    while (still_programming(result = kxp_program_image(session))) {
        report.poll(phase::flash);
        if (session.driver.now_ms() - started >= KXP_PROGRAM_TIMEOUT_MS)
            return end_phase(report, phase::flash, failed(failure::communication, KXP_TIMED_OUT));
    }
    return end_phase(report, phase::flash, result);
}
