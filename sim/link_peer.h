// The device end of the link protocol carried in the vendor HID feature
// report 0xFF. A report whose byte 1 is the link marker 0x80 carries one
// 255-byte frame to the peer; a get-feature after link traffic returns the
// body the peer produces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace sim {

inline constexpr std::uint8_t LINK_MARKER = 0x80;
inline constexpr std::size_t LINK_FRAME_SIZE = 255;
// Report body after the report ID: link status byte, then the frame.
inline constexpr std::size_t LINK_REPORT_BODY = 1 + LINK_FRAME_SIZE;

class LinkPeer {
public:
    virtual ~LinkPeer() = default;
    // One frame the host sent (LINK_FRAME_SIZE bytes). False: the device
    // refuses the report (the transfer stalls).
    virtual bool receive_frame(std::uint64_t now_ms, std::span<const std::uint8_t> frame) = 0;
    // Fills the body of the next get-feature report (LINK_REPORT_BODY
    // bytes, zeroed by the caller): byte 0 the link status (0x80 a frame
    // follows, 0xEE an error, anything else nothing pending), then the frame.
    // False: the device refuses the get.
    virtual bool next_report(std::uint64_t now_ms, std::span<std::uint8_t> body) = 0;
};

}  // namespace sim
