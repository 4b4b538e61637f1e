#include "kxp/kxp_exchange.h"

#include <algorithm>
#include <array>

#include "kxp/kxp_codes.h"
#include "usb/le.h"

namespace {

constexpr std::size_t REPLY_HEADER = 4;  // marker, status, command, payload length
constexpr std::size_t SYSERROR_PAYLOAD = 8;

// Sends `request` and waits for the reply to `code`. KXP_OK with `reply` set
// (empty when the receive failed and there is no reply), or the failure that
// ends the command: KXP_ERR_IO for a failed send, KXP_TIMED_OUT when no reply
// arrived in time and no resend is left.
int run_command(kxp_session& session, std::span<const std::uint8_t> request, std::uint8_t code,
                kxp_reply_view& reply, int& resends_left) {
    for (;;) {
        int idle_result = 0;
        reply = {};
        if (session.send(session.transport, request) != 0) {
            session.last_error = KXP_ERR_IO;
            return session.last_error;
        }
        int polled;
        while ((polled = kxp_poll_reply(session, reply, code)) == KXP_AGAIN) {
            idle_result = kxp_idle(session);
            if (idle_result == KXP_TIMED_OUT) break;
        }
        if (idle_result == KXP_TIMED_OUT && resends_left > 0) {
            --resends_left;
            continue;
        }
        if (idle_result != 0) return idle_result;
        if (polled != 0) reply = {};
        return KXP_OK;
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

int status_command(kxp_session& session, std::span<const std::uint8_t> request) {
    kxp_reply_view reply;
    int resends_left = session.retry_count;
    const int result = run_command(session, request, request[0], reply, resends_left);
    if (result != KXP_OK) return result;
    // Every reply the wait accepts has at least the marker, status and command.
    return reply.empty() ? KXP_ERR_BAD_REPLY : reply[1];
}

int single_byte_command(kxp_session& session, std::uint8_t code) {
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

int kxp_hello(kxp_session& session, client_info& local, client_info& peer) {
    int resends_left = session.retry_count;
    for (int attempt = 1;; ++attempt) {
        std::array<std::uint8_t, REPLY_HEADER + CLIENT_INFO_WIRE_SIZE> request{};
        const std::size_t info_length = std::min<std::size_t>(local.stored_length, CLIENT_INFO_WIRE_SIZE);
        request[0] = KXP_CMD_HELLO;
        request[1] = static_cast<std::uint8_t>(info_length);
        std::copy_n(local.wire.begin(), info_length, request.begin() + REPLY_HEADER);

        kxp_reply_view reply;
        const int result = run_command(
            session, std::span(request).first(REPLY_HEADER + info_length), KXP_CMD_HELLO, reply,
            resends_left);
        if (result != KXP_OK) return result;
        std::span<const std::uint8_t> payload;
        if (!payload_of(reply, KXP_CMD_HELLO, payload)) {
            session.last_error = KXP_ERR_BAD_REPLY;
            return session.last_error;
        }
        // A reply whose information cannot be decoded still counts by its
        // status; the peer then simply holds no valid version.
        client_info_parse(peer, payload);
        const int status = reply[1];
        if (status == 0) return 0;
        session.last_error = status;
        if (attempt == 2) return status;
        const auto peer_version = client_info_protocol_version(peer);
        if (!peer_version) return status;
        client_info_convert(local, *peer_version);
    }
}

int kxp_prepare_upgrade(kxp_session& session, std::uint32_t image_size) {
    std::array<std::uint8_t, 5> request{KXP_CMD_PREPARE_UPGRADE};
    put_le32(request, 1, image_size);
    return status_command(session, request);
}

int kxp_image_data(kxp_session& session, std::span<const std::uint8_t> data) {
    if (data.size() > kxp_max_chunk(session)) {
        session.last_error = KXP_ERR_TOO_LONG;
        return session.last_error;
    }
    std::array<std::uint8_t, KXP_MAX_MESSAGE> request;
    request[0] = KXP_CMD_IMAGE_DATA;
    std::copy(data.begin(), data.end(), request.begin() + 1);
    return status_command(session, std::span(request).first(data.size() + 1));
}

int kxp_program_image(kxp_session& session) {
    return single_byte_command(session, KXP_CMD_PROGRAM_IMAGE);
}

int kxp_restart(kxp_session& session) { return single_byte_command(session, KXP_CMD_RESTART); }

int kxp_disconnect(kxp_session& session) {
    return single_byte_command(session, KXP_CMD_DISCONNECT);
}

int kxp_get_syserror(kxp_session& session, std::uint64_t& value) {
    const std::array<std::uint8_t, 1> request{KXP_CMD_GET_SYSERROR};
    kxp_reply_view reply;
    int resends_left = session.retry_count;
    const int result = run_command(session, request, KXP_CMD_GET_SYSERROR, reply, resends_left);
    if (result != KXP_OK) return result;
    std::span<const std::uint8_t> payload;
    if (!payload_of(reply, KXP_CMD_GET_SYSERROR, payload) || payload.size() < SYSERROR_PAYLOAD)
        return KXP_ERR_BAD_REPLY;
    value = le64(payload, 0);
    return reply[1];
}
