#include "kxp/kxp_exchange.h"

#include <algorithm>
#include <array>

#include "kxp/kxp_codes.h"
#include "usb/le.h"

namespace {

constexpr std::size_t REPLY_HEADER = 4;  // marker, status, command, payload length
constexpr std::size_t SYSERROR_PAYLOAD = 8;

// A failure of the link itself (the session's own code, never a device
// status), also kept as the session's last error.
outcome link_failure(kxp_session& session, int code) {
    session.last_error = code;
    return failed(failure::communication, code);
}

// A reply's status byte: 0 is success, anything else the device's own word.
outcome device_status(std::uint8_t status) {
    return status == 0 ? succeeded() : failed(failure::device_status, status);
}

// Sends `request` and waits for the reply to `code`: success with `reply` set
// (at least marker, status and command), or the link failure that ends the
// command: KXP_ERR_IO for a failed send, KXP_ERR_BAD_REPLY for a failed
// receive, KXP_TIMED_OUT when no reply arrived in time and no resend is left.
outcome run_command(kxp_session& session, std::span<const std::uint8_t> request, std::uint8_t code,
                    kxp_reply_view& reply, int& resends_left) {
    for (;;) {
        reply = {};
        if (session.send(session.transport, request) != 0) return link_failure(session, KXP_ERR_IO);
        int polled;
        bool timed_out = false;
        while ((polled = kxp_poll_reply(session, reply, code)) == KXP_AGAIN) {
            timed_out = kxp_idle(session) == KXP_TIMED_OUT;
            if (timed_out) break;
        }
        if (timed_out && resends_left > 0) {
            --resends_left;
            continue;
        }
        if (timed_out) return link_failure(session, KXP_TIMED_OUT);
        if (polled != KXP_OK) return link_failure(session, KXP_ERR_BAD_REPLY);
        return succeeded();
    }
}

// The payload of a well-formed 0xF1 reply to `code`, or nothing.
bool payload_of(kxp_reply_view reply, std::uint8_t code, std::span<const std::uint8_t>& payload) {
    if (reply.size() < REPLY_HEADER || reply[0] != KXP_REPLY || reply[2] != code) return false;
    const std::size_t length = reply[3];
    if (reply.size() < REPLY_HEADER + length) return false;
    payload = reply.subspan(REPLY_HEADER, length);
    return true;
}

outcome status_command(kxp_session& session, std::span<const std::uint8_t> request) {
    kxp_reply_view reply;
    int resends_left = session.retry_count;
    const outcome sent = run_command(session, request, request[0], reply, resends_left);
    if (!sent.ok()) return sent;
    return device_status(reply[1]);
}

outcome single_byte_command(kxp_session& session, std::uint8_t code) {
    const std::array<std::uint8_t, 1> request{code};
    return status_command(session, request);
}

}  // namespace

int kxp_poll_reply(kxp_session& session, kxp_reply_view& reply, std::uint8_t code) {
    kxp_reply_view message;
    if (session.receive(session.transport, message) != 0) return KXP_ERR_IO;
    reply = {};
    if (message.empty()) return KXP_AGAIN;
    const std::uint8_t first = message[0];
    // Only a reply to `code` is taken; anything else (the device's
    // unsolicited messages, replies to other commands) is passed over.
    if (first == KXP_REPLY || first == KXP_REPLY_ALT) {
        if (message.size() <= 2 || message[2] != code) return KXP_AGAIN;
        reply = message;
        return KXP_OK;
    }
    return KXP_AGAIN;
}

int kxp_idle(kxp_session& session) {
    return session.idle(session.transport) == KXP_TIMED_OUT ? KXP_TIMED_OUT : 0;
}

std::uint32_t kxp_max_chunk(const kxp_session& session) {
    // A session without a transport has no message size yet; its commands
    // fail at the send, so any nonzero chunk does.
    if (session.max_message_size == 0) return KXP_MAX_MESSAGE - 1;
    return std::min<std::uint32_t>(session.max_message_size, KXP_MAX_MESSAGE) - 1;
}

outcome kxp_hello(kxp_session& session, client_info& local, client_info& peer) {
    int resends_left = session.retry_count;
    for (int attempt = 1;; ++attempt) {
        std::array<std::uint8_t, REPLY_HEADER + CLIENT_INFO_WIRE_SIZE> request{};
        const std::size_t info_length = std::min<std::size_t>(local.stored_length, CLIENT_INFO_WIRE_SIZE);
        request[0] = KXP_CMD_HELLO;
        request[1] = static_cast<std::uint8_t>(info_length);
        std::copy_n(local.wire.begin(), info_length, request.begin() + REPLY_HEADER);

        kxp_reply_view reply;
        const outcome sent = run_command(
            session, std::span(request).first(REPLY_HEADER + info_length), KXP_CMD_HELLO, reply,
            resends_left);
        if (!sent.ok()) return sent;
        std::span<const std::uint8_t> payload;
        if (!payload_of(reply, KXP_CMD_HELLO, payload)) return link_failure(session, KXP_ERR_BAD_REPLY);
        // A reply whose information cannot be decoded still counts by its
        // status; the peer then simply holds no valid version.
        client_info_parse(peer, payload);
        const std::uint8_t status = reply[1];
        if (status == 0) return succeeded();
        session.last_error = status;
        const auto peer_version = client_info_protocol_version(peer);
        if (attempt == 2 || !peer_version) return device_status(status);
        client_info_convert(local, *peer_version);
    }
}

outcome kxp_prepare_upgrade(kxp_session& session, std::uint32_t image_size) {
    std::array<std::uint8_t, 5> request{KXP_CMD_PREPARE_UPGRADE};
    put_le32(request, 1, image_size);
    return status_command(session, request);
}

outcome kxp_image_data(kxp_session& session, std::span<const std::uint8_t> data) {
    if (data.size() > kxp_max_chunk(session)) return link_failure(session, KXP_ERR_TOO_LONG);
    std::array<std::uint8_t, KXP_MAX_MESSAGE> request;
    request[0] = KXP_CMD_IMAGE_DATA;
    std::copy(data.begin(), data.end(), request.begin() + 1);
    return status_command(session, std::span(request).first(data.size() + 1));
}

outcome kxp_program_image(kxp_session& session) {
    return single_byte_command(session, KXP_CMD_PROGRAM_IMAGE);
}

outcome kxp_restart(kxp_session& session) { return single_byte_command(session, KXP_CMD_RESTART); }

outcome kxp_disconnect(kxp_session& session) {
    return single_byte_command(session, KXP_CMD_DISCONNECT);
}

outcome kxp_get_syserror(kxp_session& session, std::uint64_t& value) {
    const std::array<std::uint8_t, 1> request{KXP_CMD_GET_SYSERROR};
    kxp_reply_view reply;
    int resends_left = session.retry_count;
    const outcome sent = run_command(session, request, KXP_CMD_GET_SYSERROR, reply, resends_left);
    if (!sent.ok()) return sent;
    std::span<const std::uint8_t> payload;
    if (!payload_of(reply, KXP_CMD_GET_SYSERROR, payload) || payload.size() < SYSERROR_PAYLOAD)
        return link_failure(session, KXP_ERR_BAD_REPLY);
    value = le64(payload, 0);
    return device_status(reply[1]);
}
