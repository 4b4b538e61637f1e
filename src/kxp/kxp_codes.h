// Result codes of the link session and the command codes of its messages.
#pragma once

#include <cstdint>

// The session's own result codes; 0 is success. The commands give the
// failures of the link as communication outcomes with these codes, and a
// device's status byte (1 to 255) as a device_status outcome, so a number may
// be both (5 from the device is not a failed send).
inline constexpr int KXP_OK = 0;
inline constexpr int KXP_ERR_IO = 5;           // the request could not be sent
inline constexpr int KXP_AGAIN = 11;           // no reply yet; as a status byte: still programming
inline constexpr int KXP_ERR_TOO_LONG = 22;    // image data beyond the message size
inline constexpr int KXP_TIMED_OUT = 110;      // no reply within the reply wait
inline constexpr int KXP_ERR_BAD_INFO = 0x1001;   // client information unusable
inline constexpr int KXP_ERR_BAD_REPLY = 0x1002;  // no usable reply
inline constexpr int KXP_ERR_HELLO = 0x2001;      // open: the hello failed
inline constexpr int KXP_ERR_LINK = 0x2002;       // open: the link is unavailable

// Request command codes (byte 0 of a request, byte 2 of its reply).
inline constexpr std::uint8_t KXP_CMD_HELLO = 0xE0;
inline constexpr std::uint8_t KXP_CMD_PREPARE_UPGRADE = 0xE4;
inline constexpr std::uint8_t KXP_CMD_PROGRAM_IMAGE = 0xE5;
inline constexpr std::uint8_t KXP_CMD_IMAGE_DATA = 0xE6;
inline constexpr std::uint8_t KXP_CMD_RESTART = 0xE7;
inline constexpr std::uint8_t KXP_CMD_DISCONNECT = 0xE8;
inline constexpr std::uint8_t KXP_CMD_GET_SYSERROR = 0xE9;

// Reply markers (byte 0 of a reply); hello and system-error decoding accept
// only KXP_REPLY.
inline constexpr std::uint8_t KXP_REPLY = 0xF1;
inline constexpr std::uint8_t KXP_REPLY_ALT = 0xF0;
