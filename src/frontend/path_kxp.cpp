#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>

#include "frontend/boot_wait.h"
#include "frontend/console.h"
#include "frontend/paths.h"
#include "kxp/client_info.h"
#include "kxp/kxp_codes.h"
#include "kxp/kxp_exchange.h"
#include "kxp/kxp_session.h"
#include "kxp/kxp_upgrade.h"
#include "platform/interrupt.h"

namespace {

// The link address holds "USB", a colon and at most this many characters.
constexpr std::size_t LINK_SERIAL_MAX = 10;

void print_version(const char* label, const std::optional<kxp_version_bytes>& version) {
    if (version) {
        std::printf("%s%02x%02x.%02x%02x\n", label, (*version)[0], (*version)[1], (*version)[2],
                    (*version)[3]);
    } else {
        std::printf("%sn/a\n", label);
    }
}

void print_peer(const client_info& peer) {
    char serial[20] = {};
    client_info_serial_number(peer, serial);
    const auto mfg_id = client_info_mfg_id(peer);
    std::puts("\nTC information:");
    print_version("Protocol:   ", client_info_protocol_version(peer));
    print_version("SW version: ", client_info_sw_version(peer));
    if (mfg_id) {
        std::printf("Mfg id:     %.*s\n", static_cast<int>(mfg_id->size()), mfg_id->data());
    } else {
        std::printf("Mfg id:     n/a\n");
    }
    std::printf("Serial nbr: %s\n", serial);
}

// Everything between a successful open and the close: information, system
// error value, upgrade and restart as the options ask. `watch` receives the
// system's watch on the device, set before it is told to restart.
bool run_session(kxp_session& session, const path_request& request, platform::DepartureWatchOwner& watch) {
    const run_options& options = request.options;
    const client_info* peer = nullptr;
    kxp_session_peer_info(session, peer);
    print_peer(*peer);

    std::uint64_t syserror = 0;
    if (const int result = kxp_get_syserror(session, syserror); result != 0) {
        std::fflush(stdout);
        std::fprintf(stderr, "ERROR: Could not read the system error value (result 0x%x).\n",
                     static_cast<unsigned>(result));
        return false;
    }
    std::printf("Syserror:   0x%016" PRIx64 "\n\n", syserror);

    // From the upgrade to the end of the boot wait an interrupt is held back.
    const platform::interrupt_critical_phase critical;
    if (!options.reset) {
        const int result =
            kxp_upgrade(session, request.image.data, static_cast<std::uint32_t>(request.image.length));
        if (result != 0) {
            std::fflush(stdout);
            std::fprintf(stderr, "ERROR: Could not upgrade device (result 0x%x).\n", static_cast<unsigned>(result));
            return false;
        }
    }
    if (options.reset || options.restart_after_upgrade) {
        std::puts("Restarting System...");
        if (session.holder.device)
            watch.reset(request.os, request.os.hid_watch_departure(session.holder.device->handle.get()));
        if (const int result = kxp_restart(session); result != 0) {
            std::fflush(stdout);
            std::fprintf(stderr, "ERROR: Could not restart the device (result 0x%x).\n", static_cast<unsigned>(result));
            return false;
        }
    }
    return true;
}

}  // namespace

kxp_path_result path_kxp(const path_request& request) {
    const run_options& options = request.options;
    std::string address = "USB";
    if (options.serial) {
        if (options.serial->size() > LINK_SERIAL_MAX) {
            std::fflush(stdout);
            std::fprintf(stderr,
                         "ERROR: Serial number <%.*s> is longer than the %zu characters a USB KXP "
                         "link address holds.\n",
                         static_cast<int>(options.serial->size()), options.serial->data(),
                         LINK_SERIAL_MAX);
            return kxp_path_result::failed;
        }
        address += ':';
        address += *options.serial;
    }

    auto session = std::make_unique<kxp_session>();
    kxp_session_init(*session);
    kxp_session_set_printers(*session, console_log, console_error);
    const int opened = kxp_session_open(request.os, *session, address, KXP_CLIENT_NAME, request.device);
    if (opened == KXP_ERR_LINK) {
        std::puts("flash-tool: USB KXP failed to initialize communication link layer\n");
        // The line above is the link layer's own; the error line names the
        // device, as the HID path does when it cannot open one.
        std::fflush(stdout);
        std::fprintf(stderr, "ERROR: Could not open the KXP link to USB device %.4X:%.4X\n",
                     static_cast<unsigned>(DEVICE_VENDOR_ID), static_cast<unsigned>(request.device.product_id));
        return kxp_path_result::failed;
    }
    if (opened != 0) return kxp_path_result::use_hid;
    std::puts("flash-tool using USB KXP interface\n");

    platform::DepartureWatchOwner watch;
    const bool done = run_session(*session, request, watch);
    kxp_session_close(*session);
    if (!done) return kxp_path_result::failed;
    std::fflush(stdout);
    const bool restarted = options.reset || options.restart_after_upgrade;
    const platform::interrupt_critical_phase restarting;
    return wait_for_boot(request.os, request.device, restarted, watch.get()) ? kxp_path_result::succeeded
                                                                             : kxp_path_result::failed;
}
