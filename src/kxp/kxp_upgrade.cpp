#include "kxp/kxp_upgrade.h"

#include <algorithm>

#include "kxp/kxp_codes.h"
#include "kxp/kxp_exchange.h"

namespace {

int fail(kxp_session& session, int result) {
    session.error("[FAIL %d]\n", result);
    return result;
}

}  // namespace

int kxp_upgrade(kxp_session& session, const std::uint8_t* image, std::uint32_t image_size) {
    if (image == nullptr) {
        session.error("NOTICE: Not doing upgrade since no image provided\n");
        return 0;
    }

    session.log("* Initialize     ");
    int result = kxp_prepare_upgrade(session, image_size);
    if (result != 0) {
        session.error("[FAIL]: Failed to prepare firmware upgrade\n");
        return result;
    }
    session.log("[OK]\n");

    session.log("* Transfer image ");
    const std::uint32_t chunk = kxp_max_chunk(session);
    for (std::uint32_t offset = 0; offset < image_size;) {
        const std::uint32_t length = std::min(chunk, image_size - offset);
        result = kxp_image_data(session, std::span(image + offset, length));
        if (result != 0) return fail(session, result);
        offset += length;
    }
    session.log("[OK]\n");

    session.log("* Program image  ");
    result = kxp_program_image(session);
    if (result != 0) return fail(session, result);
    // The device answers "still programming" until it is done. Its answers
    // are untrusted, so the polling ends after a generous bound.
    const std::uint64_t started = session.driver.now_ms();
    while ((result = kxp_program_image(session)) == KXP_AGAIN) {
        session.log(".");
        if (session.driver.now_ms() - started >= KXP_PROGRAM_TIMEOUT_MS)
            return fail(session, KXP_TIMED_OUT);
    }
    if (result != 0) return fail(session, result);
    session.log("[OK]\n");
    return 0;
}
