// The link from its USB carrier up: frames in feature reports, their
// reassembly into messages, the replies to each command and the client
// information of the hello.
#include <array>
#include <cstdlib>

#include "fuzz/fuzz_platform.h"
#include "kxp/kxp_codes.h"
#include "kxp/kxp_exchange.h"
#include "kxp/kxp_session.h"

namespace {

// Whatever the device sends, a command comes to success, one of the
// device's status bytes, or one of the session's own codes.
void check(const outcome& result) {
    const std::int64_t code = result.code;
    bool fits = false;
    switch (result.kind) {
        case failure::none: fits = code == 0; break;
        case failure::device_status: fits = code >= 1 && code <= 255; break;
        case failure::communication:
            fits = code == KXP_ERR_IO || code == KXP_ERR_BAD_REPLY || code == KXP_TIMED_OUT || code == KXP_ERR_TOO_LONG;
            break;
        default: break;
    }
    if (!fits) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzPlatform platform({data, size}, {});
    kxp_session session;
    kxp_session_init(session);
    session.retry_count = 1;
    // The one device of the fuzz platform, known by neither port nor serial.
    usb_device_identity device;
    device.product_id = fuzz::FuzzDevice{}.product_id;
    if (kxp_session_open(platform, session, "USB", KXP_CLIENT_NAME, device) != 0) return 0;
    // Every command runs whatever the one before it came to.
    std::uint64_t syserror = 0;
    check(kxp_get_syserror(session, syserror));
    const std::array<std::uint8_t, 300> chunk{};
    check(kxp_prepare_upgrade(session, chunk.size()));
    check(kxp_image_data(session, chunk));
    check(kxp_program_image(session));
    check(kxp_restart(session));
    kxp_session_close(session);
    return 0;
}
