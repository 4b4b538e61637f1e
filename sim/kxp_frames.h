// Link framing on the device side: a message split into 255-byte frames, and
// frames joined into a message one at a time as the host sends them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim {

inline constexpr std::size_t KXP_FRAME = 255;
inline constexpr std::size_t KXP_LARGEST_MESSAGE = 2047;

using Frame = std::vector<std::uint8_t>;

// The frames of a message of 1 to 2047 bytes; nothing for other lengths.
std::vector<Frame> kxp_split_message(std::span<const std::uint8_t> message);

class KxpReassembler {
public:
    enum class Outcome { more, message, refused };

    // Takes the next frame. `message` holds the whole message once the
    // outcome is `message`; `refused` drops the partial message and names
    // the reason in `why`.
    Outcome take(std::span<const std::uint8_t> frame);
    const std::vector<std::uint8_t>& message() const { return message_; }
    const std::string& why() const { return why_; }

private:
    Outcome refuse(std::string why);

    std::vector<std::uint8_t> message_;
    std::size_t expected_length_ = 0;
    std::uint8_t next_sequence_ = 1;
    bool in_message_ = false;
    std::string why_;
};

}  // namespace sim
