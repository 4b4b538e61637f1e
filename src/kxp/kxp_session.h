// The host's end of the link: one record that ties the USB carrier, the
// transport and the command exchange together, with the device's client
// information.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "kxp/client_info.h"
#include "kxp/kxp_transport.h"
#include "kxp/usb_link.h"

// The session's message operations, filled by the transport when attached.
using kxp_receive_op = int (*)(void* transport, std::span<const std::uint8_t>& message);
using kxp_send_op = int (*)(void* transport, std::span<const std::uint8_t> message);
using kxp_idle_op = int (*)(void* transport);

// The client name the tool introduces itself with.
inline constexpr std::string_view KXP_CLIENT_NAME = "Korvix/Flashtool";

struct kxp_session {
    std::uint32_t max_message_size = 0;
    kxp_receive_op receive = nullptr;
    kxp_send_op send = nullptr;
    kxp_idle_op idle = nullptr;
    void* transport = nullptr;
    int last_error = 0;  // the last link failure's code, or a rejected hello's status
    kxp_transport_driver driver;
    client_info peer;
    int retry_count = 0;
    int open = 0;
    usb_link_holder holder;
};

// Defaults: message operations that fail, a peer
// without a valid version, closed.
void kxp_session_init(kxp_session& session);
// Opens the link to the physical device `device` through `os`, whose clock
// times the reply waits unless the session's driver has a clock already. 0
// when the link is up and the hello succeeded; KXP_ERR_LINK when the address
// is not "USB" or "USB:<serial>" (a serial that is not the device's
// included) or the link cannot be opened; KXP_ERR_HELLO when the hello
// failed (the session is then closed again).
int kxp_session_open(platform::Platform& os, kxp_session& session, std::string_view address,
                     std::string_view client_name, const usb_device_identity& device);
// Always 0; `info` then refers to the device's client information.
int kxp_session_peer_info(kxp_session& session, const client_info*& info);
// Says goodbye to the device and closes the link; nothing on a closed
// session. 0.
int kxp_session_close(kxp_session& session);
