// Commands over the link: one request message, then polling until the
// device's reply to that request arrives (or the reply wait runs out).
//
// Each command's outcome: success when the reply's status byte is 0; a
// non-zero status byte is failure::device_status with that byte as the code
// (11, KXP_AGAIN, from a device still programming). Failures of the link are
// failure::communication with the session's code, also kept in the
// session's last_error: KXP_ERR_IO for a failed send, KXP_ERR_BAD_REPLY for
// a failed receive or an unusable reply, KXP_TIMED_OUT for no reply within
// the wait, KXP_ERR_TOO_LONG for image data beyond the message size.
#pragma once

#include <cstdint>
#include <span>

#include "kxp/client_info.h"
#include "kxp/kxp_session.h"
#include "report/outcome.h"

// A received reply inside the transport's receive buffer; valid until the
// next receive.
using kxp_reply_view = std::span<const std::uint8_t>;

// One poll: 0 with `reply` set to a reply to `code`; KXP_AGAIN when no such
// reply has arrived (`reply` then empty); KXP_ERR_IO when the receive failed.
int kxp_poll_reply(kxp_session& session, kxp_reply_view& reply, std::uint8_t code);
// KXP_TIMED_OUT when the session's idle hook reports it, else 0.
int kxp_idle(kxp_session& session);
// The most image bytes one image data request can carry.
std::uint32_t kxp_max_chunk(const kxp_session& session);

// Introduces `local` to the device and decodes its answer into `peer`; on a
// rejection from a device of protocol version 0 to 2, retries once with
// `local` converted to the device's version.
outcome kxp_hello(kxp_session& session, client_info& local, client_info& peer);
outcome kxp_prepare_upgrade(kxp_session& session, std::uint32_t image_size);
outcome kxp_image_data(kxp_session& session, std::span<const std::uint8_t> data);
outcome kxp_program_image(kxp_session& session);
outcome kxp_restart(kxp_session& session);
outcome kxp_disconnect(kxp_session& session);
// The device's 64-bit system error value; filled whenever the reply is well
// formed, whatever its status.
outcome kxp_get_syserror(kxp_session& session, std::uint64_t& value);
