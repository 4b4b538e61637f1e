// The six commands of the device's native command set.
#pragma once

#include <cstdint>
#include <span>

#include "native/cmd_channel.h"

inline constexpr std::uint8_t CMD_IDENTIFY = 0;
inline constexpr std::uint8_t CMD_PREPARE = 1;
inline constexpr std::uint8_t CMD_IMAGE_DATA = 2;
inline constexpr std::uint8_t CMD_FLASH = 3;
inline constexpr std::uint8_t CMD_RESTART = 4;
inline constexpr std::uint8_t CMD_READ_INFO = 5;

inline constexpr std::uint32_t IDENTIFY_MAGIC = 0x5A3C96E1;

inline constexpr unsigned PROGRESS_TRANSFER_BEGIN = 0;
inline constexpr unsigned PROGRESS_TRANSFER_STEP = 1;
inline constexpr unsigned PROGRESS_TRANSFER_END = 2;
inline constexpr unsigned PROGRESS_FLASH_BEGIN = 3;
inline constexpr unsigned PROGRESS_FLASH_STEP = 4;
inline constexpr unsigned PROGRESS_FLASH_END = 5;

using progress_fn = void (*)(unsigned event, int value);

inline constexpr std::size_t CMD_TEXT_SIZE = 256;
inline constexpr std::size_t CMD_INFO_TEXT_SIZE = 65536;

int cmd_identify(cmd_channel& channel, int& status, std::span<char, CMD_TEXT_SIZE> text);
int cmd_prepare(cmd_channel& channel);
int cmd_restart(cmd_channel& channel);
int cmd_send_image(cmd_channel& channel, std::span<const std::uint8_t> image, progress_fn progress);
int cmd_flash(cmd_channel& channel, std::int32_t image_length, int& status,
              std::span<char, CMD_TEXT_SIZE> status_text, progress_fn progress);
int cmd_upgrade(cmd_channel& channel, std::span<const std::uint8_t> image,
                std::span<char, CMD_TEXT_SIZE> status_text, int& status, progress_fn progress);
int cmd_read_info(cmd_channel& channel, std::span<char, CMD_INFO_TEXT_SIZE> text);
