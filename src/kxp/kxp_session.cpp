#include "kxp/kxp_session.h"

#include <optional>

#include "kxp/kxp_codes.h"
#include "kxp/kxp_exchange.h"

namespace {

int fail_receive(void*, std::span<const std::uint8_t>&) { return -1; }
int fail_send(void*, std::span<const std::uint8_t>) { return -1; }
int fail_idle(void*) { return -1; }

// Back to the failing message operations, so that a command on a closed
// session fails instead of reaching an unbound transport.
void detach(kxp_session& session) {
    kxp_transport_release(session.driver);
    session.max_message_size = 0;
    session.receive = fail_receive;
    session.send = fail_send;
    session.idle = fail_idle;
    session.transport = nullptr;
    usb_link_close(session.holder);
    session.open = 0;
}

constexpr std::string_view LINK_PREFIX = "USB";

}  // namespace

void kxp_session_init(kxp_session& session) {
    detach(session);
    session.last_error = 0;
    session.peer = client_info{};
    session.retry_count = 0;
}

int kxp_session_open(platform::Platform& os, kxp_session& session, std::string_view address,
                     std::string_view client_name, const usb_device_identity& device) {
    if (address.substr(0, LINK_PREFIX.size()) != LINK_PREFIX) return KXP_ERR_LINK;
    if (address.size() > LINK_PREFIX.size()) {
        if (address[LINK_PREFIX.size()] != ':' || device.serial != address.substr(LINK_PREFIX.size() + 1))
            return KXP_ERR_LINK;
    }

    if (!usb_link_open(os, session.holder, device)) return KXP_ERR_LINK;
    if (!session.driver.now_ms) session.driver.now_ms = [&os] { return os.now_ms(); };
    kxp_link carrier;
    usb_link_bind(session.holder, carrier);
    if (kxp_transport_init(session.driver, carrier) != 0) {
        usb_link_close(session.holder);
        return KXP_ERR_LINK;
    }
    kxp_transport_attach(session.driver, session);
    session.open = 1;

    client_info local;
    client_info_init(local);
    client_info_set_mfg_id(local, client_name);
    if (kxp_hello(session, local, session.peer).ok()) return 0;

    detach(session);
    return KXP_ERR_HELLO;
}

int kxp_session_peer_info(kxp_session& session, const client_info*& info) {
    info = &session.peer;
    return 0;
}

int kxp_session_close(kxp_session& session) {
    if (session.open != 1) return 0;
    // The link closes whatever the device answers to the goodbye.
    static_cast<void>(kxp_disconnect(session));
    detach(session);
    return 0;
}
