// The link transport: messages of 1 to 2047 bytes split into fixed-size link
// frames (short, long and continuation frames with 5-bit sequence numbers)
// and joined again.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "kxp/usb_link.h"

struct kxp_session;

// The largest message: the 11-bit length field's top value.
inline constexpr std::size_t KXP_MAX_MESSAGE = 2047;
// The transport's own failure codes; callers test them for nonzero only.
inline constexpr int KXP_TRANSPORT_SEND_FAILED = 4;
inline constexpr int KXP_TRANSPORT_RECEIVE_FAILED = 5;
// How long the exchange waits for the reply to a request before the idle
// hook reports a time-out.
inline constexpr std::uint64_t KXP_REPLY_TIMEOUT_MS = 5000;

// Smallest and largest carrier frame sizes the transport can work with: a
// long first frame needs room for its two header bytes and one data byte.
inline constexpr std::uint32_t KXP_MIN_FRAME_SIZE = 3;
inline constexpr std::uint32_t KXP_MAX_FRAME_SIZE = 255;

// Milliseconds on the clock of the run the link belongs to.
using kxp_clock = std::function<std::uint64_t()>;

struct kxp_transport_driver {
    std::array<std::uint8_t, KXP_MAX_FRAME_SIZE> frame_out_tmp_buffer{};
    // The message being reassembled; a received message points into it and
    // stays valid until the next receive.
    std::array<std::uint8_t, KXP_MAX_MESSAGE> message_in_buffer{};
    link_send_op send_frame = nullptr;
    link_receive_op receive_frame = nullptr;
    std::uint32_t kx_frame_size = 0;
    void* device = nullptr;
    // Time source of the reply wait, and when the last message went out.
    kxp_clock now_ms;
    std::uint64_t sent_at_ms = 0;
};

// Binds the carrier. 0; 1 when its frame size is outside what the frame
// formats allow or the driver has no clock (the driver then stays unbound).
int kxp_transport_init(kxp_transport_driver& driver, const kxp_link& carrier);
void kxp_transport_release(kxp_transport_driver& driver);
// Installs the transport as the session's message operations and sets the
// session's maximum message size. 0.
int kxp_transport_attach(kxp_transport_driver& driver, kxp_session& session);

// 0 when every frame of the message was handed to the carrier; 4 otherwise
// (also for an empty or over-long message, before anything is sent).
int kxp_transport_send(void* driver, std::span<const std::uint8_t> message);
// 0 with a whole message in `message` (empty when nothing was pending); 5
// when the carrier failed or the frames do not form a message.
int kxp_transport_receive(void* driver, std::span<const std::uint8_t>& message);
// 110 once the reply wait has run for KXP_REPLY_TIMEOUT_MS since the last
// message was sent, else 0. Never sleeps.
int kxp_transport_idle(void* driver);
