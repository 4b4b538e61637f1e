// A carrier for link tests: records every frame the transport sends and
// answers receives from a queue of frames, on a virtual clock that moves one
// millisecond per "nothing pending" answer so that reply waits end.
#pragma once

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <span>
#include <vector>

#include "kxp/kxp_transport.h"
#include "kxp/usb_link.h"

namespace kxp_test {

using bytes = std::vector<std::uint8_t>;

inline std::uint64_t fake_now = 0;
inline std::uint64_t fake_clock() { return fake_now; }

struct FakeCarrier {
    std::uint32_t frame_size = KX_FRAME_SIZE;
    std::vector<bytes> sent;
    // Frames to hand out in order; an empty entry is "nothing pending", a
    // `failure` entry a failed transfer. When the queue is empty the
    // carrier answers "nothing pending" and time moves on.
    std::deque<bytes> incoming;
    bool fail_receive = false;
    int fail_send_at = -1;  // index of the frame whose write fails
    bytes current;

    static inline const bytes failure{0xEE, 0xEE, 0xEE};

    kxp_link record() {
        return kxp_link{send, receive, frame_size, this};
    }

    static bool send(void* self_arg, std::span<const std::uint8_t> frame) {
        auto& self = *static_cast<FakeCarrier*>(self_arg);
        if (static_cast<int>(self.sent.size()) == self.fail_send_at) return false;
        self.sent.emplace_back(frame.begin(), frame.end());
        return true;
    }

    static bool receive(void* self_arg, std::span<const std::uint8_t>& frame) {
        auto& self = *static_cast<FakeCarrier*>(self_arg);
        if (self.fail_receive) return false;
        if (self.incoming.empty()) {
            ++fake_now;
            frame = {};
            return true;
        }
        self.current = std::move(self.incoming.front());
        self.incoming.pop_front();
        if (self.current == failure) return false;
        if (self.current.empty()) ++fake_now;
        frame = self.current;
        return true;
    }

    // Queues `message` as it would arrive in short 255-byte frames (the
    // message must be at most 127 bytes).
    void queue_short(const bytes& message) {
        bytes frame(frame_size, 0);
        frame[0] = static_cast<std::uint8_t>(message.size());
        std::copy(message.begin(), message.end(), frame.begin() + 1);
        incoming.push_back(frame);
    }
};

// A transport bound to a fake carrier, on the fake clock.
inline void bind(kxp_transport_driver& driver, FakeCarrier& carrier) {
    driver.now_ms = fake_clock;
    kxp_transport_init(driver, carrier.record());
}

inline bytes sequence_bytes(std::size_t length, std::uint8_t seed = 1) {
    bytes out(length);
    for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<std::uint8_t>(seed + i * 7);
    return out;
}

}  // namespace kxp_test
