// The link from its USB carrier up: frames in feature reports, their
// reassembly into messages, the replies to each command and the client
// information of the hello.
#include <array>

#include "fuzz/fuzz_platform.h"
#include "kxp/kxp_exchange.h"
#include "kxp/kxp_session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzPlatform platform({data, size}, {});
    kxp_session session;
    kxp_session_init(session);
    session.retry_count = 1;
    // The one device of the fuzz platform, known by neither port nor serial.
    usb_device_identity device;
    device.product_id = fuzz::FuzzDevice{}.product_id;
    if (kxp_session_open(platform, session, "USB", KXP_CLIENT_NAME, device) != 0) return 0;
    std::uint64_t syserror = 0;
    kxp_get_syserror(session, syserror);
    const std::array<std::uint8_t, 300> chunk{};
    kxp_prepare_upgrade(session, chunk.size());
    kxp_image_data(session, chunk);
    kxp_program_image(session);
    kxp_restart(session);
    kxp_session_close(session);
    return 0;
}
