// The six commands of the device's native command set.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "native/cmd_channel.h"
#include "report/outcome.h"

inline constexpr std::uint8_t CMD_IDENTIFY = 0;
inline constexpr std::uint8_t CMD_PREPARE = 1;
inline constexpr std::uint8_t CMD_IMAGE_DATA = 2;
inline constexpr std::uint8_t CMD_FLASH = 3;
inline constexpr std::uint8_t CMD_RESTART = 4;
inline constexpr std::uint8_t CMD_READ_INFO = 5;

inline constexpr std::uint32_t IDENTIFY_MAGIC = 0x5A3C96E1;

// What the transfer and the flash tell their caller as they go; either may
// be empty.
struct cmd_progress {
    // After each piece of the image: bytes sent so far, of all.
    std::function<void(std::uint64_t done, std::uint64_t total)> sent;
    // Each time the device answers that it is still flashing.
    std::function<void()> busy;
};

inline constexpr std::size_t CMD_TEXT_SIZE = 256;
inline constexpr std::size_t CMD_INFO_TEXT_SIZE = 65536;

// Each command succeeds, or fails with failure::communication (a request or
// reply failed or made no sense, or the device stayed busy past its bound);
// identify also with failure::device_status and the device's status byte.
// The flash's own status is data: it is handed back in `status`.

outcome cmd_identify(cmd_channel& channel, int& status, std::span<char, CMD_TEXT_SIZE> text);
outcome cmd_prepare(cmd_channel& channel);
outcome cmd_restart(cmd_channel& channel);
outcome cmd_send_image(cmd_channel& channel, std::span<const std::uint8_t> image, const cmd_progress& progress = {});
outcome cmd_flash(cmd_channel& channel, std::int32_t image_length, int& status,
              std::span<char, CMD_TEXT_SIZE> status_text, const cmd_progress& progress = {});
outcome cmd_upgrade(cmd_channel& channel, std::span<const std::uint8_t> image,
                std::span<char, CMD_TEXT_SIZE> status_text, int& status, const cmd_progress& progress = {});
outcome cmd_read_info(cmd_channel& channel, std::span<char, CMD_INFO_TEXT_SIZE> text);
