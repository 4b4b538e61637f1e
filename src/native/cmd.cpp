#include "native/cmd.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/platform.h"
#include "usb/le.h"

namespace {

constexpr std::size_t REPLY_SIZE = 256;
constexpr std::size_t CHUNK_PAYLOAD_SIZE = 268;
constexpr std::uint32_t POLL_INTERVAL_MS = 100;
// A device that keeps answering "not ready" or "busy" is given about five
// minutes before the wait is abandoned as a communication failure.
constexpr int MAX_POLLS = 3000;
// The information text and its NUL must fit the caller's 65,536-byte buffer;
// each reply must add to it, so this bounds the number of replies too.
constexpr std::uint32_t MAX_INFO_TEXT = CMD_INFO_TEXT_SIZE - 1;
// An identify reply counts only with the magic (4 bytes) and the status byte.
constexpr int IDENTIFY_MIN_REPLY = 5;

using Reply = std::array<std::uint8_t, REPLY_SIZE>;

// A request or its reply failed, or the reply made no sense.
constexpr outcome LINK_FAILED = failed(failure::communication);

// Fetches the reply to `id` into a zero-filled buffer. The reply length, or
// -1 on failure, when it is shorter than `minimum`, or when it is longer than
// the carriage could deliver (its data then never reached the buffer).
int get_reply(cmd_channel& channel, std::uint8_t id, Reply& reply, int minimum) {
    reply.fill(0);
    const int length = cmd_channel_get(channel, id, reply);
    if (length < minimum || length > cmd_channel_max_reply(channel)) return -1;
    return length;
}

// Copies a NUL-terminated text that starts at `offset` of a reply; a text
// without its NUL inside the reply is cut at the destination's end.
void copy_text(const Reply& reply, std::size_t offset, std::span<char> text) {
    std::fill(text.begin(), text.end(), '\0');
    std::size_t out = 0;
    for (std::size_t at = offset; at < reply.size() && out + 1 < text.size() && reply[at] != 0; ++at)
        text[out++] = static_cast<char>(reply[at]);
}

}  // namespace

outcome cmd_identify(cmd_channel& channel, int& status, std::span<char, CMD_TEXT_SIZE> text) {
    text[0] = '\0';
    if (cmd_channel_set(channel, CMD_IDENTIFY, {}) < 0) return LINK_FAILED;
    Reply reply;
    if (get_reply(channel, CMD_IDENTIFY, reply, IDENTIFY_MIN_REPLY) < 0) return LINK_FAILED;
    if (le32(reply, 0) != IDENTIFY_MAGIC) return LINK_FAILED;
    status = reply[4];
    if (status != 0) return failed(failure::device_status, status);
    copy_text(reply, 5, text);
    return succeeded();
}

outcome cmd_prepare(cmd_channel& channel) {
    if (cmd_channel_set(channel, CMD_PREPARE, {}) < 0) return LINK_FAILED;
    for (int poll = 0; poll < MAX_POLLS; ++poll) {
        Reply reply;
        if (get_reply(channel, CMD_PREPARE, reply, 1) < 0) return LINK_FAILED;
        channel.os->sleep_ms(POLL_INTERVAL_MS);
        if (reply[0] != 0) return succeeded();
    }
    return LINK_FAILED;
}

outcome cmd_restart(cmd_channel& channel) {
    if (const outcome prepared = cmd_prepare(channel); !prepared.ok()) return prepared;
    return cmd_channel_set(channel, CMD_RESTART, {}) < 0 ? LINK_FAILED : succeeded();
}

outcome cmd_send_image(cmd_channel& channel, std::span<const std::uint8_t> image, const cmd_progress& progress) {
    const int chunk_size = cmd_channel_capacity(channel) - 8;
    const auto length = static_cast<std::int64_t>(image.size());
    if (chunk_size <= 0 || chunk_size + 4 > static_cast<int>(CHUNK_PAYLOAD_SIZE)) {
        return LINK_FAILED;
    }
    std::uint32_t chunks = 0;
    for (std::int64_t offset = 0; offset < length; offset += chunk_size) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(chunk_size, length - offset));
        std::array<std::uint8_t, CHUNK_PAYLOAD_SIZE> payload{};
        put_le32(payload, 0, static_cast<std::uint32_t>(offset));
        std::copy_n(image.begin() + offset, n, payload.begin() + 4);
        if (cmd_channel_set(channel, CMD_IMAGE_DATA, std::span(payload).first(n + 4)) < 0) {
                return LINK_FAILED;
        }
        ++chunks;
        if (progress.sent) progress.sent(static_cast<std::uint64_t>(offset) + n, static_cast<std::uint64_t>(length));
    }
    Reply reply;
    if (get_reply(channel, CMD_IMAGE_DATA, reply, 2) < 0 || le16(reply, 0) != (chunks & 0xFFFF)) {
        return LINK_FAILED;
    }
    return succeeded();
}

outcome cmd_flash(cmd_channel& channel, std::int32_t image_length, int& status,
              std::span<char, CMD_TEXT_SIZE> status_text, const cmd_progress& progress) {
    status = 0;
    status_text[0] = '\0';
    std::array<std::uint8_t, 4> payload{};
    put_le32(payload, 0, static_cast<std::uint32_t>(image_length));
    if (cmd_channel_set(channel, CMD_FLASH, payload) < 0) {
        return LINK_FAILED;
    }
    for (int poll = 0; poll < MAX_POLLS; ++poll) {
        Reply reply;
        if (get_reply(channel, CMD_FLASH, reply, 2) < 0) break;
        if (reply[0] == 0) {
            status = static_cast<std::int8_t>(reply[1]);
            copy_text(reply, 2, status_text);
            return succeeded();
        }
        if (progress.busy) progress.busy();
        channel.os->sleep_ms(POLL_INTERVAL_MS);
    }
    return LINK_FAILED;
}

outcome cmd_upgrade(cmd_channel& channel, std::span<const std::uint8_t> image,
                std::span<char, CMD_TEXT_SIZE> status_text, int& status, const cmd_progress& progress) {
    status = 0;
    if (const outcome prepared = cmd_prepare(channel); !prepared.ok()) return prepared;
    if (const outcome sent = cmd_send_image(channel, image, progress); !sent.ok()) return sent;
    status_text[0] = '\0';
    return cmd_flash(channel, static_cast<std::int32_t>(image.size()), status, status_text, progress);
}

outcome cmd_read_info(cmd_channel& channel, std::span<char, CMD_INFO_TEXT_SIZE> text) {
    if (cmd_channel_set(channel, CMD_READ_INFO, {}) < 0) return LINK_FAILED;
    // Every piece but the last must hold at least one byte; a device that
    // sends overlapping pieces is still stopped after this many replies.
    for (std::uint32_t piece = 0; piece <= MAX_INFO_TEXT + 1; ++piece) {
        Reply reply;
        const int length = get_reply(channel, CMD_READ_INFO, reply, 8);
        if (length < 0) return LINK_FAILED;
        const std::uint32_t total = le32(reply, 0);
        const std::uint32_t offset = le32(reply, 4);
        if (total > MAX_INFO_TEXT) return LINK_FAILED;
        if (offset >= total) {
            text[total] = '\0';
            return succeeded();
        }
        // Only the bytes the reply actually holds are taken.
        // A piece that is neither the end nor adds a byte would never finish.
        const auto held = static_cast<std::size_t>(length) - 8;
        if (held == 0 || offset + held > MAX_INFO_TEXT) return LINK_FAILED;
        std::copy_n(reply.begin() + 8, held, text.begin() + offset);
    }
    return LINK_FAILED;
}
