#include "sim/kxp_frames.h"

#include <algorithm>

namespace sim {

std::vector<Frame> kxp_split_message(std::span<const std::uint8_t> message) {
    std::vector<Frame> frames;
    const std::size_t length = message.size();
    if (length == 0 || length > KXP_LARGEST_MESSAGE) return frames;
    Frame first(KXP_FRAME, 0);
    std::size_t taken;
    if (length <= 127) {
        first[0] = static_cast<std::uint8_t>(length);
        taken = length;
        std::copy_n(message.begin(), taken, first.begin() + 1);
    } else {
        first[0] = static_cast<std::uint8_t>(0x80 | (length >> 8));
        first[1] = static_cast<std::uint8_t>(length);
        taken = std::min<std::size_t>(length, KXP_FRAME - 2);
        std::copy_n(message.begin(), taken, first.begin() + 2);
    }
    frames.push_back(std::move(first));
    for (std::uint8_t sequence = 1; taken < length; sequence = (sequence + 1) & 0x1F) {
        Frame next(KXP_FRAME, 0);
        const std::size_t chunk = std::min(length - taken, KXP_FRAME - 1);
        next[0] = static_cast<std::uint8_t>(0xC0 | sequence);
        std::copy_n(message.begin() + static_cast<std::ptrdiff_t>(taken), chunk, next.begin() + 1);
        frames.push_back(std::move(next));
        taken += chunk;
    }
    return frames;
}

KxpReassembler::Outcome KxpReassembler::refuse(std::string why) {
    in_message_ = false;
    message_.clear();
    why_ = std::move(why);
    return Outcome::refused;
}

KxpReassembler::Outcome KxpReassembler::take(std::span<const std::uint8_t> frame) {
    if (frame.size() != KXP_FRAME) return refuse("frame of " + std::to_string(frame.size()) + " bytes");
    const std::uint8_t head = frame[0];
    if (!in_message_) {
        message_.clear();
        std::size_t offset;
        if ((head & 0x80) == 0) {
            expected_length_ = head;
            offset = 1;
        } else if ((head & 0xC0) == 0x80) {
            expected_length_ = (static_cast<std::size_t>(head & 0x07) << 8) | frame[1];
            offset = 2;
        } else {
            return refuse("continuation frame where a first frame is due");
        }
        if (expected_length_ == 0) return refuse("empty message");
        const std::size_t chunk = std::min(expected_length_, KXP_FRAME - offset);
        message_.assign(frame.begin() + static_cast<std::ptrdiff_t>(offset),
                        frame.begin() + static_cast<std::ptrdiff_t>(offset + chunk));
        next_sequence_ = 1;
    } else {
        if ((head & 0xE0) != 0xC0) return refuse("first frame inside a message");
        if ((head & 0x1F) != next_sequence_) return refuse("sequence number out of order");
        const std::size_t chunk = std::min(expected_length_ - message_.size(), KXP_FRAME - 1);
        message_.insert(message_.end(), frame.begin() + 1, frame.begin() + 1 + static_cast<std::ptrdiff_t>(chunk));
        next_sequence_ = (next_sequence_ + 1) & 0x1F;
    }
    in_message_ = message_.size() < expected_length_;
    return in_message_ ? Outcome::more : Outcome::message;
}

}  // namespace sim
